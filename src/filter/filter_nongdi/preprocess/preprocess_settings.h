// The job and page settings of the preprocess filter: what the effective
// PrintTicket and the printer's data make of the JobRecord and of each page's
// PageRecord, and what it remembers of the previous page to tell a change.
//
// Lengths: the ticket's micrometres become 1/600 inch as floor(L x 3 / 254) x 2
// in unsigned 32-bit arithmetic.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "filter/filter_nongdi/preprocess/watermark_placement.h"
#include "filter/framework/inter_filter_records.h"
#include "platform/msxml6.h"

// One record of the printer data "RotationInfo" or "SelectableFeedDirectInfo":
// 72 bytes, the form name (64 bytes, unused here), then the direction code and
// the paper code, little-endian.
struct FeedRotationRecord {
    std::uint32_t directionCode;
    std::uint32_t paperCode;
    static constexpr std::size_t kSize = 72;
};

// The records of a printer data value; a trailing partial record is ignored.
std::vector<FeedRotationRecord> ParseFeedRotationRecords(const BYTE* data, std::size_t size);

// floor(micrometres x 3 / 254) x 2, unsigned 32-bit.
std::int32_t MicrometresToDots(std::int32_t micrometres);

// The media size table: the index of an option name (55 when it is not in
// the table) and the paper code of an index (256 for 55).
std::size_t MediaSizeIndex(std::u16string_view option);
std::uint32_t MediaPaperCode(std::size_t index);
// The input bin code of an option, or the preset when it is not in the table.
std::uint16_t InputBinCode(std::u16string_view option, std::uint16_t preset);
// The media type code of an option (the first of equal names), or the preset.
std::uint16_t MediaTypeCode(std::u16string_view option, std::uint16_t preset);

// The feed rotation class 0..3 for paper code P, bin code B and the long-edge flag.
std::int32_t FeedRotationClass(const std::vector<FeedRotationRecord>& rotation,
                               const std::vector<FeedRotationRecord>& selectable, std::uint32_t paperCode,
                               std::uint16_t binCode, bool longEdge);

class PreprocessSettings {
public:
    // Reads the printer's feed data and the job's settings from the
    // effective ticket into job (all but firstPagePortrait).
    HRESULT ReadJobSettings(IXMLDOMDocument2* ticket, HANDLE printer, JobRecord& job);
    // Reads one page's settings into page; firstPagePortrait at the first page.
    HRESULT ReadPageSettings(IXMLDOMDocument2* ticket, HANDLE printer, JobRecord& job, PageRecord& page);
    // Frees the printer data buffers.
    void ReleaseBuffers() noexcept;

    // Set when the first page is read or the orientation or media size changes.
    bool GeometryChanged() const noexcept { return geometryChanged_; }
    // The number of pages read before the last one (0 on the first page).
    std::uint32_t PageIndex() const noexcept { return pageCount_ == 0 ? 0 : pageCount_ - 1; }
    // The text watermark as the last page's ticket asks for it.
    const WatermarkSettings& Watermark() const noexcept { return watermark_; }

private:
    void ReadFeedRecords(HANDLE printer);

    std::uint32_t capabilities_ = 0;  // "HalvPrinterData"; 0 until read
    std::vector<FeedRotationRecord> rotation_;
    std::vector<FeedRotationRecord> selectable_;
    WatermarkSettings watermark_;
    std::uint32_t pageCount_ = 0;  // pages handled, a failed one too
    bool geometryChanged_ = false;

    // The previous page.
    std::int32_t orientation_ = 0;
    std::size_t mediaIndex_ = 0;
    std::int32_t mediaWidth_ = 0;
    std::int32_t mediaHeight_ = 0;
    std::size_t sheetIndex_ = 0;
    std::int32_t sheetWidth_ = 0;
    std::int32_t sheetHeight_ = 0;
    std::uint16_t inputBin_ = 0;
    std::uint16_t mediaType_ = 0;
    std::int32_t resolutionX_ = 0;
    std::int32_t resolutionY_ = 0;
    std::int32_t resolutionLevel_ = 0;

    // Fit to page.
    bool fitOn_ = false;
    std::int32_t fitWidth_ = 0;   // 1/600 inch
    std::int32_t fitHeight_ = 0;  // 1/600 inch
    std::size_t fitIndex_ = 0;

    // Cover page.
    bool coverOn_ = false;
    std::uint16_t coverBin_ = 0;
};
