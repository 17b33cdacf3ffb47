// DirectWrite as far as the driver uses it: a shared factory, text formats
// and single-line text layouts (for the width of a text), the GDI interop
// that finds a font from a LOGFONTW, and font faces with their metrics,
// glyph indices, design glyph metrics and glyph outlines.
//
// Fonts are the machine's, found by family name, weight, style and
// character set through the font configuration, with its substitutions when
// the family is absent (a metric-compatible free font for a well-known
// commercial family). A text layout and the face found for the same family,
// weight and style agree: the layout's width is the sum of the glyph
// advances at the format's size (no kerning, no shaping, no fallback to
// another font; a character the font lacks takes the missing glyph).
//
// Outlines come in the coordinates of text drawing: x to the right, y down,
// the glyph origin on the baseline at (0, 0), scaled to the em size; the
// font's quadratic curves arrive raised to cubic ones exactly.
//
// Only what the files hold: no synthetic bold or oblique for a family that
// lacks the face (the font's weight and style say what was found).
#pragma once

#include "platform/d2d1.h"
#include "platform/wingdi.h"

enum DWRITE_FACTORY_TYPE : DWORD { DWRITE_FACTORY_TYPE_SHARED = 0, DWRITE_FACTORY_TYPE_ISOLATED = 1 };
enum DWRITE_FONT_WEIGHT : DWORD {
    DWRITE_FONT_WEIGHT_THIN = 100,
    DWRITE_FONT_WEIGHT_LIGHT = 300,
    DWRITE_FONT_WEIGHT_NORMAL = 400,
    DWRITE_FONT_WEIGHT_MEDIUM = 500,
    DWRITE_FONT_WEIGHT_SEMI_BOLD = 600,
    DWRITE_FONT_WEIGHT_BOLD = 700,
    DWRITE_FONT_WEIGHT_EXTRA_BOLD = 800,
    DWRITE_FONT_WEIGHT_BLACK = 900,
};
enum DWRITE_FONT_STYLE : DWORD { DWRITE_FONT_STYLE_NORMAL = 0, DWRITE_FONT_STYLE_OBLIQUE = 1, DWRITE_FONT_STYLE_ITALIC = 2 };
enum DWRITE_FONT_STRETCH : DWORD { DWRITE_FONT_STRETCH_NORMAL = 5 };

struct DWRITE_TEXT_METRICS {
    FLOAT left;
    FLOAT top;
    FLOAT width;  // without trailing white space
    FLOAT widthIncludingTrailingWhitespace;
    FLOAT height;
    FLOAT layoutWidth;
    FLOAT layoutHeight;
    UINT32 maxBidiReorderingDepth;
    UINT32 lineCount;
};

// In design units of the font. Ascent and descent are the OS/2 table's
// usWinAscent and usWinDescent (else the hhea ascender and descender); the
// line gap is then what the hhea line spacing has beyond them. Cap and x
// heights from OS/2 (version 2 on), else the tops of 'H' and 'x'; underline
// from the post table, strikethrough from OS/2, else 0.
struct DWRITE_FONT_METRICS {
    UINT16 designUnitsPerEm;
    UINT16 ascent;
    UINT16 descent;
    INT16 lineGap;
    UINT16 capHeight;
    UINT16 xHeight;
    INT16 underlinePosition;
    UINT16 underlineThickness;
    INT16 strikethroughPosition;
    UINT16 strikethroughThickness;
};

// In design units of the font. Without vertical metrics in the font the
// glyph's cell is ascent plus descent tall, with its vertical origin at the ascent.
struct DWRITE_GLYPH_METRICS {
    INT32 leftSideBearing;
    UINT32 advanceWidth;
    INT32 rightSideBearing;
    INT32 topSideBearing;
    UINT32 advanceHeight;
    INT32 bottomSideBearing;
    INT32 verticalOriginY;
};

struct DWRITE_GLYPH_OFFSET {
    FLOAT advanceOffset;
    FLOAT ascenderOffset;
};

using IDWriteGeometrySink = ID2D1SimplifiedGeometrySink;

ZNTR_DEFINE_IID(IDWriteFontCollection, "A84CEE02-3EEA-4EEE-A827-87C1A02A0FCC");
ZNTR_DEFINE_IID(IDWriteTextFormat, "9C906818-31D7-4FD3-A151-7C5E225DB55A");
ZNTR_DEFINE_IID(IDWriteTextLayout, "53737037-6D14-410B-9BFE-0B182BB70961");
ZNTR_DEFINE_IID(IDWriteFontFace, "5F49804D-7024-4D43-BFA9-D25984F53849");
ZNTR_DEFINE_IID(IDWriteFont, "ACD16696-8C14-4F5D-877E-FE3FC1D32737");
ZNTR_DEFINE_IID(IDWriteGdiInterop, "1EDD9491-9853-4299-898F-6432983B6F3A");
ZNTR_DEFINE_IID(IDWriteFactory, "B859EE5A-D838-4B5B-A2E8-1ADC7D93DB48");

// Only the system collection exists: pass null where a collection is asked for.
struct IDWriteFontCollection : IUnknown {
    using Base = IUnknown;

protected:
    ~IDWriteFontCollection() = default;
};

// The size, weight and style it was made with (not those of the font found).
struct IDWriteTextFormat : IUnknown {
    using Base = IUnknown;
    STDMETHOD_(FLOAT, GetFontSize)() = 0;
    STDMETHOD_(DWRITE_FONT_WEIGHT, GetFontWeight)() = 0;
    STDMETHOD_(DWRITE_FONT_STYLE, GetFontStyle)() = 0;

protected:
    ~IDWriteTextFormat() = default;
};

struct IDWriteTextLayout : IDWriteTextFormat {
    using Base = IDWriteTextFormat;
    // One line: lineCount 1 (0 for an empty text, whose height is 0), height =
    // the font's ascent plus descent plus line gap at the format's size. The
    // text's surrogate pairs are one code point each; a surrogate without its
    // partner takes the missing glyph. width leaves out the white space at the
    // end (Unicode White_Space, the no-break spaces and tab among it).
    // layoutWidth and layoutHeight are the maximum sizes given; nothing wraps.
    STDMETHOD(GetMetrics)(DWRITE_TEXT_METRICS* textMetrics) = 0;

protected:
    ~IDWriteTextLayout() = default;
};

struct IDWriteFontFace : IUnknown {
    using Base = IUnknown;
    STDMETHOD_(void, GetMetrics)(DWRITE_FONT_METRICS* fontFaceMetrics) = 0;
    // Glyph 0 for a code point the font lacks (a surrogate among them: callers
    // decode UTF-16 first).
    STDMETHOD(GetGlyphIndices)(const UINT32* codePoints, UINT32 codePointCount, UINT16* glyphIndices) = 0;
    STDMETHOD(GetDesignGlyphMetrics)(const UINT16* glyphIndices, UINT32 glyphCount, DWRITE_GLYPH_METRICS* glyphMetrics,
                                     BOOL isSideways) = 0;  // E_INVALIDARG when sideways
    // The glyphs' outlines at emSize, one after another along the baseline
    // (by their advances, or by glyphAdvances when given), into the sink.
    // Sideways and right-to-left runs are not supported (E_NOTIMPL). The sink
    // gets SetFillMode(WINDING), then per contour a filled figure that ends
    // closed (the closing line is the close itself); a blank glyph sends
    // nothing. Close is the caller's. Bad arguments (a glyph beyond the font
    // among them) fail before the sink hears anything.
    STDMETHOD(GetGlyphRunOutline)(FLOAT emSize, const UINT16* glyphIndices, const FLOAT* glyphAdvances,
                                  const DWRITE_GLYPH_OFFSET* glyphOffsets, UINT32 glyphCount, BOOL isSideways,
                                  BOOL isRightToLeft, IDWriteGeometrySink* geometrySink) = 0;

protected:
    ~IDWriteFontFace() = default;
};

struct IDWriteFont : IUnknown {
    using Base = IUnknown;
    STDMETHOD(CreateFontFace)(IDWriteFontFace** fontFace) = 0;
    // Those of the font found.
    STDMETHOD_(DWRITE_FONT_WEIGHT, GetWeight)() = 0;
    STDMETHOD_(DWRITE_FONT_STYLE, GetStyle)() = 0;

protected:
    ~IDWriteFont() = default;
};

struct IDWriteGdiInterop : IUnknown {
    using Base = IUnknown;
    // DWRITE_E_NOFONT when no font at all can be found. lfHeight plays no part
    // (faces are scalable).
    STDMETHOD(CreateFontFromLOGFONT)(const LOGFONTW* logFont, IDWriteFont** font) = 0;

protected:
    ~IDWriteGdiInterop() = default;
};

struct IDWriteFactory : IUnknown {
    using Base = IUnknown;
    // fontCollection must be null (the system collection); localeName may be
    // empty or null and plays no part. Weight 1..999, size > 0, and only the
    // normal stretch (a LOGFONTW cannot ask for another, and the two must find
    // the same font); else E_INVALIDARG. DWRITE_E_NOFONT as for the GDI interop.
    STDMETHOD(CreateTextFormat)(const WCHAR* fontFamilyName, IDWriteFontCollection* fontCollection,
                                DWRITE_FONT_WEIGHT fontWeight, DWRITE_FONT_STYLE fontStyle,
                                DWRITE_FONT_STRETCH fontStretch, FLOAT fontSize, const WCHAR* localeName,
                                IDWriteTextFormat** textFormat) = 0;
    // textFormat must come from a factory's CreateTextFormat (a layout will do too).
    STDMETHOD(CreateTextLayout)(const WCHAR* string, UINT32 stringLength, IDWriteTextFormat* textFormat,
                                FLOAT maxWidth, FLOAT maxHeight, IDWriteTextLayout** textLayout) = 0;
    STDMETHOD(GetGdiInterop)(IDWriteGdiInterop** gdiInterop) = 0;

protected:
    ~IDWriteFactory() = default;
};

inline constexpr HRESULT DWRITE_E_NOFONT = static_cast<HRESULT>(0x88985002);

// The shared factory (the same object on every call) or a new isolated one.
HRESULT DWriteCreateFactory(DWRITE_FACTORY_TYPE factoryType, REFIID iid, IUnknown** factory);
