#include "filter/filter_nongdi/finishing/finishing_filter.h"

#include "filter/framework/classic_format.h"
#include "filter/framework/module_entry.h"
#include "filter/framework/stream_adapters.h"
#include "filter/framework/trace.h"
#include "platform/stringapiset.h"

namespace {

constexpr std::int32_t kLayoutBooklet = 1;
constexpr std::int32_t kLayoutNUp = 2;
constexpr std::int32_t kLayoutPoster = 3;

} // namespace

FinishingFilter::~FinishingFilter() = default;

bool FinishingFilter::Imposing() const noexcept
{
    return job_ && records_ && job_->layoutMode >= kLayoutBooklet && job_->layoutMode <= kLayoutPoster;
}

HRESULT FinishingFilter::ProcessOtherPart(ComPtr<IPartDiscardControl> part)
{
    if (!propertiesRead_) {
        held_.push_back(std::move(part));
        return S_OK;
    }
    // What may be discarded after which page means nothing once pages are imposed.
    return Imposing() ? S_OK : Writer()->SendXpsUnknown(part.Get());
}

HRESULT FinishingFilter::ProcessFixedDocumentSequence(ComPtr<IFixedDocumentSequence> sequence)
{
    if (FAILED(ReadPublishedRecords(PropertyBag(), &job_, &records_)))
        TraceMessage(kTraceFlagRecords, 40, "no job or page records (no preprocess filter before this one?): "
                                            "the job passes through unchanged");
    propertiesRead_ = true;
    if (!Imposing()) {
        for (const ComPtr<IPartDiscardControl>& part : held_)
            if (FAILED(Writer()->SendXpsUnknown(part.Get())))
                break;
    }
    held_.clear();
    return Writer()->SendFixedDocumentSequence(sequence.Get());
}

HRESULT FinishingFilter::ProcessFixedDocument(ComPtr<IFixedDocument> document)
{
    if (!firstDocumentPending_)
        return S_OK;  // later documents are dropped; their pages join the first one
    firstDocumentPending_ = false;
    return Writer()->SendFixedDocument(document.Get());
}

bool FinishingFilter::AdvanceRecord()
{
    PageRecordList::Node* next = inputPages_ == 1 ? records_->First() : currentNode_->next;
    if (next == records_->End())
        return false;
    currentNode_ = next;
    currentNode_->record.pageNumber = static_cast<std::int32_t>(inputPages_);
    return true;
}

HRESULT FinishingFilter::FirstPageSetup()
{
    switch (job_->layoutMode) {
    case kLayoutNUp:
        try {
            nup_ = std::make_unique<NUpImposer>(Writer(), *job_, currentNode_);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        return S_OK;
    case kLayoutBooklet:
        DescribeFailure("booklet imposition not available");
        return E_NOTIMPL;
    case kLayoutPoster:
        DescribeFailure("poster imposition not available");
        return E_NOTIMPL;
    default:
        return S_OK;
    }
}

std::string FinishingFilter::PageName(IFixedPage* page)
{
    std::u16string name;
    PartName(page, name);
    return name.empty() ? FormatClassic("%u", inputPages_) : WideToUtf8(name);
}

HRESULT FinishingFilter::ProcessFixedPage(ComPtr<IFixedPage> page)
{
    if (!job_ || !records_)
        return Writer()->SendFixedPage(page.Get());  // no records: pass-through

    ++inputPages_;
    if (!AdvanceRecord()) {
        DescribeFailure(FormatClassic("the page %s has no page record", PageName(page.Get()).c_str()));
        return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    }
    if (inputPages_ == 1) {
        const HRESULT hr = FirstPageSetup();
        if (FAILED(hr))
            return hr;
    }
    if (!nup_)
        return Writer()->SendFixedPage(page.Get());

    const HRESULT hr = nup_->AddPage(page.Get(), currentNode_->record);
    if (!nup_->Failure().empty())
        DescribeFailure(FormatClassic("the page %s cannot be imposed: %s", PageName(page.Get()).c_str(),
                                      nup_->Failure().c_str()));
    return hr;
}

HRESULT FinishingFilter::FinishOperation(HRESULT hr)
{
    if (nup_) {
        const HRESULT sent = nup_->FinishSheet();
        nup_.reset();
        if (SUCCEEDED(hr))
            hr = sent;
    }
    held_.clear();
    ReleaseJobBuffers();
    return hr;
}

const FilterModuleDefinition g_filterModule{CLSID_FinishingFilter, nullptr, []() -> FilterBase* {
                                                return new (std::nothrow) FinishingFilter;
                                            }};
