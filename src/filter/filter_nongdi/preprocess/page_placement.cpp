#include "filter/filter_nongdi/preprocess/page_placement.h"

#include <algorithm>
#include <cmath>

#include "filter/framework/classic_format.h"

namespace {

double Xps(std::int32_t length) noexcept { return length * 96.0 / 600.0; }

} // namespace

FitScale ComputeFitScale(double a, double b, double c, double d) noexcept
{
    const bool rotated = (b > a) != (d > c);
    const double sx = rotated ? c / b : c / a;
    const double sy = rotated ? d / a : d / b;
    const double scale = std::trunc(std::min(sx, sy) * 1000000.0) / 1000000.0;
    return FitScale{scale, rotated};
}

std::int32_t PageBindingEdge(const JobRecord& job, const PageRecord& page) noexcept
{
    static constexpr std::int32_t kTurned[5] = {0, 2, 3, 4, 1};
    static constexpr std::int32_t kMirrored[5] = {0, 3, 4, 1, 2};
    std::int32_t edge = job.bindingEdge;
    if (edge < 1 || edge > 4)
        return edge;
    const bool portrait = page.pagePortrait == 1;
    if (!portrait)
        edge = kTurned[edge];
    if (job.duplex && page.pageNumber % 2 == 0)
        edge = kMirrored[edge];
    if ((portrait && page.portraitReversed) || (!portrait && page.landscapeReversed))
        edge = kMirrored[edge];
    return edge;
}

PlacementMarkup BuildPlacement(const JobRecord& job, const PageRecord& page, double height, double width)
{
    const bool portrait = page.pagePortrait == 1;
    const double pw = Xps(portrait ? page.pageWidth : page.pageHeight);
    const double ph = Xps(portrait ? page.pageHeight : page.pageWidth);
    const double mx = Xps(portrait ? page.pageMarginX : page.pageMarginY);
    const double my = Xps(portrait ? page.pageMarginY : page.pageMarginX);
    const double sw = Xps(portrait ? page.sheetWidth : page.sheetHeight);
    const double sh = Xps(portrait ? page.sheetHeight : page.sheetWidth);
    const double sx = Xps(portrait ? page.sheetMarginX : page.sheetMarginY);
    const double sy = Xps(portrait ? page.sheetMarginY : page.sheetMarginX);

    PlacementMarkup out;
    if (page.fitToPage == 1 && job.layoutMode == 0) {
        const double a = pw - 2 * mx;
        const double b = ph - 2 * my;
        double c = sw - 2 * sx;
        double d = sh - 2 * sy;
        FitScale fit = ComputeFitScale(a, b, c, d);
        std::int32_t edge = 0;
        double gutter = 0;
        if (job.bindingEdge != 0) {
            static constexpr std::int32_t kRemapped[5] = {0, 4, 1, 2, 3};
            edge = PageBindingEdge(job, page);
            if (fit.rotated && edge >= 1 && edge <= 4)
                edge = kRemapped[edge];
            gutter = job.gutterMillimetres * 96.0 / 25.4;
            if (edge == 1 || edge == 3)
                c -= gutter;
            else if (edge == 2 || edge == 4)
                d -= gutter;
            fit = ComputeFitScale(a, b, c, d);
        }
        if (fit.scale != 1.0) {
            const double e = fit.scale;
            const double cw = fit.rotated ? ph : pw;
            const double ch = fit.rotated ? pw : ph;
            double x;
            double y;
            switch (edge) {
            case 1:
                x = (1 - e) * sx + gutter;
                y = (sh - ch * e) / 2;
                break;
            case 3:
                x = (1 - e) * sx;
                y = (sh - ch * e) / 2;
                break;
            case 2:
                x = (sw - cw * e) / 2;
                y = (1 - e) * sy + gutter;
                break;
            case 4:
                x = (sw - cw * e) / 2;
                y = (1 - e) * sy;
                break;
            default:
                x = (1 - e) * sx;
                y = (1 - e) * sy;
                break;
            }
            out.markup += FormatClassic("<Canvas RenderTransform=\"%f,0,0,%f,%f,%f\"", e, e, x, y);
            if (edge >= 1 && edge <= 4)
                out.markup += FormatClassic(" Clip=\"M%f,%fL%f,%fL%f,%fL%f,%fZ\">", 0.0, 0.0, cw, 0.0, cw, ch, 0.0, ch);
            else
                out.markup += ">";
            ++out.counted;
            if (fit.rotated) {
                out.markup += FormatClassic("<Canvas RenderTransform=\"0,-1,1,0,0,%f\">", pw);
                ++out.counted;
            }
        }
    }

    const double s = static_cast<double>(static_cast<std::uint32_t>(page.scalingPercent)) / 100.0;
    if (s != 1.0) {
        out.markup += FormatClassic("<Canvas RenderTransform=\"%f,0,0,%f,%f,%f\">", s, s, (1 - s) * 0.5 * pw, (1 - s) * my);
        ++out.counted;
    }
    out.markup += FormatClassic("<Canvas Clip=\"M0,0L%f,0L%f,%fL0,%fZ\">", width, width, height, height);
    return out;
}
