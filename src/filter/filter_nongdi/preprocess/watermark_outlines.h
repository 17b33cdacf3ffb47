// The text watermark as filled outline paths: the text laid out with the
// font engine, one Path per character collected through a geometry sink,
// then the frames, all written into a markup template that each page gets
// with its page index filled in. No font part is needed, so later filters
// can move the markup freely.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "filter/filter_nongdi/preprocess/watermark_placement.h"
#include "filter/framework/inter_filter_records.h"
#include "platform/d2d1.h"

// One figure of an outline: the start point, then points by command (6: one
// line point, 5: a cubic Bezier of three points), and whether it is closed.
struct FigureRecord {
    static constexpr std::uint32_t kLine = 6;
    static constexpr std::uint32_t kBezier = 5;

    D2D1_POINT_2F start{};
    std::vector<float> points;  // x, y pairs
    std::vector<std::uint32_t> commands;
    bool closed = false;
};

// A COM object used where it lives on the stack or in a member: AddRef and
// Release count nothing (they answer 0) and QueryInterface answers E_UNEXPECTED.
template <class T>
class NoRefComObject final : public T {
public:
    using T::T;
    virtual ~NoRefComObject() = default;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override
    {
        if (ppv)
            *ppv = nullptr;
        return E_UNEXPECTED;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 0; }
    ULONG STDMETHODCALLTYPE Release() override { return 0; }
};

// Collects an outline as FigureRecords, every point moved by the offset.
class PointSnappingSink : public ID2D1SimplifiedGeometrySink {
public:
    explicit PointSnappingSink(D2D1_POINT_2F offset) : offset_(offset) {}

    void STDMETHODCALLTYPE SetFillMode(D2D1_FILL_MODE fillMode) override { fillMode_ = fillMode; }
    void STDMETHODCALLTYPE SetSegmentFlags(D2D1_PATH_SEGMENT) override {}
    void STDMETHODCALLTYPE BeginFigure(D2D1_POINT_2F startPoint, D2D1_FIGURE_BEGIN) override;
    void STDMETHODCALLTYPE AddLines(const D2D1_POINT_2F* points, UINT32 pointsCount) override;
    void STDMETHODCALLTYPE AddBeziers(const D2D1_BEZIER_SEGMENT* beziers, UINT32 beziersCount) override;
    void STDMETHODCALLTYPE EndFigure(D2D1_FIGURE_END figureEnd) override;
    HRESULT STDMETHODCALLTYPE Close() override { return failure_; }

    const std::vector<FigureRecord>& Figures() const noexcept { return figures_; }
    D2D1_FILL_MODE FillMode() const noexcept { return fillMode_; }
    // E_OUTOFMEMORY when a point could not be kept (the sink's calls return nothing).
    HRESULT Failure() const noexcept { return failure_; }

protected:
    ~PointSnappingSink() = default;

private:
    void Add(std::uint32_t command, D2D1_POINT_2F point) noexcept;

    FigureRecord current_;
    std::vector<FigureRecord> figures_;
    D2D1_FILL_MODE fillMode_ = D2D1_FILL_MODE_ALTERNATE;
    D2D1_POINT_2F offset_;
    HRESULT failure_ = S_OK;
};

// The 8-bit markup template: capacity grows as the watermark's own rule
// says, starting at 204800 bytes.
class WatermarkTemplate {
public:
    static constexpr std::size_t kInitialCapacity = 204800;

    WatermarkTemplate() { Reset(); }
    void Reset();
    // A formatted piece.
    void Append(std::string_view piece);
    // A single command letter.
    void AppendLetter(char letter);
    const std::string& Text() const noexcept { return text_; }
    std::size_t Capacity() const noexcept { return capacity_; }

private:
    std::string text_;
    std::size_t capacity_ = 0;
};

// The job's watermark: the template with the settings and the page it was
// built for, and the path counter, which lives for the whole job.
class WatermarkOutlineCache {
public:
    const WatermarkTemplate& Template() const noexcept { return template_; }
    const WatermarkSettings& Settings() const noexcept { return settings_; }
    // The page as printed: width and height exchanged for a landscape page.
    const PageRecord& Page() const noexcept { return page_; }
    std::int32_t PathCounter() const noexcept { return counter_; }

    // The template with every "%d" replaced by the page index. Throws std::bad_alloc.
    std::string Emit(std::uint32_t pageIndex) const;

private:
    friend HRESULT BuildWatermarkOutlines(WatermarkOutlineCache& cache, const WatermarkSettings& settings,
                                          const PageRecord& page);

    WatermarkTemplate template_;
    WatermarkSettings settings_;
    PageRecord page_{};
    std::int32_t counter_ = 0;
};

// Builds the template anew for settings on page (the text's glyph paths,
// then the frames); the path counter goes on from where it was. The font
// engine's failure, E_FAIL for a position outside 0..6, E_OUTOFMEMORY.
HRESULT BuildWatermarkOutlines(WatermarkOutlineCache& cache, const WatermarkSettings& settings, const PageRecord& page);
