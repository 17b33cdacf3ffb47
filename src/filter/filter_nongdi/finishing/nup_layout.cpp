#include "filter/filter_nongdi/finishing/nup_layout.h"

#include <algorithm>

#include "filter/framework/classic_format.h"

namespace {

// A length of a page record (1/600 inch) in XPS units.
float ToXps(std::int32_t value) noexcept { return static_cast<float>(value) * 96.0f / 600.0f; }

constexpr double kLineThickness = 0.32;
constexpr double kHalfLine = 0.16;
constexpr double kDot = 16.285714285714285;  // 114/7

} // namespace

bool IsRotatedSheet(bool jobPortrait, std::int32_t n) noexcept
{
    if (jobPortrait)
        return n == 2 || n == 6 || n == 8;
    return n == 4 || n == 9 || n == 16;
}

GridSize NUpGrid(std::int32_t n, bool rotated) noexcept
{
    switch (n) {
    case 2: return rotated ? GridSize{2, 1} : GridSize{1, 2};
    case 4: return {2, 2};
    case 6: return rotated ? GridSize{3, 2} : GridSize{2, 3};
    case 8: return rotated ? GridSize{4, 2} : GridSize{2, 4};
    case 9: return {3, 3};
    case 16: return {4, 4};
    default: return {1, 1};
    }
}

std::uint32_t PresentationOrder(std::int32_t direction, std::uint32_t r, std::uint32_t c, std::uint32_t columns,
                                std::uint32_t rows) noexcept
{
    switch (direction) {
    case 1: return r + c * rows;
    case 2: return (r + 1) * columns - c - 1;
    case 3: return r + (columns - c - 1) * rows;
    default: return r * columns + c;
    }
}

NUpLayout MakeNUpLayout(const JobRecord& job)
{
    NUpLayout layout;
    const std::int32_t n = job.layoutDetail[0];
    layout.jobPortrait = job.firstPagePortrait == 1;
    layout.rotatedSheet = IsRotatedSheet(layout.jobPortrait, n);
    const std::int32_t direction = layout.jobPortrait ? job.layoutDetail[2] : job.layoutDetail[1];
    layout.direction = direction >= 0 && direction <= 3 ? direction : 0;
    const GridSize grid = NUpGrid(n, layout.rotatedSheet);
    layout.columns = grid.columns;
    layout.rows = grid.rows;
    // Without a grid of its own, N would put several pages into the one cell.
    layout.pagesPerSheet = grid.columns * grid.rows == 1 ? 1 : static_cast<std::uint32_t>(n);
    layout.borderStyle = job.layoutDetail[3] >= 0 && job.layoutDetail[3] <= 5 ? job.layoutDetail[3] : 1;
    layout.order.assign(std::size_t{grid.columns} * grid.rows, 0);
    for (std::uint32_t r = 0; r < grid.rows; ++r)
        for (std::uint32_t c = 0; c < grid.columns; ++c)
            layout.order[r * grid.columns + c] = PresentationOrder(layout.direction, r, c, grid.columns, grid.rows);
    return layout;
}

NUpPageGeometry PageGeometryOf(const PageRecord& record) noexcept
{
    NUpPageGeometry g{};
    g.marginX = ToXps(record.sheetMarginX);
    g.marginY = ToXps(record.sheetMarginY);
    g.printableWidth = ToXps(record.sheetWidth) - 2 * g.marginX;
    g.printableHeight = ToXps(record.sheetHeight) - 2 * g.marginY;
    g.pagePortrait = record.pagePortrait == 1;
    g.contentWidth = ToXps(g.pagePortrait ? record.pageWidth : record.pageHeight);
    g.contentHeight = ToXps(g.pagePortrait ? record.pageHeight : record.pageWidth);
    return g;
}

std::string NUpSheetHeader(const NUpLayout& layout, const NUpPageGeometry& s)
{
    const float mx = s.marginX, my = s.marginY, pw = s.printableWidth, ph = s.printableHeight;
    const float width = layout.rotatedSheet ? 2 * my + ph : 2 * mx + pw;
    const float height = layout.rotatedSheet ? 2 * mx + pw : 2 * my + ph;
    const float x = layout.rotatedSheet ? my : mx;
    const float y = layout.rotatedSheet ? mx : my;
    return FormatClassic("<FixedPage Width=\"%.2f\" Height=\"%.2f\" xml:lang=\"und\" "
                         "xmlns=\"http://schemas.microsoft.com/xps/2005/06\">"
                         "<Canvas RenderTransform=\"1,0,0,1,%.2f,%.2f\">",
                         width, height, x, y);
}

int NUpQuarterTurn(bool jobPortrait, bool pagePortrait, std::int32_t direction) noexcept
{
    if (jobPortrait == pagePortrait)
        return 0;
    const bool downFirst = direction == 0 || direction == 1;
    if (jobPortrait)
        return downFirst ? 3 : 1;  // a landscape page in a portrait job
    return downFirst ? 1 : 3;
}

CellTransform NUpCellTransform(const NUpLayout& layout, const NUpPageGeometry& page)
{
    const float cw = layout.usableWidth / static_cast<float>(layout.columns);
    const float ch = layout.usableHeight / static_cast<float>(layout.rows);
    const int q = NUpQuarterTurn(layout.jobPortrait, page.pagePortrait, layout.direction);
    const float w = page.contentWidth, h = page.contentHeight;
    const float pw = w - 2 * page.marginX;  // the page's printable size
    const float ph = h - 2 * page.marginY;
    const float s = q == 0 ? std::min(cw / pw, ch / ph) : std::min(cw / ph, ch / pw);

    CellTransform t{};
    switch (q) {
    case 1: t = {0, s, -s, 0, 0, 0}; break;
    case 3: t = {0, -s, s, 0, 0, 0}; break;
    default: t = {s, 0, 0, s, 0, 0}; break;
    }
    // Where the matrix takes the page's centre, and where that centre must go.
    const float cx = (w / 2) * t.m11 - (h / 2) * t.m12;
    const float cy = (h / 2) * t.m22 - (w / 2) * t.m21;
    float tx = 0, ty = 0;
    switch (q) {
    case 1: tx = cw - s * ph / 2; ty = s * pw / 2; break;  // printable top-left on the cell's top-right
    case 3: tx = s * ph / 2; ty = ch - s * pw / 2; break;  // printable top-left on the cell's bottom-left
    default: tx = s * pw / 2; ty = s * ph / 2; break;      // printable top-left on the cell's top-left
    }
    const auto cell = std::find(layout.order.begin(), layout.order.end(), layout.sequence);
    if (cell != layout.order.end()) {
        const auto index = static_cast<std::uint32_t>(cell - layout.order.begin());
        tx += static_cast<float>(index % layout.columns) * cw;
        ty += static_cast<float>(index / layout.columns) * ch;
    }
    t.dx = tx - cx;
    t.dy = ty - cy;
    return t;
}

std::string NUpCellStartTag(const CellTransform& t, const NUpPageGeometry& page, std::string_view namespaces)
{
    const float mx = page.marginX, my = page.marginY;
    const float right = page.contentWidth - mx, bottom = page.contentHeight - my;
    std::string tag = FormatClassic("<Canvas RenderTransform=\"%.6f,%.6f,%.6f,%.6f,%.6f,%.6f\" "
                                    "Clip=\"M%.6f,%.6fL%.6f,%.6fL%.6f,%.6fL%.6f,%.6fZ\" ",
                                    t.m11, t.m12, t.m21, t.m22, t.dx, t.dy, mx, my, right, my, right, bottom, mx,
                                    bottom);
    tag.append(namespaces);
    tag += '>';
    return tag;
}

std::string NUpBorderLines(const NUpLayout& layout, float printableWidth, float printableHeight)
{
    const std::int32_t style = layout.borderStyle;
    if (style == 0)
        return {};
    const double bw = static_cast<double>(layout.rotatedSheet ? printableHeight : printableWidth) - kLineThickness;
    const double bh = static_cast<double>(layout.rotatedSheet ? printableWidth : printableHeight) - kLineThickness;

    std::string pattern;
    switch (style) {
    case 2: pattern = FormatClassic("%.2f %.2f\" ", 52.0, 32.0); break;
    case 3: pattern = FormatClassic("%.2f %.2f\" ", kDot, 32.0); break;
    case 4: pattern = FormatClassic("%.2f %.2f %.2f %.2f\" ", kDot, 32.0, 52.0, 32.0); break;
    case 5: pattern = FormatClassic("%.2f %.2f %.2f %.2f %.2f %.2f\" ", 52.0, 32.0, kDot, 32.0, kDot, 32.0); break;
    default: break;  // Solid
    }
    std::string out;
    auto line = [&](double x1, double y1, double x2, double y2, bool vertical) {
        out += FormatClassic("<Path StrokeStartLineCap=\"Square\" StrokeEndLineCap=\"Square\" Stroke=\"#000000\" "
                             "StrokeThickness=\"%.2f\" Data=\"M%.2f,%.2fL%.2f,%.2f\" ",
                             kLineThickness, x1, y1, x2, y2);
        if (!pattern.empty()) {
            out += "StrokeDashArray=\"";
            out += pattern;
            if (vertical)
                out += FormatClassic("StrokeDashOffset=\"%d\"", 80);
        }
        out += "/>";
    };
    const std::uint32_t ncol = layout.columns, nrow = layout.rows;
    for (std::uint32_t i = 0; i <= ncol; ++i) {
        const double x = i * bw / ncol + kHalfLine;
        line(x, kHalfLine, x, bh + kHalfLine, true);
    }
    for (std::uint32_t i = 0; i <= nrow; ++i) {
        const double y = i * bh / nrow + kHalfLine;
        line(kHalfLine, y, bw + kHalfLine, y, false);
    }
    return out;
}
