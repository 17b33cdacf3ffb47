#include "filter/framework/inter_filter_records.h"

#include <new>

#include "filter/framework/cxd_exception.h"

namespace {

using Field = std::int32_t PageRecord::*;
constexpr Field kFields[PageRecord::kCount] = {
    &PageRecord::pageWidth,        &PageRecord::pageHeight,        &PageRecord::pageMarginX,
    &PageRecord::pageMarginY,      &PageRecord::sheetWidth,        &PageRecord::sheetHeight,
    &PageRecord::sheetMarginX,     &PageRecord::sheetMarginY,      &PageRecord::pagePortrait,
    &PageRecord::fitToPage,        &PageRecord::pageNumber,        &PageRecord::rotationClass,
    &PageRecord::rotationClassTwo, &PageRecord::settingsChanged,   &PageRecord::resolution,
    &PageRecord::scalingPercent,   &PageRecord::posterSize,        &PageRecord::posterSheetOrientation,
    &PageRecord::posterColumns,    &PageRecord::posterRows,        &PageRecord::cropMarks,
    &PageRecord::cropMarkColor,    &PageRecord::overlapMargin,     &PageRecord::portraitReversed,
    &PageRecord::landscapeReversed,
};
constexpr const char* kNames[PageRecord::kCount] = {
    "pageWidth",     "pageHeight",    "pageMarginX",    "pageMarginY",      "sheetWidth",
    "sheetHeight",   "sheetMarginX",  "sheetMarginY",   "pagePortrait",     "fitToPage",
    "pageNumber",    "rotationClass", "rotationClassTwo", "settingsChanged", "resolution",
    "scalingPercent", "posterSize",   "posterSheetOrientation", "posterColumns", "posterRows",
    "cropMarks",     "cropMarkColor", "overlapMargin",  "portraitReversed", "landscapeReversed",
};

std::u16string Named(const char16_t* prefix, std::int32_t jobId)
{
    std::u16string name = prefix;
    const std::string digits = std::to_string(jobId);
    name.append(digits.begin(), digits.end());
    // The names are built in a 64-character buffer.
    if (name.size() >= 64)
        throw CXDException(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
    return name;
}

} // namespace

std::int32_t& PageRecord::operator[](std::size_t index) noexcept { return this->*kFields[index]; }
std::int32_t PageRecord::operator[](std::size_t index) const noexcept { return this->*kFields[index]; }
const char* PageRecord::FieldName(std::size_t index) noexcept { return index < kCount ? kNames[index] : ""; }

PageRecordList::PageRecordList() noexcept : sentinel_{&sentinel_, &sentinel_, {}} {}

PageRecordList::~PageRecordList() { Clear(); }

PageRecordList::Node* PageRecordList::InsertBefore(Node* node, const PageRecord& record)
{
    Node* fresh = new Node{node->prev, node, record};
    node->prev->next = fresh;
    node->prev = fresh;
    return fresh;
}

PageRecordList::Node* PageRecordList::Append(const PageRecord& record) { return InsertBefore(&sentinel_, record); }

std::size_t PageRecordList::Size() const noexcept
{
    std::size_t n = 0;
    for (const Node* node = sentinel_.next; node != &sentinel_; node = node->next)
        ++n;
    return n;
}

void PageRecordList::Clear() noexcept
{
    for (Node* node = sentinel_.next; node != &sentinel_;) {
        Node* next = node->next;
        delete node;
        node = next;
    }
    sentinel_.next = sentinel_.prev = &sentinel_;
}

PageRecordList::Node* PageRecordCursor::Next() noexcept
{
    if (!list_ || node_ == list_->End())
        return nullptr;
    node_ = node_ ? node_->next : list_->First();
    return node_ == list_->End() ? nullptr : node_;
}

std::u16string JobPropertyName(std::int32_t jobId) { return Named(u"HALVANE-JobProperty-", jobId); }

std::u16string PageRecordListName(std::int32_t jobId) { return Named(u"HALVANE-PageProperty-", jobId); }

std::int32_t ReadJobId(IPrintPipelinePropertyBag* bag)
{
    if (!bag)
        throw CXDException(E_PENDING);
    VARIANT id;
    VariantInit(&id);
    ThrowIfFailed(bag->GetProperty(u"PrintJobId", &id));
    const std::int32_t value = id.lVal;  // the VARIANT's 32-bit integer
    VariantClear(&id);
    return value;
}

HRESULT PublishRecord(IPrintPipelinePropertyBag* bag, const std::u16string& name, void* address)
{
    if (!bag)
        return E_PENDING;
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BYREF | VT_UI1;
    v.pbVal = static_cast<BYTE*>(address);
    return bag->AddProperty(name.c_str(), &v);
}

HRESULT ReadPublishedRecords(IPrintPipelinePropertyBag* bag, JobRecord** job, PageRecordList** records) noexcept
{
    *job = nullptr;
    *records = nullptr;
    return CallGuarded([&] {
        const std::int32_t id = ReadJobId(bag);
        void* jobAddress = nullptr;
        void* listAddress = nullptr;
        HRESULT hr = ReadRecord(bag, JobPropertyName(id), &jobAddress);
        if (SUCCEEDED(hr))
            hr = ReadRecord(bag, PageRecordListName(id), &listAddress);
        if (SUCCEEDED(hr)) {
            *job = static_cast<JobRecord*>(jobAddress);
            *records = static_cast<PageRecordList*>(listAddress);
        }
        return hr;
    });
}

HRESULT ReadRecord(IPrintPipelinePropertyBag* bag, const std::u16string& name, void** address)
{
    *address = nullptr;
    if (!bag)
        return E_PENDING;
    VARIANT v;
    VariantInit(&v);
    const HRESULT hr = bag->GetProperty(name.c_str(), &v);
    if (SUCCEEDED(hr))
        *address = (v.vt & VT_BYREF) ? v.byref : nullptr;
    VariantClear(&v);
    if (SUCCEEDED(hr) && !*address)
        return E_INVALIDARG;  // not an address
    return hr;
}
