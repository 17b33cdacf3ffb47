// The font stand-in over the pinned test fonts (tests/data/fonts/fonts.conf.in:
// Liberation and DejaVu only): lookups with the metric-compatible
// substitutions, face metrics, glyphs, outlines, text widths, bad arguments
// and use from several threads at once.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <latch>
#include <limits>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/comobject.h"
#include "platform/dwrite.h"

namespace {

// Liberation Sans Regular, in font units.
constexpr UINT16 kGlyphA = 36;
constexpr UINT16 kGlyphSpace = 3;
constexpr UINT32 kAdvanceA = 1366;
constexpr UINT32 kAdvanceSpace = 569;
constexpr UINT32 kAdvanceB = 1366;
constexpr double kLineHeight = 1854 + 434 + 67;  // ascent + descent + line gap

ComPtr<IDWriteFactory> MakeFactory(DWRITE_FACTORY_TYPE type = DWRITE_FACTORY_TYPE_SHARED)
{
    ComPtr<IDWriteFactory> factory;
    EXPECT_EQ(DWriteCreateFactory(type, IID_IDWriteFactory, reinterpret_cast<IUnknown**>(factory.GetAddressOf())),
              S_OK);
    return factory;
}

LOGFONTW LogFont(std::u16string_view family, LONG weight = FW_NORMAL, bool italic = false,
                 BYTE charSet = DEFAULT_CHARSET)
{
    LOGFONTW lf{};
    lf.lfHeight = -100;
    lf.lfWeight = weight;
    lf.lfItalic = italic ? 1 : 0;
    lf.lfCharSet = charSet;
    lf.lfOutPrecision = OUT_TT_PRECIS;
    family.copy(lf.lfFaceName, LF_FACESIZE - 1);
    return lf;
}

ComPtr<IDWriteFont> FontOf(const LOGFONTW& lf, IDWriteFactory* factory = nullptr)
{
    ComPtr<IDWriteFactory> shared = factory ? ComPtr<IDWriteFactory>(factory) : MakeFactory();
    ComPtr<IDWriteGdiInterop> interop;
    EXPECT_EQ(shared->GetGdiInterop(interop.GetAddressOf()), S_OK);
    ComPtr<IDWriteFont> font;
    EXPECT_EQ(interop->CreateFontFromLOGFONT(&lf, font.GetAddressOf()), S_OK);
    return font;
}

ComPtr<IDWriteFontFace> FaceOf(const LOGFONTW& lf, IDWriteFactory* factory = nullptr)
{
    ComPtr<IDWriteFont> font = FontOf(lf, factory);
    ComPtr<IDWriteFontFace> face;
    if (font) {
        EXPECT_EQ(font->CreateFontFace(face.GetAddressOf()), S_OK);
    }
    return face;
}

UINT16 GlyphOf(IDWriteFontFace* face, UINT32 codePoint)
{
    UINT16 glyph = 0xFFFF;
    EXPECT_EQ(face->GetGlyphIndices(&codePoint, 1, &glyph), S_OK);
    return glyph;
}

DWRITE_GLYPH_METRICS DesignOf(IDWriteFontFace* face, UINT16 glyph)
{
    DWRITE_GLYPH_METRICS m{};
    EXPECT_EQ(face->GetDesignGlyphMetrics(&glyph, 1, &m, FALSE), S_OK);
    return m;
}

DWRITE_TEXT_METRICS LayoutOf(std::u16string_view text, std::u16string_view family = u"Arial", FLOAT size = 100,
                             DWRITE_FONT_WEIGHT weight = DWRITE_FONT_WEIGHT_NORMAL,
                             DWRITE_FONT_STYLE style = DWRITE_FONT_STYLE_NORMAL, FLOAT maxWidth = 1000,
                             FLOAT maxHeight = 500)
{
    ComPtr<IDWriteFactory> factory = MakeFactory();
    ComPtr<IDWriteTextFormat> format;
    const std::u16string name(family);
    EXPECT_EQ(factory->CreateTextFormat(name.c_str(), nullptr, weight, style, DWRITE_FONT_STRETCH_NORMAL, size, u"",
                                        format.GetAddressOf()),
              S_OK);
    ComPtr<IDWriteTextLayout> layout;
    EXPECT_EQ(factory->CreateTextLayout(text.data(), static_cast<UINT32>(text.size()), format.Get(), maxWidth,
                                        maxHeight, layout.GetAddressOf()),
              S_OK);
    DWRITE_TEXT_METRICS m{};
    if (layout) {
        EXPECT_EQ(layout->GetMetrics(&m), S_OK);
    }
    return m;
}

// What a sink hears: the order of the calls as letters (F fill mode, B begin,
// L lines, C curves, E end, S segment flags, X close) and the figures with
// their segments one by one, however they were grouped into calls.
class Recorder final : public ComObject<ID2D1SimplifiedGeometrySink> {
public:
    struct Segment {
        bool bezier;
        D2D1_POINT_2F p[3];  // the end point alone for a line
    };
    struct Figure {
        D2D1_POINT_2F start;
        D2D1_FIGURE_BEGIN begin;
        std::vector<Segment> segments;
        int end = -1;
    };
    std::string calls;
    std::vector<Figure> figures;
    D2D1_FILL_MODE fillMode = D2D1_FILL_MODE_ALTERNATE;

    void STDMETHODCALLTYPE SetFillMode(D2D1_FILL_MODE mode) override
    {
        calls += 'F';
        fillMode = mode;
    }
    void STDMETHODCALLTYPE SetSegmentFlags(D2D1_PATH_SEGMENT) override { calls += 'S'; }
    void STDMETHODCALLTYPE BeginFigure(D2D1_POINT_2F start, D2D1_FIGURE_BEGIN begin) override
    {
        calls += 'B';
        figures.push_back({start, begin, {}});
    }
    void STDMETHODCALLTYPE AddLines(const D2D1_POINT_2F* points, UINT32 count) override
    {
        calls += 'L';
        for (UINT32 i = 0; i < count && !figures.empty(); ++i)
            figures.back().segments.push_back({false, {points[i], {}, {}}});
    }
    void STDMETHODCALLTYPE AddBeziers(const D2D1_BEZIER_SEGMENT* beziers, UINT32 count) override
    {
        calls += 'C';
        for (UINT32 i = 0; i < count && !figures.empty(); ++i)
            figures.back().segments.push_back({true, {beziers[i].point1, beziers[i].point2, beziers[i].point3}});
    }
    void STDMETHODCALLTYPE EndFigure(D2D1_FIGURE_END end) override
    {
        calls += 'E';
        if (!figures.empty())
            figures.back().end = static_cast<int>(end);
    }
    HRESULT STDMETHODCALLTYPE Close() override
    {
        calls += 'X';
        return S_OK;
    }
};

ComPtr<Recorder> OutlineOf(IDWriteFontFace* face, FLOAT emSize, std::vector<UINT16> glyphs,
                           const FLOAT* advances = nullptr, const DWRITE_GLYPH_OFFSET* offsets = nullptr)
{
    ComPtr<Recorder> sink = MakeComObject<Recorder>();
    EXPECT_EQ(face->GetGlyphRunOutline(emSize, glyphs.data(), advances, offsets, static_cast<UINT32>(glyphs.size()),
                                       FALSE, FALSE, sink.Get()),
              S_OK);
    return sink;
}

void ExpectPoint(D2D1_POINT_2F actual, double x, double y, double tolerance = 1e-4)
{
    EXPECT_NEAR(actual.x, x, tolerance);
    EXPECT_NEAR(actual.y, y, tolerance);
}

// ---- Finding fonts ----------------------------------------------------------------

TEST(DWriteFonts, FamiliesResolveToTheirFilesWithTheirMetrics)
{
    struct Case {
        std::u16string_view family;
        UINT16 ascent, descent;
        INT16 lineGap;
        UINT16 capHeight, xHeight;
        INT16 underlinePosition;
        UINT16 underlineThickness;
        UINT32 advanceA;
    };
    const Case cases[] = {
        // Arial is not installed: the metric alias gives Liberation Sans.
        {u"Arial", 1854, 434, 67, 1409, 1082, -67, 150, kAdvanceA},
        {u"Liberation Sans", 1854, 434, 67, 1409, 1082, -67, 150, kAdvanceA},
        // OS/2 version 1: no cap and x heights in the table, so the tops of 'H'
        // and 'x'; no hhea line gap.
        {u"DejaVu Sans", 1901, 483, 0, 1493, 1120, -40, 90, 1401},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.family.begin(), c.family.end()));
        ComPtr<IDWriteFont> font = FontOf(LogFont(c.family));
        ASSERT_TRUE(font);
        EXPECT_EQ(font->GetWeight(), DWRITE_FONT_WEIGHT_NORMAL);
        EXPECT_EQ(font->GetStyle(), DWRITE_FONT_STYLE_NORMAL);
        ComPtr<IDWriteFontFace> face;
        ASSERT_EQ(font->CreateFontFace(face.GetAddressOf()), S_OK);
        DWRITE_FONT_METRICS m{};
        face->GetMetrics(&m);
        EXPECT_EQ(m.designUnitsPerEm, 2048);
        EXPECT_EQ(m.ascent, c.ascent);
        EXPECT_EQ(m.descent, c.descent);
        EXPECT_EQ(m.lineGap, c.lineGap);
        EXPECT_EQ(m.capHeight, c.capHeight);
        EXPECT_EQ(m.xHeight, c.xHeight);
        EXPECT_EQ(m.underlinePosition, c.underlinePosition);
        EXPECT_EQ(m.underlineThickness, c.underlineThickness);
        EXPECT_EQ(m.strikethroughPosition, 530);
        EXPECT_EQ(m.strikethroughThickness, 102);
        EXPECT_EQ(GlyphOf(face.Get(), u'A'), kGlyphA);
        EXPECT_EQ(DesignOf(face.Get(), kGlyphA).advanceWidth, c.advanceA);
    }
}

// The weight and style pick the file; the font says what it found, and a text
// format with the same weight and style measures with that very face.
TEST(DWriteFonts, WeightAndStylePickTheFaceTheTextLayoutUsesToo)
{
    struct Case {
        std::u16string_view family;
        LONG lfWeight;
        bool italic;
        DWRITE_FONT_WEIGHT weight;  // found
        DWRITE_FONT_STYLE style;    // found
        UINT32 advanceA;
        INT32 lsbA;
    };
    const Case cases[] = {
        {u"Arial", FW_DONTCARE, false, DWRITE_FONT_WEIGHT_NORMAL, DWRITE_FONT_STYLE_NORMAL, 1366, 4},
        {u"Arial", FW_NORMAL, false, DWRITE_FONT_WEIGHT_NORMAL, DWRITE_FONT_STYLE_NORMAL, 1366, 4},
        {u"Arial", FW_BOLD, false, DWRITE_FONT_WEIGHT_BOLD, DWRITE_FONT_STYLE_NORMAL, 1479, 51},
        {u"Arial", FW_NORMAL, true, DWRITE_FONT_WEIGHT_NORMAL, DWRITE_FONT_STYLE_ITALIC, 1366, -101},
        // DejaVu Sans has an oblique, no italic.
        {u"DejaVu Sans", FW_NORMAL, true, DWRITE_FONT_WEIGHT_NORMAL, DWRITE_FONT_STYLE_OBLIQUE, 1401, -109},
        {u"DejaVu Sans", FW_BOLD, false, DWRITE_FONT_WEIGHT_BOLD, DWRITE_FONT_STYLE_NORMAL, 1585, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::string(c.family.begin(), c.family.end()) << " weight " << c.lfWeight
                                        << " italic " << c.italic);
        ComPtr<IDWriteFont> font = FontOf(LogFont(c.family, c.lfWeight, c.italic));
        ASSERT_TRUE(font);
        EXPECT_EQ(font->GetWeight(), c.weight);
        EXPECT_EQ(font->GetStyle(), c.style);
        ComPtr<IDWriteFontFace> face;
        ASSERT_EQ(font->CreateFontFace(face.GetAddressOf()), S_OK);
        const DWRITE_GLYPH_METRICS a = DesignOf(face.Get(), GlyphOf(face.Get(), u'A'));
        EXPECT_EQ(a.advanceWidth, c.advanceA);
        EXPECT_EQ(a.leftSideBearing, c.lsbA);

        const auto weight = static_cast<DWRITE_FONT_WEIGHT>(c.lfWeight == FW_DONTCARE ? FW_NORMAL : c.lfWeight);
        const DWRITE_TEXT_METRICS text =
            LayoutOf(u"A", c.family, 2048, weight, c.italic ? DWRITE_FONT_STYLE_ITALIC : DWRITE_FONT_STYLE_NORMAL);
        EXPECT_FLOAT_EQ(text.width, static_cast<float>(c.advanceA));
    }
}

// A character set asks for a font that covers its script; the family still
// comes first when it exists, and a script no font covers still finds a font.
TEST(DWriteFonts, CharacterSetsFindSomeFont)
{
    const BYTE charSets[] = {HANGUL_CHARSET, SHIFTJIS_CHARSET, GB2312_CHARSET, CHINESEBIG5_CHARSET, GREEK_CHARSET,
                             ARABIC_CHARSET, SYMBOL_CHARSET,   ANSI_CHARSET};
    for (const std::u16string_view family : {u"Arial", u"Gulim", u""}) {
        for (const BYTE charSet : charSets) {
            SCOPED_TRACE(testing::Message() << std::string(family.begin(), family.end()) << " charset "
                                            << int(charSet));
            ComPtr<IDWriteFontFace> face = FaceOf(LogFont(family, FW_NORMAL, false, charSet));
            ASSERT_TRUE(face);
            DWRITE_FONT_METRICS m{};
            face->GetMetrics(&m);
            EXPECT_GT(m.designUnitsPerEm, 0);
            EXPECT_NE(GlyphOf(face.Get(), u'A'), 0);
            if (family == u"Arial") {
                EXPECT_EQ(DesignOf(face.Get(), GlyphOf(face.Get(), u'A')).advanceWidth, kAdvanceA);
            }
        }
    }
    ComPtr<IDWriteFontFace> greek = FaceOf(LogFont(u"Arial", FW_NORMAL, false, GREEK_CHARSET));
    ASSERT_TRUE(greek);
    EXPECT_NE(GlyphOf(greek.Get(), 0x03B1), 0);  // alpha
}

// A face name fills at most 31 units: the 32nd is the terminator's place.
TEST(DWriteFonts, FaceNameIsReadUpToItsTerminatorOrThirtyOneUnits)
{
    LOGFONTW lf = LogFont(u"Liberation Sans");
    lf.lfFaceName[15] = u'\0';
    for (int i = 16; i < LF_FACESIZE; ++i)
        lf.lfFaceName[i] = u'x';  // after the terminator: not read
    ComPtr<IDWriteFontFace> face = FaceOf(lf);
    ASSERT_TRUE(face);
    EXPECT_EQ(DesignOf(face.Get(), GlyphOf(face.Get(), u'A')).advanceWidth, kAdvanceA);

    LOGFONTW unterminated{};
    for (WCHAR& unit : unterminated.lfFaceName)
        unit = u'Q';
    EXPECT_TRUE(FaceOf(unterminated));  // some fallback font; no read past the array
}

// ---- Glyphs -----------------------------------------------------------------------

TEST(DWriteGlyphs, IndicesAndDesignMetrics)
{
    ComPtr<IDWriteFontFace> face = FaceOf(LogFont(u"Arial"));
    ASSERT_TRUE(face);
    const UINT32 codePoints[] = {u'A', u' ', 0x1F600, 0xD800, 0x110000};
    UINT16 glyphs[std::size(codePoints)] = {};
    ASSERT_EQ(face->GetGlyphIndices(codePoints, std::size(codePoints), glyphs), S_OK);
    EXPECT_EQ(glyphs[0], kGlyphA);
    EXPECT_EQ(glyphs[1], kGlyphSpace);
    EXPECT_EQ(glyphs[2], 0);  // not in the font
    EXPECT_EQ(glyphs[3], 0);  // a surrogate is no character
    EXPECT_EQ(glyphs[4], 0);  // beyond Unicode

    // No vertical metrics in the font: a cell as tall as ascent plus descent,
    // its origin at the ascent.
    struct Case {
        UINT16 glyph;
        DWRITE_GLYPH_METRICS expected;
    };
    const Case cases[] = {
        {kGlyphA, {4, kAdvanceA, 4, 1854 - 1409, 2288, 434, 1854}},
        {kGlyphSpace, {0, kAdvanceSpace, static_cast<INT32>(kAdvanceSpace), 1854, 2288, 434, 1854}},
    };
    const UINT16 run[] = {kGlyphA, kGlyphSpace};
    DWRITE_GLYPH_METRICS got[2] = {};
    ASSERT_EQ(face->GetDesignGlyphMetrics(run, 2, got, FALSE), S_OK);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].glyph);
        const DWRITE_GLYPH_METRICS& e = cases[i].expected;
        EXPECT_EQ(got[i].leftSideBearing, e.leftSideBearing);
        EXPECT_EQ(got[i].advanceWidth, e.advanceWidth);
        EXPECT_EQ(got[i].rightSideBearing, e.rightSideBearing);
        EXPECT_EQ(got[i].topSideBearing, e.topSideBearing);
        EXPECT_EQ(got[i].advanceHeight, e.advanceHeight);
        EXPECT_EQ(got[i].bottomSideBearing, e.bottomSideBearing);
        EXPECT_EQ(got[i].verticalOriginY, e.verticalOriginY);
    }
}

// ---- Outlines ---------------------------------------------------------------------

// 'l' is a rectangle of four on-curve points: (138,0) (138,1484) (318,1484) (318,0).
TEST(DWriteOutlines, RectangleGlyphIsOneClosedFigureOfLinesYDown)
{
    ComPtr<IDWriteFontFace> face = FaceOf(LogFont(u"Arial"));
    ASSERT_TRUE(face);
    const UINT16 l = GlyphOf(face.Get(), u'l');
    ComPtr<Recorder> sink = OutlineOf(face.Get(), 20.48f, {l});  // 0.01 per font unit
    // Fill mode first, the figure's three lines in one call (the fourth edge
    // is the close), no Close: that is the caller's.
    EXPECT_EQ(sink->calls, "FBLE");
    EXPECT_EQ(sink->fillMode, D2D1_FILL_MODE_WINDING);
    ASSERT_EQ(sink->figures.size(), 1u);
    const Recorder::Figure& f = sink->figures[0];
    EXPECT_EQ(f.begin, D2D1_FIGURE_BEGIN_FILLED);
    EXPECT_EQ(f.end, D2D1_FIGURE_END_CLOSED);
    ExpectPoint(f.start, 1.38, 0);
    ASSERT_EQ(f.segments.size(), 3u);
    ExpectPoint(f.segments[0].p[0], 1.38, -14.84);
    ExpectPoint(f.segments[1].p[0], 3.18, -14.84);
    ExpectPoint(f.segments[2].p[0], 3.18, 0);
    for (const Recorder::Segment& s : f.segments)
        EXPECT_FALSE(s.bezier);
}

// Glyphs follow one another by their design advances, or by the advances
// given; offsets move a glyph along (advance) and up (ascender); a blank adds
// only its advance.
TEST(DWriteOutlines, GlyphsArePlacedByAdvancesAndOffsets)
{
    ComPtr<IDWriteFontFace> face = FaceOf(LogFont(u"Arial"));
    ASSERT_TRUE(face);
    const UINT16 l = GlyphOf(face.Get(), u'l');
    const FLOAT given[] = {10, 7, 0};
    const DWRITE_GLYPH_OFFSET offsets[] = {{5, 2}, {0, 0}, {0, -1}};
    struct Case {
        const char* name;
        std::vector<UINT16> glyphs;
        const FLOAT* advances;
        const DWRITE_GLYPH_OFFSET* offsets;
        std::vector<D2D1_POINT_2F> starts;  // of the figures
    };
    const Case cases[] = {
        {"design advances", {l, l}, nullptr, nullptr, {{1.38f, 0}, {4.55f + 1.38f, 0}}},
        {"given advances", {l, l}, given, nullptr, {{1.38f, 0}, {10 + 1.38f, 0}}},
        {"offsets", {l, l}, nullptr, offsets, {{5 + 1.38f, -2}, {4.55f + 1.38f, 0}}},
        {"blank between", {l, kGlyphSpace, l}, nullptr, nullptr, {{1.38f, 0}, {4.55f + 5.69f + 1.38f, 0}}},
        {"blank between, given and offset", {l, kGlyphSpace, l}, given, offsets, {{5 + 1.38f, -2}, {17 + 1.38f, 1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ComPtr<Recorder> sink = OutlineOf(face.Get(), 20.48f, c.glyphs, c.advances, c.offsets);
        ASSERT_EQ(sink->figures.size(), c.starts.size());
        for (std::size_t i = 0; i < c.starts.size(); ++i)
            ExpectPoint(sink->figures[i].start, c.starts[i].x, c.starts[i].y);
    }
    ComPtr<Recorder> blank = OutlineOf(face.Get(), 20.48f, {kGlyphSpace});
    EXPECT_EQ(blank->calls, "F");
}

// 'O' is two contours of quadratic curves. At an em size of 2048 the outline
// is in font units (y down). The outer contour starts at its first on-curve
// point (1495,711), then the off-curve (1495,490) and (1326,158), between
// which lies the implied on-curve point (1410.5,324).
TEST(DWriteOutlines, QuadraticCurvesArriveAsTheirExactCubics)
{
    ComPtr<IDWriteFontFace> face = FaceOf(LogFont(u"Arial"));
    ASSERT_TRUE(face);
    ComPtr<Recorder> sink = OutlineOf(face.Get(), 2048, {GlyphOf(face.Get(), u'O')});
    EXPECT_EQ(sink->calls, "FBCEBCE");
    ASSERT_EQ(sink->figures.size(), 2u);
    ExpectPoint(sink->figures[0].start, 1495, -711);
    ExpectPoint(sink->figures[1].start, 1300, -711);

    const Recorder::Segment& first = sink->figures[0].segments.at(0);
    ExpectPoint(first.p[0], 1495, -711 + 2.0 / 3 * (-490 + 711), 1e-3);
    ExpectPoint(first.p[1], 1410.5 + 2.0 / 3 * (1495 - 1410.5), -324 + 2.0 / 3 * (-490 + 324), 1e-3);
    ExpectPoint(first.p[2], 1410.5, -324, 1e-3);  // the exact midpoint, not rounded

    for (std::size_t n = 0; n < sink->figures.size(); ++n) {
        const Recorder::Figure& f = sink->figures[n];
        SCOPED_TRACE(testing::Message() << "figure " << n);
        EXPECT_EQ(f.begin, D2D1_FIGURE_BEGIN_FILLED);
        EXPECT_EQ(f.end, D2D1_FIGURE_END_CLOSED);
        D2D1_POINT_2F from = f.start;
        for (const Recorder::Segment& s : f.segments) {
            ASSERT_TRUE(s.bezier);
            // Both control points lead back to one quadratic control point,
            // and that is a point of the font (whole font units).
            const double qx1 = from.x + 1.5 * (s.p[0].x - from.x), qy1 = from.y + 1.5 * (s.p[0].y - from.y);
            const double qx2 = s.p[2].x + 1.5 * (s.p[1].x - s.p[2].x), qy2 = s.p[2].y + 1.5 * (s.p[1].y - s.p[2].y);
            EXPECT_NEAR(qx1, qx2, 1e-3);
            EXPECT_NEAR(qy1, qy2, 1e-3);
            EXPECT_NEAR(qx1, std::round(qx1), 1e-3);
            EXPECT_NEAR(qy1, std::round(qy1), 1e-3);
            from = s.p[2];
        }
    }
    // The inner contour ends on a curve, which comes back to its start.
    ExpectPoint(sink->figures[1].segments.back().p[2], 1300, -711);
}

// ---- Text layouts -----------------------------------------------------------------

TEST(DWriteLayout, WidthIsTheSumOfTheFacesScaledAdvances)
{
    ComPtr<IDWriteFontFace> face = FaceOf(LogFont(u"Arial"));
    ASSERT_TRUE(face);
    const UINT32 text[] = {u'A', u' ', u'B'};
    UINT16 glyphs[3] = {};
    ASSERT_EQ(face->GetGlyphIndices(text, 3, glyphs), S_OK);
    DWRITE_GLYPH_METRICS m[3] = {};
    ASSERT_EQ(face->GetDesignGlyphMetrics(glyphs, 3, m, FALSE), S_OK);
    const float sum = static_cast<float>((m[0].advanceWidth + m[1].advanceWidth + m[2].advanceWidth) * 100.0 / 2048);
    EXPECT_FLOAT_EQ(sum, (kAdvanceA + kAdvanceSpace + kAdvanceB) * 100.0f / 2048);

    // Narrower bounds than the text: still one line, the bounds come back as given.
    const DWRITE_TEXT_METRICS t = LayoutOf(u"A B", u"Arial", 100, DWRITE_FONT_WEIGHT_NORMAL,
                                           DWRITE_FONT_STYLE_NORMAL, 50, 40);
    EXPECT_FLOAT_EQ(t.width, sum);
    EXPECT_FLOAT_EQ(t.widthIncludingTrailingWhitespace, sum);
    EXPECT_FLOAT_EQ(t.height, static_cast<float>(kLineHeight * 100 / 2048));
    EXPECT_EQ(t.lineCount, 1u);
    EXPECT_EQ(t.left, 0);
    EXPECT_EQ(t.top, 0);
    EXPECT_EQ(t.layoutWidth, 50);
    EXPECT_EQ(t.layoutHeight, 40);
}

TEST(DWriteLayout, TrailingBlanksCountOnlyInTheWidthIncludingThem)
{
    const double unit = 100.0 / 2048;
    struct Case {
        std::u16string_view text;
        double width, withTrailing;  // in font units
        UINT32 lines;
    };
    const Case cases[] = {
        {u"A B  ", kAdvanceA + kAdvanceSpace + kAdvanceB, kAdvanceA + 3 * kAdvanceSpace + kAdvanceB, 1},
        {u"  A", 2 * kAdvanceSpace + kAdvanceA, 2 * kAdvanceSpace + kAdvanceA, 1},
        // No-break and em spaces are blanks too; so is a tab, though the font
        // has no glyph for it (the missing glyph's 1536).
        {u"A\u00A0\u2003", kAdvanceA, kAdvanceA + kAdvanceSpace + 2048, 1},
        {u"A\t", kAdvanceA, kAdvanceA + 1536, 1},
        {u"   ", 0, 3 * kAdvanceSpace, 1},
        {u"", 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "length " << c.text.size() << " last "
                                        << int(c.text.empty() ? 0 : c.text.back()));
        const DWRITE_TEXT_METRICS t = LayoutOf(c.text);
        EXPECT_FLOAT_EQ(t.width, static_cast<float>(c.width * unit));
        EXPECT_FLOAT_EQ(t.widthIncludingTrailingWhitespace, static_cast<float>(c.withTrailing * unit));
        EXPECT_EQ(t.lineCount, c.lines);
        EXPECT_FLOAT_EQ(t.height, c.lines ? static_cast<float>(kLineHeight * unit) : 0.0f);
    }
}

// A surrogate pair is one character; a surrogate without its partner is a
// character no font has, so it takes the missing glyph's advance.
TEST(DWriteLayout, SurrogatesPairUpOrTakeTheMissingGlyph)
{
    ComPtr<IDWriteFontFace> face = FaceOf(LogFont(u"Arial"));
    ASSERT_TRUE(face);
    const UINT32 missing = DesignOf(face.Get(), 0).advanceWidth;
    ASSERT_GT(missing, 0u);
    ASSERT_NE(missing, kAdvanceA);
    struct Case {
        std::u16string_view text;
        UINT32 letters;  // A
        UINT32 missingGlyphs;
    };
    const Case cases[] = {
        {u"A\U0001F600", 1, 1},     // a pair the font lacks: one missing glyph
        {u"A\xD83D", 1, 1},         // a lone high surrogate at the end
        {u"A\xDE00\xD83D", 1, 2},   // low before high: two lone ones
        {u"A\xD83D" u"A", 2, 1},    // a high surrogate followed by no low one
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "length " << c.text.size() << " letters " << c.letters);
        EXPECT_FLOAT_EQ(LayoutOf(c.text, u"Arial", 2048).width,
                        static_cast<float>(c.letters * kAdvanceA + c.missingGlyphs * missing));
    }
}

// ---- Factories and bad arguments --------------------------------------------------

TEST(DWriteFactory, SharedIsOneObjectIsolatedIsNew)
{
    IUnknown* a = nullptr;
    IUnknown* b = nullptr;
    IUnknown* c = nullptr;
    IUnknown* d = nullptr;
    ASSERT_EQ(DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, IID_IDWriteFactory, &a), S_OK);
    ASSERT_EQ(DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, IID_IUnknown, &b), S_OK);
    ASSERT_EQ(DWriteCreateFactory(DWRITE_FACTORY_TYPE_ISOLATED, IID_IDWriteFactory, &c), S_OK);
    ASSERT_EQ(DWriteCreateFactory(DWRITE_FACTORY_TYPE_ISOLATED, IID_IDWriteFactory, &d), S_OK);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    EXPECT_NE(c, d);
    for (IUnknown* p : {a, b, c, d})
        p->Release();
    // The shared one outlives its references.
    ASSERT_EQ(DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, IID_IDWriteFactory, &b), S_OK);
    EXPECT_EQ(a, b);
    b->Release();
}

class ForeignFormat final : public ComObject<IDWriteTextFormat> {
public:
    FLOAT STDMETHODCALLTYPE GetFontSize() override { return 10; }
    DWRITE_FONT_WEIGHT STDMETHODCALLTYPE GetFontWeight() override { return DWRITE_FONT_WEIGHT_NORMAL; }
    DWRITE_FONT_STYLE STDMETHODCALLTYPE GetFontStyle() override { return DWRITE_FONT_STYLE_NORMAL; }
};

class SomeCollection final : public ComObject<IDWriteFontCollection> {};

TEST(DWriteFactory, BadArgumentsAreRefusedAndOutPointersCleared)
{
    IUnknown* unknown = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, IID_IDWriteFactory, nullptr), E_POINTER);
    EXPECT_EQ(DWriteCreateFactory(static_cast<DWRITE_FACTORY_TYPE>(7), IID_IDWriteFactory, &unknown), E_INVALIDARG);
    EXPECT_EQ(unknown, nullptr);
    unknown = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, IID_IDWriteFont, &unknown), E_NOINTERFACE);
    EXPECT_EQ(unknown, nullptr);

    ComPtr<IDWriteFactory> factory = MakeFactory();
    ComPtr<SomeCollection> collection = MakeComObject<SomeCollection>();
    const FLOAT nan = std::numeric_limits<FLOAT>::quiet_NaN();
    struct FormatCase {
        const char* name;
        const WCHAR* family;
        IDWriteFontCollection* collection;
        UINT32 weight;
        UINT32 style;
        UINT32 stretch;
        FLOAT size;
    };
    const FormatCase formats[] = {
        {"collection", u"Arial", collection.Get(), 400, 0, 5, 10},
        {"size 0", u"Arial", nullptr, 400, 0, 5, 0},
        {"negative size", u"Arial", nullptr, 400, 0, 5, -3},
        {"size NaN", u"Arial", nullptr, 400, 0, 5, nan},
        {"no family", nullptr, nullptr, 400, 0, 5, 10},
        {"weight 0", u"Arial", nullptr, 0, 0, 5, 10},
        {"weight 1000", u"Arial", nullptr, 1000, 0, 5, 10},
        {"style 3", u"Arial", nullptr, 400, 3, 5, 10},
        {"condensed", u"Arial", nullptr, 400, 0, 3, 10},
    };
    for (const FormatCase& c : formats) {
        SCOPED_TRACE(c.name);
        IDWriteTextFormat* format = reinterpret_cast<IDWriteTextFormat*>(1);
        EXPECT_EQ(factory->CreateTextFormat(c.family, c.collection, static_cast<DWRITE_FONT_WEIGHT>(c.weight),
                                            static_cast<DWRITE_FONT_STYLE>(c.style),
                                            static_cast<DWRITE_FONT_STRETCH>(c.stretch), c.size, u"", &format),
                  E_INVALIDARG);
        EXPECT_EQ(format, nullptr);
    }
    EXPECT_EQ(factory->CreateTextFormat(u"Arial", nullptr, DWRITE_FONT_WEIGHT_NORMAL, DWRITE_FONT_STYLE_NORMAL,
                                        DWRITE_FONT_STRETCH_NORMAL, 10, u"", nullptr),
              E_POINTER);

    ComPtr<IDWriteTextFormat> format;
    ASSERT_EQ(factory->CreateTextFormat(u"Arial", nullptr, DWRITE_FONT_WEIGHT_NORMAL, DWRITE_FONT_STYLE_NORMAL,
                                        DWRITE_FONT_STRETCH_NORMAL, 10, nullptr, format.GetAddressOf()),
              S_OK);
    ComPtr<ForeignFormat> foreign = MakeComObject<ForeignFormat>();
    struct LayoutCase {
        const char* name;
        const WCHAR* text;
        UINT32 length;
        IDWriteTextFormat* format;
        FLOAT maxWidth;
        HRESULT expected;
    };
    const LayoutCase layouts[] = {
        {"no format", u"A", 1, nullptr, 10, E_INVALIDARG},
        {"foreign format", u"A", 1, foreign.Get(), 10, E_INVALIDARG},
        {"no text", nullptr, 3, format.Get(), 10, E_INVALIDARG},
        {"negative width", u"A", 1, format.Get(), -1, E_INVALIDARG},
        {"width NaN", u"A", 1, format.Get(), nan, E_INVALIDARG},
        {"no text, no length", nullptr, 0, format.Get(), 10, S_OK},
    };
    for (const LayoutCase& c : layouts) {
        SCOPED_TRACE(c.name);
        IDWriteTextLayout* layout = reinterpret_cast<IDWriteTextLayout*>(1);
        EXPECT_EQ(factory->CreateTextLayout(c.text, c.length, c.format, c.maxWidth, 10, &layout), c.expected);
        if (FAILED(c.expected)) {
            EXPECT_EQ(layout, nullptr);
        } else if (layout) {
            layout->Release();
        }
    }
    EXPECT_EQ(factory->CreateTextLayout(u"A", 1, format.Get(), 10, 10, nullptr), E_POINTER);
    // A layout is a text format too, and serves as one.
    ComPtr<IDWriteTextLayout> layout;
    ASSERT_EQ(factory->CreateTextLayout(u"A", 1, format.Get(), 10, 10, layout.GetAddressOf()), S_OK);
    ComPtr<IDWriteTextLayout> again;
    EXPECT_EQ(factory->CreateTextLayout(u"A", 1, layout.Get(), 10, 10, again.GetAddressOf()), S_OK);
    EXPECT_EQ(layout->GetMetrics(nullptr), E_POINTER);

    ComPtr<IDWriteGdiInterop> interop;
    EXPECT_EQ(factory->GetGdiInterop(nullptr), E_POINTER);
    ASSERT_EQ(factory->GetGdiInterop(interop.GetAddressOf()), S_OK);
    IDWriteFont* font = reinterpret_cast<IDWriteFont*>(1);
    EXPECT_EQ(interop->CreateFontFromLOGFONT(nullptr, &font), E_INVALIDARG);
    EXPECT_EQ(font, nullptr);
    const LOGFONTW lf = LogFont(u"Arial");
    EXPECT_EQ(interop->CreateFontFromLOGFONT(&lf, nullptr), E_POINTER);
}

TEST(DWriteFactory, BadGlyphArgumentsAreRefusedBeforeTheSinkHearsAnything)
{
    ComPtr<IDWriteFont> font = FontOf(LogFont(u"Arial"));
    ASSERT_TRUE(font);
    EXPECT_EQ(font->CreateFontFace(nullptr), E_POINTER);
    ComPtr<IDWriteFontFace> face;
    ASSERT_EQ(font->CreateFontFace(face.GetAddressOf()), S_OK);

    const UINT32 codePoint = u'A';
    EXPECT_EQ(face->GetGlyphIndices(nullptr, 1, nullptr), E_INVALIDARG);
    EXPECT_EQ(face->GetGlyphIndices(&codePoint, 0, nullptr), S_OK);

    const UINT16 beyond[] = {kGlyphA, 0xFFFF};  // the font has 2620 glyphs
    DWRITE_GLYPH_METRICS m[2] = {};
    EXPECT_EQ(face->GetDesignGlyphMetrics(beyond, 1, m, TRUE), E_INVALIDARG);
    EXPECT_EQ(face->GetDesignGlyphMetrics(beyond, 2, m, FALSE), E_INVALIDARG);
    EXPECT_EQ(face->GetDesignGlyphMetrics(nullptr, 1, m, FALSE), E_INVALIDARG);

    struct Case {
        const char* name;
        FLOAT emSize;
        UINT32 count;
        BOOL sideways;
        BOOL rightToLeft;
        HRESULT expected;
    };
    const Case cases[] = {
        {"sideways", 10, 1, TRUE, FALSE, E_NOTIMPL},
        {"right to left", 10, 1, FALSE, TRUE, E_NOTIMPL},
        {"em size 0", 0, 1, FALSE, FALSE, E_INVALIDARG},
        {"negative em size", -10, 1, FALSE, FALSE, E_INVALIDARG},
        {"glyph beyond the font after a good one", 10, 2, FALSE, FALSE, E_INVALIDARG},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ComPtr<Recorder> sink = MakeComObject<Recorder>();
        EXPECT_EQ(face->GetGlyphRunOutline(c.emSize, beyond, nullptr, nullptr, c.count, c.sideways, c.rightToLeft,
                                           sink.Get()),
                  c.expected);
        EXPECT_EQ(sink->calls, "");
    }
    EXPECT_EQ(face->GetGlyphRunOutline(10, beyond, nullptr, nullptr, 1, FALSE, FALSE, nullptr), E_INVALIDARG);
    ComPtr<Recorder> sink = MakeComObject<Recorder>();
    EXPECT_EQ(face->GetGlyphRunOutline(10, nullptr, nullptr, nullptr, 1, FALSE, FALSE, sink.Get()), E_INVALIDARG);
}

// With no font at all (a configuration without font folders, read by a fresh
// process before anything asks fontconfig), nothing can be found.
TEST(DWriteFactoryDeathTest, NoFontsGiveNoFont)
{
    const std::string config = std::string(ZNTR_BUILD_DIR) + "/test-fonts-none.conf";
    {
        std::ofstream out(config);
        out << "<?xml version=\"1.0\"?>\n<fontconfig><cachedir>" << ZNTR_BUILD_DIR
            << "/test-fontcache</cachedir></fontconfig>\n";
    }
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            setenv("FONTCONFIG_FILE", config.c_str(), 1);
            IUnknown* unknown = nullptr;
            DWriteCreateFactory(DWRITE_FACTORY_TYPE_ISOLATED, IID_IDWriteFactory, &unknown);
            auto* factory = static_cast<IDWriteFactory*>(unknown);
            IDWriteTextFormat* format = nullptr;
            const HRESULT viaFormat = factory->CreateTextFormat(u"Arial", nullptr, DWRITE_FONT_WEIGHT_NORMAL,
                                                                DWRITE_FONT_STYLE_NORMAL, DWRITE_FONT_STRETCH_NORMAL,
                                                                10, u"", &format);
            IDWriteGdiInterop* interop = nullptr;
            factory->GetGdiInterop(&interop);
            IDWriteFont* font = nullptr;
            const LOGFONTW lf = LogFont(u"Arial");
            const HRESULT viaLogFont = interop->CreateFontFromLOGFONT(&lf, &font);
            std::_Exit(viaFormat == DWRITE_E_NOFONT && viaLogFont == DWRITE_E_NOFONT && !format && !font ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

// ---- Threads ----------------------------------------------------------------------

// Faces found at the same time on several threads, from the shared factory
// (one FT_Face behind them all) and from factories of their own, read the same.
// Every round measures letters no round before it did, so the threads also
// meet where the face first reads an advance.
TEST(DWriteThreads, FacesFromSeveralThreadsAtOnceReadTheSame)
{
    struct Result {
        UINT16 glyphO = 0;
        std::size_t figures = 0;
        D2D1_POINT_2F start{};
        FLOAT width = 0;
        bool operator==(const Result& o) const
        {
            return glyphO == o.glyphO && figures == o.figures && start.x == o.start.x && start.y == o.start.y &&
                   width == o.width;
        }
    };
    constexpr int kThreads = 4;
    constexpr int kRounds = 15;
    constexpr int kLetters = 6;
    const auto work = [](IDWriteFactory* factory, int round) {
        Result r;
        const LONG weight = round % 2 ? FW_BOLD : FW_NORMAL;
        std::u16string text;
        for (int i = 0; i < kLetters; ++i)
            text += static_cast<char16_t>(u'!' + round * kLetters + i);
        ComPtr<IDWriteTextFormat> format;
        ComPtr<IDWriteTextLayout> layout;
        DWRITE_TEXT_METRICS m{};
        if (SUCCEEDED(factory->CreateTextFormat(u"Arial", nullptr, static_cast<DWRITE_FONT_WEIGHT>(weight),
                                                DWRITE_FONT_STYLE_NORMAL, DWRITE_FONT_STRETCH_NORMAL, 100, u"",
                                                format.GetAddressOf())) &&
            SUCCEEDED(factory->CreateTextLayout(text.data(), kLetters, format.Get(), 1000, 1000,
                                                layout.GetAddressOf()))) {
            layout->GetMetrics(&m);
        }
        r.width = m.width;
        ComPtr<IDWriteFontFace> face = FaceOf(LogFont(u"Arial", weight), factory);
        if (!face)
            return r;
        r.glyphO = GlyphOf(face.Get(), u'O');
        ComPtr<Recorder> sink = OutlineOf(face.Get(), 100, {r.glyphO, r.glyphO});
        r.figures = sink->figures.size();
        r.start = sink->figures.empty() ? D2D1_POINT_2F{} : sink->figures.back().start;
        return r;
    };
    std::vector<Result> results(kThreads * kRounds);
    std::latch start(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            for (int i = 0; i < kRounds; ++i) {
                ComPtr<IDWriteFactory> factory =
                    MakeFactory(t % 2 ? DWRITE_FACTORY_TYPE_ISOLATED : DWRITE_FACTORY_TYPE_SHARED);
                results[t * kRounds + i] = work(factory.Get(), i);
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    ComPtr<IDWriteFactory> factory = MakeFactory(DWRITE_FACTORY_TYPE_ISOLATED);
    for (int i = 0; i < kRounds; ++i) {
        const Result expected = work(factory.Get(), i);
        EXPECT_EQ(expected.figures, 4u);
        EXPECT_GT(expected.width, 0);
        for (int t = 0; t < kThreads; ++t)
            EXPECT_TRUE(results[t * kRounds + i] == expected) << "thread " << t << " round " << i;
    }
    EXPECT_FALSE(work(factory.Get(), 0).start.x == work(factory.Get(), 1).start.x);  // regular and bold differ
}

}  // namespace
