// The N-up geometry and the raw page copy: grids, cell order, quarter turns,
// cell transforms, border lines; namespace declarations, the start-tag
// window and the refusal of pages that are not as the preprocess filter
// writes them.
#include <gtest/gtest.h>

#include "fake_pipeline.h"
#include "record_fixtures.h"
#include "filter/filter_nongdi/finishing/nup_layout.h"
#include "filter/filter_nongdi/finishing/page_copy.h"

namespace {

JobRecord NUpJob(std::int32_t n, bool portrait, std::int32_t direction, std::int32_t border = 1)
{
    JobRecord j{};
    j.firstPagePortrait = portrait ? 1 : 0;
    j.layoutMode = 2;
    j.layoutDetail[0] = n;
    j.layoutDetail[1] = portrait ? 1 : direction;
    j.layoutDetail[2] = portrait ? direction : 0;
    j.layoutDetail[3] = border;
    return j;
}

using Order = std::vector<std::uint32_t>;

TEST(NUpLayout, GridAndOrderFollowTheJobOrientationAndDirection)
{
    struct Case {
        std::int32_t n;
        bool portrait;
        std::int32_t direction;
        bool rotated;
        std::uint32_t columns, rows, perSheet;
        Order order;  // row by row
    };
    const Case cases[] = {
        {2, true, 0, true, 2, 1, 2, {0, 1}},                  // RightBottom: left, then right
        {2, true, 2, true, 2, 1, 2, {1, 0}},                  // LeftBottom: right, then left
        {2, false, 0, false, 1, 2, 2, {0, 1}},                // landscape job: one above the other
        {4, true, 0, false, 2, 2, 4, {0, 1, 2, 3}},
        {4, true, 1, false, 2, 2, 4, {0, 2, 1, 3}},           // BottomRight: down, then right
        {4, true, 3, false, 2, 2, 4, {2, 0, 3, 1}},           // BottomLeft: down the rightmost column first
        {4, false, 0, true, 2, 2, 4, {0, 1, 2, 3}},
        {6, true, 1, true, 3, 2, 6, {0, 2, 4, 1, 3, 5}},      // pages 1 and 2 in the left column
        {6, false, 0, false, 2, 3, 6, {0, 1, 2, 3, 4, 5}},
        {8, true, 2, true, 4, 2, 8, {3, 2, 1, 0, 7, 6, 5, 4}},
        {9, true, 3, false, 3, 3, 9, {6, 3, 0, 7, 4, 1, 8, 5, 2}},
        {9, false, 0, true, 3, 3, 9, {0, 1, 2, 3, 4, 5, 6, 7, 8}},
        {16, true, 0, false, 4, 4, 16, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}},
        // N without a grid: one page per sheet, never several in one cell.
        {3, true, 0, false, 1, 1, 1, {0}},
        {0, true, 0, false, 1, 1, 1, {0}},
        {-4, false, 0, false, 1, 1, 1, {0}},
        // A direction index out of range reads as RightBottom.
        {4, true, 7, false, 2, 2, 4, {0, 1, 2, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.n << "-up, portrait " << c.portrait << ", direction " << c.direction);
        const NUpLayout layout = MakeNUpLayout(NUpJob(c.n, c.portrait, c.direction));
        EXPECT_EQ(layout.rotatedSheet, c.rotated);
        EXPECT_EQ(layout.columns, c.columns);
        EXPECT_EQ(layout.rows, c.rows);
        EXPECT_EQ(layout.pagesPerSheet, c.perSheet);
        EXPECT_EQ(layout.order, c.order);
    }
}

TEST(NUpLayout, DirectionIsTakenForTheJobsOrientation)
{
    JobRecord job = NUpJob(4, true, 0);
    job.layoutDetail[1] = 3;  // for landscape jobs
    job.layoutDetail[2] = 2;  // for portrait jobs
    EXPECT_EQ(MakeNUpLayout(job).direction, 2);
    job.firstPagePortrait = 0;
    EXPECT_EQ(MakeNUpLayout(job).direction, 3);
}

TEST(NUpLayout, QuarterTurnWhenPageAndJobOrientationsDiffer)
{
    struct Case {
        bool jobPortrait, pagePortrait;
        int byDirection[4];
    };
    const Case cases[] = {
        {true, true, {0, 0, 0, 0}},
        {true, false, {3, 3, 1, 1}},
        {false, false, {0, 0, 0, 0}},
        {false, true, {1, 1, 3, 3}},
    };
    for (const Case& c : cases)
        for (int d = 0; d < 4; ++d)
            EXPECT_EQ(NUpQuarterTurn(c.jobPortrait, c.pagePortrait, d), c.byDirection[d])
                << "job portrait " << c.jobPortrait << ", page portrait " << c.pagePortrait << ", direction " << d;
}

// Where a page's printable area lands: its top-left corner on the cell corner
// the turn names, the whole area inside the cell, filling it one way.
TEST(NUpLayout, CellTransformPutsThePrintableAreaIntoItsCell)
{
    enum Corner { TopLeft, TopRight, BottomLeft };
    struct Case {
        const char* what;
        JobRecord job;
        PageRecord page;
        std::uint32_t sequence;
        float cellLeft, cellTop;  // of the expected cell, in the margin canvas
        Corner corner;            // where the page's own top-left corner goes
    };
    const Case cases[] = {
        {"4-up, last cell", NUpJob(4, true, 0), A4Record(), 3, 380.8f, 545.12f, TopLeft},
        {"4-up BottomRight, second page below the first", NUpJob(4, true, 1), A4Record(), 1, 0, 545.12f, TopLeft},
        {"2-up, landscape page turned counter-clockwise", NUpJob(2, true, 0), A4Record(false), 1, 545.12f, 0, BottomLeft},
        {"2-up LeftBottom, landscape page turned clockwise", NUpJob(2, true, 2), A4Record(false), 0, 545.12f, 0, TopRight},
        {"2-up LeftBottom, portrait page in the right cell", NUpJob(2, true, 2), A4Record(), 0, 545.12f, 0, TopLeft},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        NUpLayout layout = MakeNUpLayout(c.job);
        const NUpPageGeometry g = PageGeometryOf(c.page);
        layout.usableWidth = layout.rotatedSheet ? g.printableHeight : g.printableWidth;
        layout.usableHeight = layout.rotatedSheet ? g.printableWidth : g.printableHeight;
        layout.sequence = c.sequence;
        const CellTransform t = NUpCellTransform(layout, g);
        const float cw = layout.usableWidth / static_cast<float>(layout.columns);
        const float ch = layout.usableHeight / static_cast<float>(layout.rows);
        auto map = [&t](float x, float y) {
            return std::pair{x * t.m11 + y * t.m21 + t.dx, x * t.m12 + y * t.m22 + t.dy};
        };

        const auto [cornerX, cornerY] = map(g.marginX, g.marginY);
        EXPECT_NEAR(cornerX, c.cellLeft + (c.corner == TopRight ? cw : 0), 0.01f);
        EXPECT_NEAR(cornerY, c.cellTop + (c.corner == BottomLeft ? ch : 0), 0.01f);
        float minX = 1e9f, minY = 1e9f, maxX = -1e9f, maxY = -1e9f;
        for (const float x : {g.marginX, g.contentWidth - g.marginX})
            for (const float y : {g.marginY, g.contentHeight - g.marginY}) {
                const auto [mx, my] = map(x, y);
                minX = std::min(minX, mx), maxX = std::max(maxX, mx);
                minY = std::min(minY, my), maxY = std::max(maxY, my);
            }
        EXPECT_GE(minX, c.cellLeft - 0.01f);
        EXPECT_GE(minY, c.cellTop - 0.01f);
        EXPECT_LE(maxX, c.cellLeft + cw + 0.01f);
        EXPECT_LE(maxY, c.cellTop + ch + 0.01f);
        EXPECT_TRUE(std::abs(maxX - minX - cw) < 0.01f || std::abs(maxY - minY - ch) < 0.01f);
    }
}

TEST(NUpLayout, CellStartTagHasTransformClipAndNamespaces)
{
    NUpLayout layout = MakeNUpLayout(NUpJob(4, true, 0));
    const NUpPageGeometry g = PageGeometryOf(A4Record());
    layout.usableWidth = g.printableWidth;
    layout.usableHeight = g.printableHeight;
    layout.sequence = 3;
    EXPECT_EQ(NUpCellStartTag(NUpCellTransform(layout, g), g, "xmlns:a=\"urn:a\" xmlns:b=\"urn:b\""),
              "<Canvas RenderTransform=\"0.500000,0.000000,0.000000,0.500000,372.799957,537.119995\" "
              "Clip=\"M16.000000,16.000000L777.599976,16.000000L777.599976,1106.239990L16.000000,1106.239990Z\" "
              "xmlns:a=\"urn:a\" xmlns:b=\"urn:b\">");
    EXPECT_EQ(NUpSheetHeader(layout, g), "<FixedPage Width=\"793.60\" Height=\"1122.24\" xml:lang=\"und\" "
                                         "xmlns=\"http://schemas.microsoft.com/xps/2005/06\">"
                                         "<Canvas RenderTransform=\"1,0,0,1,16.00,16.00\">");
    layout = MakeNUpLayout(NUpJob(2, true, 0));  // a landscape sheet on portrait paper
    EXPECT_EQ(NUpSheetHeader(layout, g), "<FixedPage Width=\"1122.24\" Height=\"793.60\" xml:lang=\"und\" "
                                         "xmlns=\"http://schemas.microsoft.com/xps/2005/06\">"
                                         "<Canvas RenderTransform=\"1,0,0,1,16.00,16.00\">");
}

std::size_t Count(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

TEST(NUpLayout, BorderLinesPerStyle)
{
    struct Case {
        std::int32_t style;
        const char* dashes;  // the StrokeDashArray value, or null
    };
    const Case cases[] = {
        {1, nullptr},
        {2, "52.00 32.00"},
        {3, "16.29 32.00"},
        {4, "16.29 32.00 52.00 32.00"},
        {5, "52.00 32.00 16.29 32.00 16.29 32.00"},
        {9, nullptr},  // an unknown style draws solid lines
    };
    const NUpPageGeometry g = PageGeometryOf(A4Record());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.style);
        const NUpLayout layout = MakeNUpLayout(NUpJob(6, true, 0, c.style));  // 3 x 2 on a turned sheet
        const std::string lines = NUpBorderLines(layout, g.printableWidth, g.printableHeight);
        EXPECT_EQ(Count(lines, "<Path "), 4u + 3u);
        if (!c.dashes) {
            EXPECT_EQ(Count(lines, "StrokeDash"), 0u);
            continue;
        }
        EXPECT_EQ(Count(lines, std::string("StrokeDashArray=\"") + c.dashes + "\" "), 7u);
        EXPECT_EQ(Count(lines, "StrokeDashOffset=\"80\"/>"), 4u);  // the vertical lines only
    }
    // Solid lines of a 2 x 2 grid, exactly: the vertical ones first.
    const std::string solid = NUpBorderLines(MakeNUpLayout(NUpJob(4, true, 0)), g.printableWidth, g.printableHeight);
    const std::string start = "<Path StrokeStartLineCap=\"Square\" StrokeEndLineCap=\"Square\" Stroke=\"#000000\" "
                              "StrokeThickness=\"0.32\" Data=\"";
    EXPECT_EQ(solid, start + "M0.16,0.16L0.16,1090.08\" />" + start + "M380.80,0.16L380.80,1090.08\" />" + start +
                         "M761.44,0.16L761.44,1090.08\" />" + start + "M0.16,0.16L761.44,0.16\" />" + start +
                         "M0.16,545.12L761.44,545.12\" />" + start + "M0.16,1090.08L761.44,1090.08\" />");
    EXPECT_EQ(NUpBorderLines(MakeNUpLayout(NUpJob(4, true, 0, 0)), g.printableWidth, g.printableHeight), "");
}

// ---- The raw page copy ----------------------------------------------------------

TEST(PageCopy, NamespaceDeclarationsOfTheStartTag)
{
    struct Case {
        const char* tag;
        const char* declarations;
    };
    const Case cases[] = {
        {"<FixedPage xmlns=\"urn:d\" Width=\"1\" Height=\"2\">", ""},
        {"<FixedPage xmlns=\"urn:d\" xmlns:a=\"urn:a\" Width=\"1\" xmlns:b='urn:b'>", "xmlns:a=\"urn:a\" xmlns:b='urn:b'"},
        {"<FixedPage\n  xmlns:x = \"urn:x y\"\txmlns:y=\"urn:>\">", "xmlns:x=\"urn:x y\" xmlns:y=\"urn:>\""},
        {"<FixedPage xmlns:=\"urn:empty\" xmlnsx:a=\"urn:n\" Name=\"xmlns:c\">", ""},
        {"<FixedPage>", ""},
        {"<FixedPage xmlns:a=\"unterminated>", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CollectNamespaceDeclarations(c.tag), c.declarations) << c.tag;
}

struct MemoryStream final : ComObject<IPrintWriteStream> {
    std::string bytes;
    HRESULT STDMETHODCALLTYPE WriteBytes(const void* data, ULONG size, ULONG* written) override
    {
        bytes.append(static_cast<const char*>(data), size);
        *written = size;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Close() override { return S_OK; }
};

ComPtr<IPrintReadStream> ReadStream(const std::string& text)
{
    return MakeMemoryReadStream(std::make_shared<const Bytes>(text.begin(), text.end()));
}

struct Copied {
    HRESULT hr;
    std::string out;
    std::string startTag;  // as the opening writer saw it
    std::string malformed;
};

Copied CopyBody(const std::string& page, std::size_t window, std::size_t buffer)
{
    ComPtr<MemoryStream> stream = MakeComObject<MemoryStream>();
    Copied c{};
    {
        MarkupBuffer out(stream.Get(), buffer);
        PageBodyCopier copier(window);
        c.hr = copier.Copy(
            ReadStream(page).Get(), out,
            [&](std::string_view tag) {
                c.startTag = tag;
                return out.AppendBytes("<Canvas>");
            },
            "</Canvas>");
        out.Flush();
        c.malformed = copier.Malformed();
    }
    c.out = stream->bytes;
    return c;
}

TEST(PageCopy, BodyIsCopiedWhateverTheWindowAndBufferSizes)
{
    const std::string startTag = "<FixedPage xmlns=\"http://schemas.microsoft.com/xps/2005/06\" xmlns:x=\"urn:x\" "
                                 "Width=\"793.6\" Height=\"1122.24\">";
    std::string body;
    for (int i = 0; i < 200; ++i)
        body += "<Path Data=\"M 0," + std::to_string(i) + " L 10,10\" Fill=\"#FF000000\"/>";
    const std::string page = startTag + body + "</FixedPage>";
    for (const std::size_t window : {std::size_t{1}, std::size_t{7}, startTag.size() - 1, startTag.size(),
                                     std::size_t{4096}, MarkupBuffer::kDefaultSize})
        for (const std::size_t buffer : {std::size_t{1}, std::size_t{3}, std::size_t{64}, MarkupBuffer::kDefaultSize}) {
            SCOPED_TRACE(testing::Message() << "window " << window << ", buffer " << buffer);
            const Copied c = CopyBody(page, window, buffer);
            ASSERT_EQ(c.hr, S_OK) << c.malformed;
            EXPECT_EQ(c.startTag, startTag);
            EXPECT_EQ(c.out, "<Canvas>" + body + "</Canvas>");
        }
}

TEST(PageCopy, PagesNotAsThePreprocessFilterWritesThemAreRefusedBeforeAnythingIsWritten)
{
    struct Case {
        std::string page;
        const char* why;
    };
    const Case cases[] = {
        {"", "too short"},
        {"</FixedPag", "too short"},
        {"</FixedPage>", "no \">\" ends its start tag"},
        {"<FixedPage xmlns=\"urn:d\"</FixedPage>", "no \">\" ends its start tag"},
        {"<FixedPage></FixedPage>\n", "does not end with"},
        {"<FixedPage/>", "does not end with"},
        {"<FixedPage><Path/></Canvas>", "does not end with"},
    };
    for (const Case& c : cases)
        for (const std::size_t window : {std::size_t{2}, MarkupBuffer::kDefaultSize}) {
            SCOPED_TRACE(testing::Message() << "\"" << c.page << "\", window " << window);
            const Copied got = CopyBody(c.page, window, 16);
            EXPECT_EQ(got.hr, HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
            EXPECT_NE(got.malformed.find(c.why), std::string::npos) << got.malformed;
            EXPECT_EQ(got.out, "");
            EXPECT_EQ(got.startTag, "");
        }
    // The smallest page there is.
    const Copied empty = CopyBody("<FixedPage></FixedPage>", 1, 1);
    EXPECT_EQ(empty.hr, S_OK);
    EXPECT_EQ(empty.out, "<Canvas></Canvas>");
}

} // namespace
