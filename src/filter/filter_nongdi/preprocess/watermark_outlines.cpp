#include "filter/filter_nongdi/preprocess/watermark_outlines.h"

#include <cmath>
#include <new>

#include "filter/framework/classic_format.h"
#include "filter/framework/cxd_exception.h"
#include "platform/comptr.h"
#include "platform/dwrite.h"

namespace {

constexpr FLOAT kUnbounded = 3.4028235e38f;

std::u16string_view Terminated(const char16_t* text, std::size_t capacity)
{
    std::size_t n = 0;
    while (n < capacity && text[n] != 0)
        ++n;
    return std::u16string_view(text, n);
}

} // namespace

// ---- PointSnappingSink ----------------------------------------------------------

void PointSnappingSink::BeginFigure(D2D1_POINT_2F startPoint, D2D1_FIGURE_BEGIN)
{
    current_.start = D2D1_POINT_2F{startPoint.x + offset_.x, startPoint.y + offset_.y};
}

void PointSnappingSink::Add(std::uint32_t command, D2D1_POINT_2F point) noexcept
{
    try {
        current_.commands.push_back(command);
        current_.points.push_back(point.x + offset_.x);
        current_.points.push_back(point.y + offset_.y);
    } catch (const std::bad_alloc&) {
        failure_ = E_OUTOFMEMORY;
    }
}

void PointSnappingSink::AddLines(const D2D1_POINT_2F* points, UINT32 pointsCount)
{
    for (UINT32 i = 0; points && i < pointsCount; ++i)
        Add(FigureRecord::kLine, points[i]);
}

void PointSnappingSink::AddBeziers(const D2D1_BEZIER_SEGMENT* beziers, UINT32 beziersCount)
{
    for (UINT32 i = 0; beziers && i < beziersCount; ++i) {
        // One command for the three points of the segment.
        try {
            current_.commands.push_back(FigureRecord::kBezier);
            for (const D2D1_POINT_2F& p : {beziers[i].point1, beziers[i].point2, beziers[i].point3}) {
                current_.points.push_back(p.x + offset_.x);
                current_.points.push_back(p.y + offset_.y);
            }
        } catch (const std::bad_alloc&) {
            failure_ = E_OUTOFMEMORY;
        }
    }
}

void PointSnappingSink::EndFigure(D2D1_FIGURE_END figureEnd)
{
    current_.closed = figureEnd != D2D1_FIGURE_END_OPEN;
    try {
        figures_.push_back(std::move(current_));
    } catch (const std::bad_alloc&) {
        failure_ = E_OUTOFMEMORY;
    }
    current_ = FigureRecord{};
}

// ---- The template ---------------------------------------------------------------

void WatermarkTemplate::Reset()
{
    text_.clear();
    text_.shrink_to_fit();
    capacity_ = kInitialCapacity;
    text_.reserve(capacity_);
}

void WatermarkTemplate::Append(std::string_view piece)
{
    if (piece.size() >= capacity_ - text_.size()) {
        capacity_ = piece.size() + 2 * capacity_;
        text_.reserve(capacity_);
    }
    text_ += piece;
}

void WatermarkTemplate::AppendLetter(char letter)
{
    if (capacity_ - text_.size() < 2) {
        capacity_ = 2 * capacity_ + 1;
        text_.reserve(capacity_);
    }
    text_ += letter;
}

std::string WatermarkOutlineCache::Emit(std::uint32_t pageIndex) const
{
    const std::string index = std::to_string(pageIndex);
    const std::string& text = template_.Text();
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    std::size_t from = 0;
    for (std::size_t at = text.find("%d"); at != std::string::npos; at = text.find("%d", from)) {
        out.append(text, from, at - from);
        out += index;
        from = at + 2;
    }
    out.append(text, from, std::string::npos);
    return out;
}

// ---- Building -------------------------------------------------------------------

HRESULT BuildWatermarkOutlines(WatermarkOutlineCache& cache, const WatermarkSettings& settings, const PageRecord& page)
{
    return CallGuarded([&]() -> HRESULT {
        // 1. The copies, the page as printed, an empty template.
        cache.settings_ = settings;
        cache.page_ = page;
        if (page.pagePortrait == 0)
            std::swap(cache.page_.pageWidth, cache.page_.pageHeight);
        cache.template_.Reset();
        WatermarkTemplate& out = cache.template_;

        // 2. Size in 600-units, weight and style.
        const float size = static_cast<float>(settings.fontSize * 600 / 72);
        const auto weight = static_cast<DWRITE_FONT_WEIGHT>(settings.weight != 0 ? settings.weight : 400);
        const DWRITE_FONT_STYLE style = settings.italic ? DWRITE_FONT_STYLE_ITALIC : DWRITE_FONT_STYLE_NORMAL;
        const std::u16string fontName(Terminated(settings.fontName, std::size(settings.fontName)));
        const std::u16string_view text = Terminated(settings.text, std::size(settings.text));

        // 3. The text's width.
        ComPtr<IDWriteFactory> factory;
        ThrowIfFailed(DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, IID_IDWriteFactory,
                                          reinterpret_cast<IUnknown**>(factory.ReleaseAndGetAddressOf())));
        ComPtr<IDWriteTextFormat> format;
        ThrowIfFailed(factory->CreateTextFormat(fontName.c_str(), nullptr, weight, style, DWRITE_FONT_STRETCH_NORMAL, size,
                                                u"", format.ReleaseAndGetAddressOf()));
        ComPtr<IDWriteTextLayout> layout;
        ThrowIfFailed(factory->CreateTextLayout(text.data(), static_cast<UINT32>(text.size()), format.Get(), kUnbounded,
                                                kUnbounded, layout.ReleaseAndGetAddressOf()));
        DWRITE_TEXT_METRICS metrics{};
        ThrowIfFailed(layout->GetMetrics(&metrics));
        const float textWidth = metrics.width;

        // 4. The face, with the weight as stored.
        LOGFONTW logFont{};
        logFont.lfHeight = -static_cast<LONG>(size);
        logFont.lfEscapement = 1;
        logFont.lfOrientation = 1;
        logFont.lfWeight = settings.weight;
        logFont.lfItalic = settings.italic;
        logFont.lfCharSet = settings.charSet;
        logFont.lfOutPrecision = OUT_TT_PRECIS;
        fontName.copy(logFont.lfFaceName, LF_FACESIZE - 1);
        ComPtr<IDWriteGdiInterop> interop;
        ThrowIfFailed(factory->GetGdiInterop(interop.ReleaseAndGetAddressOf()));
        ComPtr<IDWriteFont> font;
        ThrowIfFailed(interop->CreateFontFromLOGFONT(&logFont, font.ReleaseAndGetAddressOf()));
        ComPtr<IDWriteFontFace> face;
        ThrowIfFailed(font->CreateFontFace(face.ReleaseAndGetAddressOf()));
        DWRITE_FONT_METRICS faceMetrics{};
        face->GetMetrics(&faceMetrics);
        const float em = faceMetrics.designUnitsPerEm;
        if (em <= 0)
            return E_FAIL;
        const float ascent = faceMetrics.ascent;

        // 5. and 6. The text's height, and where it stands.
        const float textHeight = (faceMetrics.ascent + faceMetrics.descent) * size / em;
        WatermarkPlacement placement;
        ThrowIfFailed(PlaceWatermark(settings, cache.page_.pageWidth, cache.page_.pageHeight, size, textWidth, textHeight,
                                     placement));

        // 7. The pen: the text centred on the origin.
        float penX = static_cast<float>(textWidth * -0.5 * 0.16);
        const float penY = static_cast<float>((textHeight * -0.5 + ascent * size / em) * 0.16);

        // 8. One path per code unit that has an outline.
        const WatermarkMatrix m = WatermarkMatrixOf(settings.angle);
        const float emSize = settings.fontSize * 96.0f / 72.0f;
        for (const char16_t unit : text) {
            NoRefComObject<PointSnappingSink> sink(D2D1_POINT_2F{penX, penY});
            const UINT32 codePoint = unit;
            UINT16 glyph = 0;
            ThrowIfFailed(face->GetGlyphIndices(&codePoint, 1, &glyph));
            ThrowIfFailed(face->GetGlyphRunOutline(emSize, &glyph, nullptr, nullptr, 1, FALSE, FALSE, &sink));
            ThrowIfFailed(sink.Failure());
            if (!sink.Figures().empty()) {
                out.Append(FormatClassic("<Path Name=\"%s%%d_%d\" RenderTransform=\"%f,%f,%f,%f,%f,%f\" Fill=\"#%.6x\" "
                                         "Opacity=\"%f\" Data=\"F1",
                                         kWatermarkPathName, cache.counter_, m.m11, m.m12, m.m21, m.m22, placement.x, placement.y,
                                         static_cast<unsigned>(settings.colour), settings.opacity));
                for (const FigureRecord& figure : sink.Figures()) {
                    out.Append(FormatClassic("M%f,%f", figure.start.x, figure.start.y));
                    std::size_t p = 0;
                    for (const std::uint32_t command : figure.commands) {
                        const int points = command == FigureRecord::kBezier ? 3 : 1;
                        out.AppendLetter(command == FigureRecord::kBezier ? 'C' : 'L');
                        for (int i = 0; i < points; ++i, p += 2)
                            out.Append(FormatClassic(" %f,%f", figure.points[p], figure.points[p + 1]));
                    }
                    out.AppendLetter('Z');
                }
                out.Append("\"/>");
                ++cache.counter_;
            }
            DWRITE_GLYPH_METRICS glyphMetrics{};
            ThrowIfFailed(face->GetDesignGlyphMetrics(&glyph, 1, &glyphMetrics, FALSE));
            penX += emSize * static_cast<float>(glyphMetrics.advanceWidth) / em;
        }

        // 9. The frames.
        out.Append(WatermarkFrames(settings, placement, cache.counter_));
        return S_OK;
    });
}
