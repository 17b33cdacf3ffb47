// The text watermark: the sine table and matrix terms, the placement and
// frames, the template's growth, the outline sink, and golden templates for
// texts laid out with the machine's fonts (pinned for the tests by the
// fontconfig file the build makes). tools/update-golden.sh writes the golden
// templates anew.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "golden_files.h"
#include "filter/filter_nongdi/preprocess/preprocess_settings.h"
#include "filter/filter_nongdi/preprocess/watermark_outlines.h"
#include "filter/framework/classic_format.h"
#include "platform/comptr.h"
#include "platform/dwrite.h"
#include "platform/objbase.h"

namespace {

const std::string kGolden = std::string(ZNTR_SOURCE_DIR) + "/tests/data/watermark/";

template <std::size_t N>
void Put(char16_t (&out)[N], std::u16string_view text)
{
    std::fill(out, out + N, u'\0');
    std::copy_n(text.begin(), std::min(text.size(), N - 1), out);
}

// Enabled, as the ticket reader leaves it: opacity 0.5, margins 236.
WatermarkSettings Settings(std::u16string_view text, std::int16_t size = 72)
{
    WatermarkSettings s;
    s.enabled = 1;
    s.fontSize = size;
    s.colour = 0xC00000;
    s.opacity = 0.5;
    s.marginX = s.marginY = 236;
    s.position = 3;
    Put(s.text, text);
    Put(s.fontName, u"Arial");
    return s;
}

// Portrait ISOA4 in 600-units.
PageRecord A4(bool portrait = true)
{
    PageRecord r{};
    r.pageWidth = 4960;
    r.pageHeight = 7014;
    r.pagePortrait = portrait;
    return r;
}

// ---- Angles ---------------------------------------------------------------------

TEST(WatermarkAngle, SineTableAndItsReductions)
{
    const struct {
        std::int32_t degrees;
        double sine;
        double cosine;
    } cases[] = {
        {0, 0, 1},         {45, 0.7071, 0.7071}, {30, 0.5, 0.866},   {-30, -0.5, 0.866}, {390, 0.5, 0.866},
        {90, 1, 0},        {135, 0.7071, -0.7071}, {180, 0, -1},     {270, -1, 0},       {-270, 1, 0},
        {1, 0.0175, 0.9998}, {-720, 0, 1},
    };
    for (const auto& c : cases) {
        EXPECT_DOUBLE_EQ(WatermarkSine(c.degrees), c.sine) << c.degrees;
        EXPECT_DOUBLE_EQ(WatermarkCosine(c.degrees), c.cosine) << c.degrees;
    }
}

TEST(WatermarkAngle, MatrixTermsPrintTheNegatedZero)
{
    const WatermarkMatrix m = WatermarkMatrixOf(0);
    EXPECT_EQ(FormatClassic("%f,%f,%f,%f", m.m11, m.m12, m.m21, m.m22), "1.000000,0.000000,-0.000000,1.000000");
    const WatermarkMatrix t = WatermarkMatrixOf(-30);
    EXPECT_EQ(FormatClassic("%f,%f,%f,%f", t.m11, t.m12, t.m21, t.m22), "0.866000,0.500000,-0.500000,0.866000");
}

// ---- Placement and frames -------------------------------------------------------

TEST(WatermarkPlacement, ByPositionMarginsAndAdjustment)
{
    const float tw = 3000, th = 700, size = 600;
    WatermarkPlacement p;

    WatermarkSettings s = Settings(u"A");
    ASSERT_EQ(PlaceWatermark(s, 4960, 7014, size, tw, th, p), S_OK);
    EXPECT_DOUBLE_EQ(p.x, 396.8);   // 2480 x 0.16
    EXPECT_DOUBLE_EQ(p.y, 561.12);  // 3507 x 0.16

    s.position = 0;  // the box's upper left corner 236 from the edges
    ASSERT_EQ(PlaceWatermark(s, 4960, 7014, size, tw, th, p), S_OK);
    EXPECT_NEAR(p.x - p.halfWidth, 37.76, 1e-9);
    EXPECT_NEAR(p.y - p.halfHeight, 37.76, 1e-9);

    s.position = 6;
    s.adjustmentX = 72;  // one inch
    s.adjustmentY = -36;
    ASSERT_EQ(PlaceWatermark(s, 4960, 7014, size, tw, th, p), S_OK);
    EXPECT_NEAR(p.x + p.halfWidth, (4960 - 236) * 0.16 + 96, 1e-9);
    EXPECT_NEAR(p.y + p.halfHeight, (7014 - 236) * 0.16 - 48, 1e-9);

    s.position = 7;
    EXPECT_EQ(PlaceWatermark(s, 4960, 7014, size, tw, th, p), E_FAIL);
}

TEST(WatermarkPlacement, TurnedBoxesFramesAndCircles)
{
    WatermarkSettings s = Settings(u"A");
    WatermarkPlacement p;
    s.angle = 90;  // the box stands on its end: UpperLeft keeps it off the edges
    s.position = 0;
    ASSERT_EQ(PlaceWatermark(s, 4960, 7014, 600, 3000, 700, p), S_OK);
    EXPECT_NEAR(p.x, (236 + 350) * 0.16, 1e-9);
    EXPECT_NEAR(p.y, (236 + 1500) * 0.16, 1e-9);

    s.angle = 0;
    s.trim = 3;  // DoubleFrame: a larger box, margins less F / 16
    ASSERT_EQ(PlaceWatermark(s, 4960, 7014, 600, 3000, 700, p), S_OK);
    EXPECT_NEAR(p.halfWidth, (3000 + 0.4 * 700) * 0.08, 1e-9);
    EXPECT_NEAR(p.halfHeight, 1.2 * 700 * 0.08, 1e-9);
    EXPECT_NEAR(p.x, (236 - 600.0 / 16 + (3000 + 0.4 * 700) / 2) * 0.16, 1e-9);

    s.trim = 1;  // the circle around the text box's diagonal, not turned
    s.angle = 45;
    ASSERT_EQ(PlaceWatermark(s, 4960, 7014, 600, 3000, 4000, p), S_OK);
    EXPECT_NEAR(p.radius, 2500 * 0.16, 1e-9);
    EXPECT_NEAR(p.x, (236 + 2500) * 0.16, 1e-9);
}

TEST(WatermarkPlacement, DoubleFrameAtSeventyTwoPoints)
{
    WatermarkSettings s = Settings(u"A");
    s.trim = 3;
    WatermarkPlacement p;
    p.x = 100;
    p.y = 200;
    p.halfWidth = 50;
    p.halfHeight = 20;
    std::int32_t counter = 7;
    const std::string frames = WatermarkFrames(s, p, counter);
    EXPECT_EQ(counter, 9);
    EXPECT_EQ(frames,
              "<Path Name=\"halvane_watermark%d_7\" Opacity=\"0.500000\" Stroke=\"#c00000\" StrokeThickness=\"2.880000\" "
              "StrokeLineJoin=\"Round\" RenderTransform=\"1.000000,0.000000,-0.000000,1.000000,100.000000,200.000000\" "
              "Data=\"M-50.000000,-20.000000L50.000000,-20.000000 50.000000,20.000000 -50.000000,20.000000Z\"/>"
              "<Path Name=\"halvane_watermark%d_8\" Opacity=\"0.500000\" Stroke=\"#c00000\" StrokeThickness=\"2.880000\" "
              "StrokeLineJoin=\"Round\" RenderTransform=\"1.000000,0.000000,-0.000000,1.000000,100.000000,200.000000\" "
              "Data=\"M-44.000000,-14.000000L44.000000,-14.000000 44.000000,14.000000 -44.000000,14.000000Z\"/>");

    s.trim = 1;
    p.radius = 30;
    EXPECT_EQ(WatermarkFrames(s, p, counter),
              "<Path Name=\"halvane_watermark%d_9\" Opacity=\"0.500000\" Stroke=\"#c00000\" StrokeThickness=\"5.760000\" "
              "RenderTransform=\"1.000000,0.000000,-0.000000,1.000000,100.000000,200.000000\" "
              "Data=\"M-30.000000,0A1,1 0 1 1 30.000000,0M30.000000,0A1,1 0 1 1 -30.000000,0\"/>");
    s.trim = 0;
    EXPECT_EQ(WatermarkFrames(s, p, counter), "");
    EXPECT_EQ(counter, 10);
}

// ---- The template and the sink --------------------------------------------------

TEST(WatermarkTemplate, GrowsAsItsRuleSays)
{
    WatermarkTemplate t;
    EXPECT_EQ(t.Capacity(), 204800u);
    t.Append(std::string(204799, 'x'));  // shorter than the free space: no growth
    EXPECT_EQ(t.Capacity(), 204800u);
    t.AppendLetter('L');  // would leave nothing free
    EXPECT_EQ(t.Capacity(), 2 * 204800u + 1);
    t.Append(std::string(204801, 'y'));  // as long as the free space
    EXPECT_EQ(t.Capacity(), 204801u + 2 * (2 * 204800u + 1));
    EXPECT_EQ(t.Text().size(), 204799u + 1 + 204801u);
    t.Reset();
    EXPECT_EQ(t.Capacity(), 204800u);
    EXPECT_TRUE(t.Text().empty());
}

TEST(WatermarkTemplate, EmitFillsInThePageIndex)
{
    WatermarkOutlineCache cache;
    EXPECT_EQ(cache.Emit(3), "");
    WatermarkSettings s = Settings(u"A");
    s.trim = 2;
    // Frames only: no font needed for a text of blanks.
    Put(s.text, u"");
    ASSERT_EQ(BuildWatermarkOutlines(cache, s, A4()), S_OK);
    const std::string page2 = cache.Emit(2);
    EXPECT_EQ(page2.rfind("<Path Name=\"halvane_watermark2_0\"", 0), 0u) << page2;
    EXPECT_EQ(page2.find("%d"), std::string::npos);
}

TEST(PointSnappingSink, OffsetsEveryPointAndCountsNothing)
{
    NoRefComObject<PointSnappingSink> sink(D2D1_POINT_2F{10, 20});
    EXPECT_EQ(sink.AddRef(), 0u);
    EXPECT_EQ(sink.Release(), 0u);
    void* out = &sink;
    EXPECT_EQ(sink.QueryInterface(IID_IUnknown, &out), E_UNEXPECTED);
    EXPECT_EQ(out, nullptr);

    sink.SetFillMode(D2D1_FILL_MODE_WINDING);
    sink.BeginFigure({1, 2}, D2D1_FIGURE_BEGIN_FILLED);
    const D2D1_POINT_2F lines[] = {{3, 4}, {5, 6}};
    sink.AddLines(lines, 2);
    const D2D1_BEZIER_SEGMENT curve{{7, 8}, {9, 10}, {11, 12}};
    sink.AddBeziers(&curve, 1);
    sink.EndFigure(D2D1_FIGURE_END_OPEN);
    sink.BeginFigure({0, 0}, D2D1_FIGURE_BEGIN_FILLED);
    sink.EndFigure(D2D1_FIGURE_END_CLOSED);
    EXPECT_EQ(sink.Close(), S_OK);

    ASSERT_EQ(sink.Figures().size(), 2u);
    const FigureRecord& f = sink.Figures()[0];
    EXPECT_EQ(f.start.x, 11);
    EXPECT_EQ(f.start.y, 22);
    EXPECT_EQ(f.commands, (std::vector<std::uint32_t>{6, 6, 5}));
    EXPECT_EQ(f.points, (std::vector<float>{13, 24, 15, 26, 17, 28, 19, 30, 21, 32}));
    EXPECT_FALSE(f.closed);
    EXPECT_TRUE(sink.Figures()[1].closed);
    EXPECT_EQ(sink.FillMode(), D2D1_FILL_MODE_WINDING);
}

// ---- Golden templates -----------------------------------------------------------

class WatermarkFonts : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
    void TearDown() override { CoUninitialize(); }
};

struct GoldenCase {
    const char* name;
    void (*settings)(WatermarkSettings&, PageRecord&);
};

const GoldenCase kGoldenCases[] = {
    {"a-blank-b", [](WatermarkSettings& s, PageRecord&) { Put(s.text, u"A B"); }},
    {"weight-0-size-72-italic", [](WatermarkSettings& s, PageRecord&) {
         Put(s.text, u"Ab");
         s.italic = 1;
     }},
    {"bold-angle-45-double-frame", [](WatermarkSettings& s, PageRecord&) {
         Put(s.text, u"AB");
         s.weight = 700;
         s.angle = 45;
         s.trim = 3;
     }},
    {"angle-minus-30-circle-lower-right", [](WatermarkSettings& s, PageRecord&) {
         Put(s.text, u"o");
         s.angle = -30;
         s.trim = 1;
         s.position = 6;
     }},
    {"angle-390-single-frame-upper-left", [](WatermarkSettings& s, PageRecord&) {
         Put(s.text, u"I");
         s.angle = 390;
         s.trim = 2;
         s.position = 0;
         s.fontSize = 20;
     }},
    {"landscape-upper-right", [](WatermarkSettings& s, PageRecord& page) {
         Put(s.text, u"I");
         s.position = 2;
         page = A4(false);
     }},
};

std::string Build(const GoldenCase& c, WatermarkOutlineCache& cache)
{
    WatermarkSettings s = Settings(u"");
    PageRecord page = A4();
    c.settings(s, page);
    EXPECT_EQ(BuildWatermarkOutlines(cache, s, page), S_OK);
    return cache.Template().Text();
}

TEST_F(WatermarkFonts, TemplatesAreWrittenAsTheGoldenFilesSay)
{
    for (const GoldenCase& c : kGoldenCases) {
        SCOPED_TRACE(c.name);
        WatermarkOutlineCache cache;
        const std::string got = Build(c, cache);
        ExpectGolden(got, kGolden + c.name + ".txt");
    }
}

// Counts the paths of a template and checks they are numbered from first on.
int CountPaths(const std::string& text, int first)
{
    int n = 0;
    for (std::size_t at = text.find("<Path "); at != std::string::npos; at = text.find("<Path ", at + 1), ++n) {
        const std::string want = "<Path Name=\"halvane_watermark%d_" + std::to_string(first + n) + "\"";
        EXPECT_EQ(text.compare(at, want.size(), want), 0) << text.substr(at, 60);
    }
    return n;
}

TEST_F(WatermarkFonts, TheBlankAdvancesWithoutAPathAndTheCounterGoesOn)
{
    WatermarkOutlineCache cache;
    WatermarkSettings s = Settings(u"A B");
    ASSERT_EQ(BuildWatermarkOutlines(cache, s, A4()), S_OK);
    EXPECT_EQ(CountPaths(cache.Template().Text(), 0), 2);
    EXPECT_EQ(cache.PathCounter(), 2);

    // "A B" and "AB": the B of the first stands further right by the blank's advance.
    WatermarkOutlineCache other;
    WatermarkSettings t = Settings(u"AB");
    ASSERT_EQ(BuildWatermarkOutlines(other, t, A4()), S_OK);
    ComPtr<IDWriteFactory> factory;
    ASSERT_EQ(DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, IID_IDWriteFactory,
                                  reinterpret_cast<IUnknown**>(factory.ReleaseAndGetAddressOf())),
              S_OK);
    ComPtr<IDWriteGdiInterop> interop;
    ASSERT_EQ(factory->GetGdiInterop(interop.ReleaseAndGetAddressOf()), S_OK);
    LOGFONTW lf{};
    std::copy_n(u"Arial", 6, lf.lfFaceName);
    ComPtr<IDWriteFont> font;
    ASSERT_EQ(interop->CreateFontFromLOGFONT(&lf, font.ReleaseAndGetAddressOf()), S_OK);
    ComPtr<IDWriteFontFace> face;
    ASSERT_EQ(font->CreateFontFace(face.ReleaseAndGetAddressOf()), S_OK);
    DWRITE_FONT_METRICS metrics{};
    face->GetMetrics(&metrics);
    const UINT32 blank = u' ';
    UINT16 glyph = 0;
    ASSERT_EQ(face->GetGlyphIndices(&blank, 1, &glyph), S_OK);
    DWRITE_GLYPH_METRICS advance{};
    ASSERT_EQ(face->GetDesignGlyphMetrics(&glyph, 1, &advance, FALSE), S_OK);
    const double blankWidth = 96.0 * advance.advanceWidth / metrics.designUnitsPerEm;  // em size 96 at 72 points

    const auto startOfB = [](const std::string& text) {
        const std::size_t path = text.find("halvane_watermark%d_1");
        const std::size_t move = text.find("Data=\"F1M", path);
        return std::stod(text.substr(move + 9));
    };
    // Both texts are centred on the page: the blank moves A left by half its
    // advance and B right by half.
    EXPECT_NEAR(startOfB(cache.Template().Text()) - startOfB(other.Template().Text()), blankWidth / 2, 1e-3);

    // A rebuild (another page size) keeps counting.
    ASSERT_EQ(BuildWatermarkOutlines(cache, s, A4(false)), S_OK);
    EXPECT_EQ(CountPaths(cache.Template().Text(), 2), 2);
    EXPECT_EQ(cache.PathCounter(), 4);
    EXPECT_EQ(cache.Page().pageWidth, 7014) << "the page as printed";
}

// The points of the first path's Data, as x, y pairs.
std::vector<std::pair<double, double>> DataPoints(const std::string& text)
{
    const std::size_t begin = text.find("Data=\"F1") + 8;
    std::string data = text.substr(begin, text.find('"', begin) - begin);
    for (char& c : data)
        if (c == 'M' || c == 'L' || c == 'C' || c == 'Z')
            c = ' ';
    std::istringstream in(data);
    std::vector<std::pair<double, double>> points;
    for (std::string pair; in >> pair;) {
        const std::size_t comma = pair.find(',');
        points.emplace_back(std::stod(pair.substr(0, comma)), std::stod(pair.substr(comma + 1)));
    }
    return points;
}

TEST_F(WatermarkFonts, SizeSeventyTwoIsAnEmOfNinetySixCentredOnThePlacement)
{
    // "I" at 72 points: its stem is as tall as the font's cap height at an em
    // of 96, and the text box (ascent plus descent high) is centred on the
    // transform's origin, the baseline at the ascent below its top.
    WatermarkOutlineCache cache;
    ASSERT_EQ(BuildWatermarkOutlines(cache, Settings(u"I"), A4()), S_OK);
    const auto points = DataPoints(cache.Template().Text());
    ASSERT_FALSE(points.empty());
    double low = points[0].second, high = points[0].second;
    for (const auto& point : points) {
        low = std::min(low, point.second);
        high = std::max(high, point.second);
    }
    EXPECT_NEAR(high - low, 96.0 * 1409 / 2048, 0.01);  // Liberation Sans: the cap height, 1409 of 2048
    // ascent 1854, descent 434 (of 2048): the baseline lies at (1854 - 1144) / 2048 em below the centre.
    EXPECT_NEAR(high, 96.0 * (1854 - (1854 + 434) / 2.0) / 2048, 0.01);
}

} // namespace
