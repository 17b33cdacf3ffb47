// DirectWrite over fontconfig (which font a family, weight, style and script
// name) and FreeType (what is in the font file).
//
// Threads: fontconfig's configuration is the process's, so every lookup runs
// under one process-wide lock. Each factory has its own FT_Library; FT_New_Face
// and FT_Done_Face run under that library's lock, and everything else a face
// does runs under the face's own lock (a face found twice is one FT_Face,
// shared by the text formats, fonts and font faces that found it).
//
// No synthesis: a family without a bold or italic file gives its regular
// outlines (GetWeight and GetStyle say what was found).
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/comobject.h"
#include "platform/dwrite.h"
#include "platform/stringapiset.h"

namespace {

// Runs a COM method's body: no exception leaves it.
template <class F>
HRESULT Guarded(F&& body) noexcept
{
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

template <class T>
T Clamped(long value)
{
    return static_cast<T>(std::clamp<long>(value, std::numeric_limits<T>::min(), std::numeric_limits<T>::max()));
}

// ---- FreeType ---------------------------------------------------------------------

struct FtLibrary {
    FT_Library handle = nullptr;
    std::mutex lock;  // around FT_New_Face and FT_Done_Face

    FtLibrary() = default;
    FtLibrary(const FtLibrary&) = delete;
    FtLibrary& operator=(const FtLibrary&) = delete;
    ~FtLibrary()
    {
        if (handle)
            FT_Done_FreeType(handle);
    }
};

// One path command of an outline, before it goes to a sink.
struct PathOp {
    enum Kind : std::uint8_t { kBegin, kLine, kBezier, kEnd } kind;
    D2D1_POINT_2F p[3];
};

// An open scalable font file (one face of it), with its metrics read once.
class FaceData {
public:
    // Null when the file cannot be opened or is not a scalable font.
    static std::shared_ptr<FaceData> Open(const std::shared_ptr<FtLibrary>& library, const std::string& path, int index)
    {
        FT_Face face = nullptr;
        {
            std::lock_guard guard(library->lock);
            if (FT_New_Face(library->handle, path.c_str(), index, &face) != 0)
                return nullptr;
        }
        auto data = std::shared_ptr<FaceData>(new FaceData(library, face));  // owns face from here on
        if (!FT_IS_SCALABLE(face) || face->units_per_EM == 0 || face->num_glyphs <= 0)
            return nullptr;
        // A font without a Unicode map (a symbol font) is read through its first map.
        if (!face->charmap && face->num_charmaps > 0)
            FT_Set_Charmap(face, face->charmaps[0]);
        data->advances_.assign(static_cast<std::size_t>(face->num_glyphs), kUnknownAdvance);
        data->ReadMetrics();
        return data;
    }

    FaceData(const FaceData&) = delete;
    FaceData& operator=(const FaceData&) = delete;
    ~FaceData()
    {
        std::lock_guard guard(library_->lock);
        FT_Done_Face(face_);
    }

    const DWRITE_FONT_METRICS& Metrics() const noexcept { return metrics_; }
    UINT32 GlyphCount() const noexcept { return static_cast<UINT32>(face_->num_glyphs); }

    void GlyphIndices(const UINT32* codePoints, UINT32 count, UINT16* glyphs)
    {
        std::lock_guard guard(lock_);
        for (UINT32 i = 0; i < count; ++i)
            glyphs[i] = GlyphIndexLocked(codePoints[i]);
    }

    // The design advance of each code point's glyph, summed (the text layout's width).
    std::uint64_t AdvanceOf(UINT32 codePoint)
    {
        std::lock_guard guard(lock_);
        return AdvanceLocked(GlyphIndexLocked(codePoint));
    }

    // E_INVALIDARG for a glyph the font does not have.
    HRESULT DesignMetrics(const UINT16* glyphs, UINT32 count, DWRITE_GLYPH_METRICS* out)
    {
        std::lock_guard guard(lock_);
        for (UINT32 i = 0; i < count; ++i)
            if (glyphs[i] >= GlyphCount())
                return E_INVALIDARG;
        for (UINT32 i = 0; i < count; ++i) {
            if (!LoadUnscaled(glyphs[i]))
                return E_FAIL;
            const FT_Glyph_Metrics& m = face_->glyph->metrics;
            DWRITE_GLYPH_METRICS& g = out[i];
            const long advance = m.horiAdvance;
            g.advanceWidth = Clamped<UINT32>(advance);
            g.leftSideBearing = Clamped<INT32>(m.horiBearingX);
            g.rightSideBearing = Clamped<INT32>(advance - m.horiBearingX - m.width);
            // Without vertical metrics a glyph stands in a cell as tall as the
            // font's ascent plus descent, its vertical origin at the ascent.
            long originY = 0;
            long advanceHeight = 0;
            if (FT_HAS_VERTICAL(face_)) {
                advanceHeight = m.vertAdvance;
                originY = m.vertBearingY + m.horiBearingY;
            } else {
                advanceHeight = static_cast<long>(metrics_.ascent) + metrics_.descent;
                originY = metrics_.ascent;
            }
            const long top = originY - m.horiBearingY;
            g.advanceHeight = Clamped<UINT32>(advanceHeight);
            g.verticalOriginY = Clamped<INT32>(originY);
            g.topSideBearing = Clamped<INT32>(top);
            g.bottomSideBearing = Clamped<INT32>(advanceHeight - top - m.height);
        }
        return S_OK;
    }

    // The run's outline as path commands; E_INVALIDARG for a glyph the font does not have.
    HRESULT Outline(float emSize, const UINT16* glyphs, const FLOAT* advances, const DWRITE_GLYPH_OFFSET* offsets,
                    UINT32 count, std::vector<PathOp>& ops)
    {
        std::lock_guard guard(lock_);
        for (UINT32 i = 0; i < count; ++i)
            if (glyphs[i] >= GlyphCount())
                return E_INVALIDARG;
        const double scale = static_cast<double>(emSize) / face_->units_per_EM;
        double penX = 0;
        for (UINT32 i = 0; i < count; ++i) {
            if (!LoadUnscaled(glyphs[i]))
                return E_FAIL;
            const FT_GlyphSlot slot = face_->glyph;
            const double advance = advances ? advances[i] : static_cast<double>(slot->metrics.horiAdvance) * scale;
            if (slot->format == FT_GLYPH_FORMAT_OUTLINE && slot->outline.n_contours > 0) {
                const double x = penX + (offsets ? offsets[i].advanceOffset : 0.0f);
                const double y = offsets ? -static_cast<double>(offsets[i].ascenderOffset) : 0.0;
                if (!Decompose(slot->outline, scale, x, y, ops))
                    return E_FAIL;
            }
            penX += advance;
        }
        return S_OK;
    }

private:
    static constexpr std::int64_t kUnknownAdvance = -1;

    FaceData(std::shared_ptr<FtLibrary> library, FT_Face face) : library_(std::move(library)), face_(face) {}

    bool LoadUnscaled(UINT16 glyph)
    {
        return FT_Load_Glyph(face_, glyph, FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP) == 0;
    }

    UINT16 GlyphIndexLocked(UINT32 codePoint)
    {
        if (!face_->charmap || codePoint > 0x10FFFF)
            return 0;
        FT_UInt glyph = FT_Get_Char_Index(face_, codePoint);
        // Symbol fonts map their characters at U+F000 and above.
        if (glyph == 0 && face_->charmap->encoding == FT_ENCODING_MS_SYMBOL && codePoint < 0x100)
            glyph = FT_Get_Char_Index(face_, 0xF000 + codePoint);
        return glyph < GlyphCount() ? static_cast<UINT16>(glyph) : 0;
    }

    std::uint64_t AdvanceLocked(UINT16 glyph)
    {
        std::int64_t& advance = advances_[glyph];
        if (advance == kUnknownAdvance)
            advance = LoadUnscaled(glyph) ? std::max<std::int64_t>(face_->glyph->metrics.horiAdvance, 0) : 0;
        return static_cast<std::uint64_t>(advance);
    }

    void ReadMetrics()
    {
        DWRITE_FONT_METRICS& m = metrics_;
        m.designUnitsPerEm = face_->units_per_EM;
        // FreeType's ascender, descender and height are the hhea values for
        // TrueType and OpenType fonts (the font's own for other formats).
        const long hheaAscent = face_->ascender;
        const long hheaDescent = -static_cast<long>(face_->descender);
        const long hheaGap = face_->height - (hheaAscent + hheaDescent);
        const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face_, FT_SFNT_OS2));
        if (os2 && os2->version == 0xFFFF)
            os2 = nullptr;
        // Ascent and descent are the OS/2 table's usWinAscent and usWinDescent
        // (the lines no glyph crosses) when the font has that table, else the
        // hhea ascender and descender. With the OS/2 values the line gap is what
        // the hhea line spacing has beyond them, so the line is never tighter
        // than the font asks for.
        if (os2 && os2->usWinAscent + os2->usWinDescent > 0) {
            m.ascent = os2->usWinAscent;
            m.descent = os2->usWinDescent;
            m.lineGap = Clamped<INT16>(std::max(0L, hheaAscent + hheaDescent + hheaGap -
                                                        (static_cast<long>(os2->usWinAscent) + os2->usWinDescent)));
        } else {
            m.ascent = Clamped<UINT16>(hheaAscent);
            m.descent = Clamped<UINT16>(hheaDescent);
            m.lineGap = Clamped<INT16>(std::max(0L, hheaGap));
        }
        // OS/2 version 2 and later carry the cap and x heights; before that
        // they are the tops of 'H' and 'x'.
        if (os2 && os2->version >= 2) {
            m.capHeight = Clamped<UINT16>(os2->sCapHeight);
            m.xHeight = Clamped<UINT16>(os2->sxHeight);
        } else {
            m.capHeight = GlyphTop(u'H');
            m.xHeight = GlyphTop(u'x');
        }
        if (const auto* post = static_cast<const TT_Postscript*>(FT_Get_Sfnt_Table(face_, FT_SFNT_POST))) {
            m.underlinePosition = Clamped<INT16>(post->underlinePosition);
            m.underlineThickness = Clamped<UINT16>(post->underlineThickness);
        }
        if (os2) {
            m.strikethroughPosition = os2->yStrikeoutPosition;
            m.strikethroughThickness = Clamped<UINT16>(os2->yStrikeoutSize);
        }
    }

    UINT16 GlyphTop(UINT32 codePoint)
    {
        const UINT16 glyph = GlyphIndexLocked(codePoint);
        if (glyph == 0 || !LoadUnscaled(glyph))
            return 0;
        return Clamped<UINT16>(face_->glyph->metrics.horiBearingY);
    }

    // Walks one glyph's outline in font units into path commands. FreeType is
    // asked for the coordinates doubled (shift 1), so that the on-curve points
    // it puts between two off-curve ones are exact midpoints, not rounded.
    static bool Decompose(FT_Outline& outline, double scale, double x, double y, std::vector<PathOp>& ops)
    {
        struct Walk {
            std::vector<PathOp>& ops;
            double scale;  // per doubled font unit
            double x;
            double y;
            FT_Vector current{};
            bool open = false;
            std::size_t begin = 0;  // index of the open figure's kBegin

            D2D1_POINT_2F At(double px, double py) const
            {
                return {static_cast<FLOAT>(x + px * scale), static_cast<FLOAT>(y - py * scale)};
            }
            D2D1_POINT_2F At(const FT_Vector& v) const
            {
                return At(static_cast<double>(v.x), static_cast<double>(v.y));
            }
            void Close()
            {
                if (!open)
                    return;
                open = false;
                // Lines back to the start are the close itself.
                const D2D1_POINT_2F first = ops[begin].p[0];
                while (ops.back().kind == PathOp::kLine && ops.back().p[0].x == first.x && ops.back().p[0].y == first.y)
                    ops.pop_back();
                if (ops.size() == begin + 1)
                    ops.pop_back();  // a lone point fills nothing
                else
                    ops.push_back({PathOp::kEnd, {}});
            }
            static Walk& Of(void* user) { return *static_cast<Walk*>(user); }
        };
        static const FT_Outline_Funcs kFuncs = {
            [](const FT_Vector* to, void* user) -> int {
                Walk& w = Walk::Of(user);
                w.Close();
                w.begin = w.ops.size();
                w.ops.push_back({PathOp::kBegin, {w.At(*to)}});
                w.current = *to;
                w.open = true;
                return 0;
            },
            [](const FT_Vector* to, void* user) -> int {
                Walk& w = Walk::Of(user);
                w.ops.push_back({PathOp::kLine, {w.At(*to)}});
                w.current = *to;
                return 0;
            },
            [](const FT_Vector* control, const FT_Vector* to, void* user) -> int {
                // The quadratic p0, q, p2 as the cubic p0, p0 + 2/3 (q - p0), p2 + 2/3 (q - p2), p2.
                Walk& w = Walk::Of(user);
                const double p0x = static_cast<double>(w.current.x), p0y = static_cast<double>(w.current.y);
                const double qx = static_cast<double>(control->x), qy = static_cast<double>(control->y);
                const double p2x = static_cast<double>(to->x), p2y = static_cast<double>(to->y);
                w.ops.push_back({PathOp::kBezier,
                                 {w.At(p0x + 2.0 / 3.0 * (qx - p0x), p0y + 2.0 / 3.0 * (qy - p0y)),
                                  w.At(p2x + 2.0 / 3.0 * (qx - p2x), p2y + 2.0 / 3.0 * (qy - p2y)), w.At(*to)}});
                w.current = *to;
                return 0;
            },
            [](const FT_Vector* c1, const FT_Vector* c2, const FT_Vector* to, void* user) -> int {
                Walk& w = Walk::Of(user);
                w.ops.push_back({PathOp::kBezier, {w.At(*c1), w.At(*c2), w.At(*to)}});
                w.current = *to;
                return 0;
            },
            1,  // shift
            0,  // delta
        };
        Walk walk{ops, scale / 2, x, y};
        if (FT_Outline_Decompose(&outline, &kFuncs, &walk) != 0)
            return false;
        walk.Close();
        return true;
    }

    std::shared_ptr<FtLibrary> library_;
    FT_Face face_;
    std::mutex lock_;  // every use of face_ after Open
    std::vector<std::int64_t> advances_;
    DWRITE_FONT_METRICS metrics_{};
};

// ---- Finding fonts ----------------------------------------------------------------

// A font found: its face and what it is (which may differ from what was asked).
struct FoundFont {
    std::shared_ptr<FaceData> face;
    DWRITE_FONT_WEIGHT weight = DWRITE_FONT_WEIGHT_NORMAL;
    DWRITE_FONT_STYLE style = DWRITE_FONT_STYLE_NORMAL;
};

std::mutex& FontconfigLock()
{
    static std::mutex lock;
    return lock;
}

// What fontconfig gives for the description: the file, its face index, weight and slant.
struct Match {
    std::string file;
    int index = 0;
    double weight = FC_WEIGHT_REGULAR;
    int slant = FC_SLANT_ROMAN;
};

bool MatchFont(const std::string& family, DWRITE_FONT_WEIGHT weight, DWRITE_FONT_STYLE style, const char* lang,
               Match& out)
{
    std::lock_guard guard(FontconfigLock());
    FcPattern* pattern = FcPatternCreate();
    if (!pattern)
        throw std::bad_alloc();
    std::unique_ptr<FcPattern, decltype(&FcPatternDestroy)> patternOwner(pattern, &FcPatternDestroy);
    if (!family.empty())
        FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    FcPatternAddDouble(pattern, FC_WEIGHT, FcWeightFromOpenTypeDouble(static_cast<double>(weight)));
    FcPatternAddInteger(pattern, FC_SLANT,
                        style == DWRITE_FONT_STYLE_ITALIC    ? FC_SLANT_ITALIC
                        : style == DWRITE_FONT_STYLE_OBLIQUE ? FC_SLANT_OBLIQUE
                                                             : FC_SLANT_ROMAN);
    if (lang)
        FcPatternAddString(pattern, FC_LANG, reinterpret_cast<const FcChar8*>(lang));
    FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
    if (!FcConfigSubstitute(nullptr, pattern, FcMatchPattern))
        return false;
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    if (!match)
        return false;
    std::unique_ptr<FcPattern, decltype(&FcPatternDestroy)> matchOwner(match, &FcPatternDestroy);
    FcChar8* file = nullptr;
    if (FcPatternGetString(match, FC_FILE, 0, &file) != FcResultMatch || !file)
        return false;
    out.file = reinterpret_cast<const char*>(file);
    FcPatternGetInteger(match, FC_INDEX, 0, &out.index);
    FcPatternGetDouble(match, FC_WEIGHT, 0, &out.weight);
    FcPatternGetInteger(match, FC_SLANT, 0, &out.slant);
    return true;
}

// The fonts of one factory: its FreeType library, the faces it opened and the
// lookups it made (a family found again is not looked up again).
class FontSource {
public:
    // Null when FreeType cannot start.
    static std::shared_ptr<FontSource> Create()
    {
        auto library = std::make_shared<FtLibrary>();
        if (FT_Init_FreeType(&library->handle) != 0) {
            library->handle = nullptr;
            return nullptr;
        }
        return std::shared_ptr<FontSource>(new FontSource(std::move(library)));
    }

    // DWRITE_E_NOFONT when the lookup gives no usable scalable font file.
    HRESULT Find(std::u16string_view family, DWRITE_FONT_WEIGHT weight, DWRITE_FONT_STYLE style, const char* lang,
                 FoundFont& out)
    {
        Key key{WideToUtf8(family), weight, style, lang ? lang : ""};
        std::lock_guard guard(lock_);
        if (const auto it = found_.find(key); it != found_.end()) {
            out = it->second;
            return S_OK;
        }
        Match match;
        if (!MatchFont(std::get<0>(key), weight, style, lang, match))
            return DWRITE_E_NOFONT;
        std::shared_ptr<FaceData>& face = faces_[{match.file, match.index}];
        if (!face)
            face = FaceData::Open(library_, match.file, match.index);
        if (!face) {
            faces_.erase({match.file, match.index});
            return DWRITE_E_NOFONT;
        }
        FoundFont found;
        found.face = face;
        const long otWeight = std::lround(FcWeightToOpenTypeDouble(match.weight));
        found.weight = static_cast<DWRITE_FONT_WEIGHT>(std::clamp(otWeight, 1L, 999L));
        found.style = match.slant == FC_SLANT_ITALIC    ? DWRITE_FONT_STYLE_ITALIC
                      : match.slant == FC_SLANT_OBLIQUE ? DWRITE_FONT_STYLE_OBLIQUE
                                                        : DWRITE_FONT_STYLE_NORMAL;
        // Lookups with ever new names would grow without end: forget them now
        // and then (faces in use stay open, their holders keep them).
        if (found_.size() >= kMaxLookups) {
            found_.clear();
            std::erase_if(faces_,
                          [&](const auto& entry) { return entry.second.use_count() == 1 && entry.second != face; });
        }
        found_.emplace(std::move(key), found);
        out = std::move(found);
        return S_OK;
    }

private:
    static constexpr std::size_t kMaxLookups = 256;
    using Key = std::tuple<std::string, DWRITE_FONT_WEIGHT, DWRITE_FONT_STYLE, std::string>;

    explicit FontSource(std::shared_ptr<FtLibrary> library) : library_(std::move(library)) {}

    std::shared_ptr<FtLibrary> library_;
    std::mutex lock_;
    std::map<Key, FoundFont> found_;
    std::map<std::pair<std::string, int>, std::shared_ptr<FaceData>> faces_;
};

// ---- Fonts and faces --------------------------------------------------------------

class FontFace final : public ComObject<IDWriteFontFace> {
public:
    explicit FontFace(std::shared_ptr<FaceData> face) : face_(std::move(face)) {}

    void STDMETHODCALLTYPE GetMetrics(DWRITE_FONT_METRICS* fontFaceMetrics) override
    {
        if (fontFaceMetrics)
            *fontFaceMetrics = face_->Metrics();
    }

    HRESULT STDMETHODCALLTYPE GetGlyphIndices(const UINT32* codePoints, UINT32 codePointCount,
                                              UINT16* glyphIndices) override
    {
        if (codePointCount == 0)
            return S_OK;
        if (!codePoints || !glyphIndices)
            return E_INVALIDARG;
        return Guarded([&] {
            face_->GlyphIndices(codePoints, codePointCount, glyphIndices);
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE GetDesignGlyphMetrics(const UINT16* glyphIndices, UINT32 glyphCount,
                                                    DWRITE_GLYPH_METRICS* glyphMetrics, BOOL isSideways) override
    {
        if (isSideways)
            return E_INVALIDARG;
        if (glyphCount == 0)
            return S_OK;
        if (!glyphIndices || !glyphMetrics)
            return E_INVALIDARG;
        return Guarded([&] { return face_->DesignMetrics(glyphIndices, glyphCount, glyphMetrics); });
    }

    HRESULT STDMETHODCALLTYPE GetGlyphRunOutline(FLOAT emSize, const UINT16* glyphIndices, const FLOAT* glyphAdvances,
                                                 const DWRITE_GLYPH_OFFSET* glyphOffsets, UINT32 glyphCount,
                                                 BOOL isSideways, BOOL isRightToLeft,
                                                 IDWriteGeometrySink* geometrySink) override
    {
        if (!geometrySink || (glyphCount > 0 && !glyphIndices) || !std::isfinite(emSize) || emSize <= 0)
            return E_INVALIDARG;
        if (isSideways || isRightToLeft)
            return E_NOTIMPL;
        return Guarded([&] {
            // The whole run is read before the sink hears of it: a glyph that
            // fails leaves the sink untouched, and the sink is never called
            // with the face locked.
            std::vector<PathOp> ops;
            if (const HRESULT hr = face_->Outline(emSize, glyphIndices, glyphAdvances, glyphOffsets, glyphCount, ops);
                FAILED(hr))
                return hr;
            Send(ops, *geometrySink);
            return S_OK;
        });
    }

private:
    // SetFillMode, then each figure with its consecutive lines and curves in one call each.
    static void Send(const std::vector<PathOp>& ops, IDWriteGeometrySink& sink)
    {
        sink.SetFillMode(D2D1_FILL_MODE_WINDING);
        std::vector<D2D1_POINT_2F> lines;
        std::vector<D2D1_BEZIER_SEGMENT> beziers;
        const auto flush = [&] {
            if (!lines.empty())
                sink.AddLines(lines.data(), static_cast<UINT32>(lines.size()));
            if (!beziers.empty())
                sink.AddBeziers(beziers.data(), static_cast<UINT32>(beziers.size()));
            lines.clear();
            beziers.clear();
        };
        for (const PathOp& op : ops) {
            switch (op.kind) {
            case PathOp::kBegin:
                sink.BeginFigure(op.p[0], D2D1_FIGURE_BEGIN_FILLED);
                break;
            case PathOp::kLine:
                if (!beziers.empty())
                    flush();
                lines.push_back(op.p[0]);
                break;
            case PathOp::kBezier:
                if (!lines.empty())
                    flush();
                beziers.push_back({op.p[0], op.p[1], op.p[2]});
                break;
            case PathOp::kEnd:
                flush();
                sink.EndFigure(D2D1_FIGURE_END_CLOSED);
                break;
            }
        }
    }

    std::shared_ptr<FaceData> face_;
};

class Font final : public ComObject<IDWriteFont> {
public:
    explicit Font(FoundFont found) : found_(std::move(found)) {}

    HRESULT STDMETHODCALLTYPE CreateFontFace(IDWriteFontFace** fontFace) override
    {
        if (!fontFace)
            return E_POINTER;
        *fontFace = nullptr;
        ComPtr<FontFace> face = MakeComObject<FontFace>(found_.face);
        if (!face)
            return E_OUTOFMEMORY;
        *fontFace = face.Detach();
        return S_OK;
    }
    DWRITE_FONT_WEIGHT STDMETHODCALLTYPE GetWeight() override { return found_.weight; }
    DWRITE_FONT_STYLE STDMETHODCALLTYPE GetStyle() override { return found_.style; }

private:
    FoundFont found_;
};

// ---- Text formats and layouts -----------------------------------------------------

// What a text format (and so a layout) was made with: the size, the weight and
// style asked for, and the font they found.
struct FormatState {
    FoundFont font;
    FLOAT size = 0;
    DWRITE_FONT_WEIGHT weight = DWRITE_FONT_WEIGHT_NORMAL;
    DWRITE_FONT_STYLE style = DWRITE_FONT_STYLE_NORMAL;
};

template <class I>
class FormatObject : public ComObject<I>, public FormatState {
public:
    explicit FormatObject(FormatState state) : FormatState(std::move(state)) {}
    FLOAT STDMETHODCALLTYPE GetFontSize() override { return size; }
    DWRITE_FONT_WEIGHT STDMETHODCALLTYPE GetFontWeight() override { return weight; }
    DWRITE_FONT_STYLE STDMETHODCALLTYPE GetFontStyle() override { return style; }
};

using TextFormat = FormatObject<IDWriteTextFormat>;

// White space that does not count in a line's width at its end.
bool IsWhiteSpace(UINT32 c)
{
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

class TextLayout final : public FormatObject<IDWriteTextLayout> {
public:
    TextLayout(FormatState state, std::u16string_view text, FLOAT maxWidth, FLOAT maxHeight)
        : FormatObject(std::move(state))
    {
        // Code points from the UTF-16 text; a surrogate without its partner
        // is a code point of its own, which no font maps: the missing glyph.
        std::uint64_t total = 0;
        std::uint64_t beforeTrailing = 0;
        for (std::size_t i = 0; i < text.size(); ++i) {
            UINT32 c = text[i];
            if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF)
                c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
            total += font.face->AdvanceOf(c);
            if (!IsWhiteSpace(c))
                beforeTrailing = total;
        }
        const DWRITE_FONT_METRICS& fm = font.face->Metrics();
        const double perUnit = static_cast<double>(size) / fm.designUnitsPerEm;
        metrics_.width = static_cast<FLOAT>(static_cast<double>(beforeTrailing) * perUnit);
        metrics_.widthIncludingTrailingWhitespace = static_cast<FLOAT>(static_cast<double>(total) * perUnit);
        metrics_.lineCount = text.empty() ? 0 : 1;
        if (!text.empty())
            metrics_.height = static_cast<FLOAT>((fm.ascent + fm.descent + fm.lineGap) * perUnit);
        metrics_.layoutWidth = maxWidth;
        metrics_.layoutHeight = maxHeight;
        metrics_.maxBidiReorderingDepth = 1;
    }

    HRESULT STDMETHODCALLTYPE GetMetrics(DWRITE_TEXT_METRICS* textMetrics) override
    {
        if (!textMetrics)
            return E_POINTER;
        *textMetrics = metrics_;
        return S_OK;
    }

private:
    DWRITE_TEXT_METRICS metrics_{};
};

// ---- GDI interop and the factory --------------------------------------------------

// The language a font must support for a character set; null for none.
const char* LanguageOf(BYTE charSet)
{
    switch (charSet) {
    case SHIFTJIS_CHARSET: return "ja";
    case HANGUL_CHARSET: return "ko";
    case GB2312_CHARSET: return "zh-cn";
    case CHINESEBIG5_CHARSET: return "zh-tw";
    case GREEK_CHARSET: return "el";
    case HEBREW_CHARSET: return "he";
    case ARABIC_CHARSET: return "ar";
    case RUSSIAN_CHARSET: return "ru";
    case THAI_CHARSET: return "th";
    case EASTEUROPE_CHARSET: return "pl";
    case TURKISH_CHARSET: return "tr";
    case BALTIC_CHARSET: return "lt";
    default: return nullptr;
    }
}

// Makes a T and hands it out through its interface I.
template <class T, class I, class... Args>
HRESULT Hand(I** out, Args&&... args)
{
    ComPtr<T> object = MakeComObject<T>(std::forward<Args>(args)...);
    if (!object)
        return E_OUTOFMEMORY;
    *out = object.Detach();
    return S_OK;
}

class GdiInterop final : public ComObject<IDWriteGdiInterop> {
public:
    explicit GdiInterop(std::shared_ptr<FontSource> fonts) : fonts_(std::move(fonts)) {}

    HRESULT STDMETHODCALLTYPE CreateFontFromLOGFONT(const LOGFONTW* logFont, IDWriteFont** font) override
    {
        if (!font)
            return E_POINTER;
        *font = nullptr;
        if (!logFont)
            return E_INVALIDARG;
        return Guarded([&] {
            // At most LF_FACESIZE - 1 units: the last is the terminator's place.
            const WCHAR* name = logFont->lfFaceName;
            const std::u16string_view family(name, std::find(name, name + LF_FACESIZE - 1, u'\0') - name);
            // FW_DONTCARE (and anything below it) is the regular weight; the
            // heaviest is 999.
            const LONG w = logFont->lfWeight <= FW_DONTCARE ? FW_NORMAL : std::min<LONG>(logFont->lfWeight, 999);
            const DWRITE_FONT_STYLE style = logFont->lfItalic ? DWRITE_FONT_STYLE_ITALIC : DWRITE_FONT_STYLE_NORMAL;
            FoundFont found;
            if (const HRESULT hr = fonts_->Find(family, static_cast<DWRITE_FONT_WEIGHT>(w), style,
                                                LanguageOf(logFont->lfCharSet), found);
                FAILED(hr))
                return hr;
            return Hand<Font>(font, std::move(found));
        });
    }

private:
    std::shared_ptr<FontSource> fonts_;
};

class Factory final : public ComObject<IDWriteFactory> {
public:
    explicit Factory(std::shared_ptr<FontSource> fonts) : fonts_(std::move(fonts)) {}

    // Only the normal stretch: a LOGFONTW cannot ask for another, and a text
    // format and the font found for it must agree.
    HRESULT STDMETHODCALLTYPE CreateTextFormat(const WCHAR* fontFamilyName, IDWriteFontCollection* fontCollection,
                                               DWRITE_FONT_WEIGHT fontWeight, DWRITE_FONT_STYLE fontStyle,
                                               DWRITE_FONT_STRETCH fontStretch, FLOAT fontSize, const WCHAR*,
                                               IDWriteTextFormat** textFormat) override
    {
        if (!textFormat)
            return E_POINTER;
        *textFormat = nullptr;
        if (!fontFamilyName || fontCollection || fontWeight < 1 || fontWeight > 999 ||
            fontStyle > DWRITE_FONT_STYLE_ITALIC || fontStretch != DWRITE_FONT_STRETCH_NORMAL ||
            !std::isfinite(fontSize) || fontSize <= 0)
            return E_INVALIDARG;
        return Guarded([&] {
            FormatState state;
            state.size = fontSize;
            state.weight = fontWeight;
            state.style = fontStyle;
            if (const HRESULT hr = fonts_->Find(fontFamilyName, fontWeight, fontStyle, nullptr, state.font); FAILED(hr))
                return hr;
            return Hand<TextFormat>(textFormat, std::move(state));
        });
    }

    // maxWidth and maxHeight only come back as the layout's size: the text is one line.
    HRESULT STDMETHODCALLTYPE CreateTextLayout(const WCHAR* string, UINT32 stringLength, IDWriteTextFormat* textFormat,
                                               FLOAT maxWidth, FLOAT maxHeight, IDWriteTextLayout** textLayout) override
    {
        if (!textLayout)
            return E_POINTER;
        *textLayout = nullptr;
        // Formats (and layouts) of this implementation only.
        const auto* state = dynamic_cast<const FormatState*>(textFormat);
        if (!state || (!string && stringLength > 0) || std::isnan(maxWidth) || std::isnan(maxHeight) || maxWidth < 0 ||
            maxHeight < 0)
            return E_INVALIDARG;
        return Guarded([&] {
            return Hand<TextLayout>(textLayout, *state, std::u16string_view(string, stringLength), maxWidth, maxHeight);
        });
    }

    HRESULT STDMETHODCALLTYPE GetGdiInterop(IDWriteGdiInterop** gdiInterop) override
    {
        if (!gdiInterop)
            return E_POINTER;
        *gdiInterop = nullptr;
        return Guarded([&] { return Hand<GdiInterop>(gdiInterop, fonts_); });
    }

private:
    std::shared_ptr<FontSource> fonts_;
};

HRESULT NewFactory(ComPtr<Factory>& out)
{
    return Guarded([&] {
        std::shared_ptr<FontSource> fonts = FontSource::Create();
        if (!fonts)
            return E_FAIL;
        out = MakeComObject<Factory>(std::move(fonts));
        return out ? S_OK : E_OUTOFMEMORY;
    });
}

}  // namespace

HRESULT DWriteCreateFactory(DWRITE_FACTORY_TYPE factoryType, REFIID iid, IUnknown** factory)
{
    if (!factory)
        return E_POINTER;
    *factory = nullptr;
    ComPtr<Factory> object;
    if (factoryType == DWRITE_FACTORY_TYPE_SHARED) {
        // Made on first use and kept for the life of the process (never
        // released: work may still be under way on other threads at exit).
        static std::mutex lock;
        static Factory* shared = nullptr;
        std::lock_guard guard(lock);
        if (!shared) {
            if (const HRESULT hr = NewFactory(object); FAILED(hr))
                return hr;
            shared = object.Detach();
        }
        object = shared;
    } else if (factoryType == DWRITE_FACTORY_TYPE_ISOLATED) {
        if (const HRESULT hr = NewFactory(object); FAILED(hr))
            return hr;
    } else {
        return E_INVALIDARG;
    }
    return object->QueryInterface(iid, reinterpret_cast<void**>(factory));
}
