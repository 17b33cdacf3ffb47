// The records the preprocess filter hands to the later filters of the same
// pipeline: one JobRecord for the job and a PageRecordList with one
// PageRecord per page sent. The property bag carries their addresses (not
// copies) under names that end in the job id; the memory stays the
// preprocess filter's until the rotation filter signals the JobDoneEvent.
//
// There is no lock: a page's record is written before the page is sent and
// read only after it has been received, so the hand-over of the page orders
// the write before the read. The layouts are fixed: all three filter
// libraries compile this header and exchange addresses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/filterpipeline.h"

struct JobRecord {
    std::int32_t firstPagePortrait;  // 1 unless the first page is Landscape
    std::int32_t layoutMode;         // 0 none, 1 booklet, 2 N-up, 3 poster
    std::int32_t bindingEdge;        // 0 none, 1 left, 2 top, 3 right, 4 bottom
    double gutterMillimetres;        // whole millimetres, when bindingEdge is not 0
    std::int32_t duplex;             // 1 when two-sided printing applies
    std::int32_t duplexLongEdge;     // 1 for two-sided long edge
    std::int32_t reserved;           // always 0
    std::int32_t leftOffset;         // 0.1 mm
    std::int32_t topOffset;          // 0.1 mm
    HANDLE JobDoneEvent;             // auto-reset; signalled by the rotation filter
    std::int32_t layoutDetail[4];    // meaning by layoutMode
};
static_assert(offsetof(JobRecord, gutterMillimetres) == 16);
static_assert(offsetof(JobRecord, JobDoneEvent) == 48);
static_assert(sizeof(JobRecord) == 72);

// 25 signed 32-bit values; lengths in 1/600 inch.
struct PageRecord {
    std::int32_t pageWidth;
    std::int32_t pageHeight;
    std::int32_t pageMarginX;
    std::int32_t pageMarginY;
    std::int32_t sheetWidth;
    std::int32_t sheetHeight;
    std::int32_t sheetMarginX;
    std::int32_t sheetMarginY;
    std::int32_t pagePortrait;
    std::int32_t fitToPage;
    std::int32_t pageNumber;
    std::int32_t rotationClass;
    std::int32_t rotationClassTwo;
    std::int32_t settingsChanged;
    std::int32_t resolution;
    std::int32_t scalingPercent;
    std::int32_t posterSize;
    std::int32_t posterSheetOrientation;
    std::int32_t posterColumns;
    std::int32_t posterRows;
    std::int32_t cropMarks;
    std::int32_t cropMarkColor;
    std::int32_t overlapMargin;
    std::int32_t portraitReversed;
    std::int32_t landscapeReversed;

    static constexpr std::size_t kCount = 25;
    // The value at index (0 pageWidth ... 24 landscapeReversed).
    std::int32_t& operator[](std::size_t index) noexcept;
    std::int32_t operator[](std::size_t index) const noexcept;
    // The field name at index, as the records are documented.
    static const char* FieldName(std::size_t index) noexcept;
};
static_assert(sizeof(PageRecord) == 100);
static_assert(offsetof(PageRecord, pageNumber) == 40);
static_assert(offsetof(PageRecord, landscapeReversed) == 96);

// A doubly linked list with a sentinel; the list owns its nodes.
class PageRecordList {
public:
    struct Node {
        Node* prev;
        Node* next;
        PageRecord record;
    };

    PageRecordList() noexcept;
    ~PageRecordList();
    PageRecordList(const PageRecordList&) = delete;
    PageRecordList& operator=(const PageRecordList&) = delete;

    // Adds a copy of record at the end; throws std::bad_alloc.
    Node* Append(const PageRecord& record);
    // Adds a copy of record just before node; throws std::bad_alloc.
    Node* InsertBefore(Node* node, const PageRecord& record);
    // The first node, or End() when empty.
    Node* First() noexcept { return sentinel_.next; }
    Node* End() noexcept { return &sentinel_; }
    bool Empty() const noexcept { return sentinel_.next == &sentinel_; }
    std::size_t Size() const noexcept;
    void Clear() noexcept;

private:
    Node sentinel_;
};

// Walks a PageRecordList one page at a time, as a later filter receives pages:
// the first page takes the first record, each next page the next one; once
// past the last record there is none.
class PageRecordCursor {
public:
    explicit PageRecordCursor(PageRecordList* list = nullptr) noexcept : list_(list) {}
    // The record of the next page received, or null.
    PageRecordList::Node* Next() noexcept;

private:
    PageRecordList* list_;
    PageRecordList::Node* node_ = nullptr;
};

// "HALVANE-JobProperty-<id>" and "HALVANE-PageProperty-<id>".
std::u16string JobPropertyName(std::int32_t jobId);
std::u16string PageRecordListName(std::int32_t jobId);

// The job id from the bag's "PrintJobId"; throws CXDException.
std::int32_t ReadJobId(IPrintPipelinePropertyBag* bag);
// Publishes an address under name as VT_BYREF|VT_UI1.
HRESULT PublishRecord(IPrintPipelinePropertyBag* bag, const std::u16string& name, void* address);
// Reads an address published under name; null with the failure when absent.
HRESULT ReadRecord(IPrintPipelinePropertyBag* bag, const std::u16string& name, void** address);
// Reads both published records of the job (deleting neither); both stay null
// unless both are there. Never throws.
HRESULT ReadPublishedRecords(IPrintPipelinePropertyBag* bag, JobRecord** job, PageRecordList** records) noexcept;
