#include "filter/filter_nongdi/preprocess/preprocess_filter.h"

#include <chrono>

#include "filter/filter_nongdi/preprocess/page_rewriter.h"
#include "filter/framework/cxd_exception.h"
#include "filter/framework/module_entry.h"
#include "filter/framework/trace.h"
#include "platform/synchapi.h"

PreprocessFilter::~PreprocessFilter() { CloseJobDoneEvent(); }

void PreprocessFilter::CloseJobDoneEvent() noexcept
{
    if (job_.JobDoneEvent)
        CloseHandle(job_.JobDoneEvent);
    job_.JobDoneEvent = nullptr;
}

HRESULT PreprocessFilter::PrepareOperation() { return Tickets().Prepare(PropertyBag()); }

HRESULT PreprocessFilter::ReadJobSettings()
{
    IXMLDOMDocument2* ticket = nullptr;
    const HRESULT hr = Tickets().GetPageTicket(&ticket);
    return FAILED(hr) ? hr : settings_.ReadJobSettings(ticket, PrinterHandle(), job_);
}

HRESULT PreprocessFilter::ReadPageSettings()
{
    IXMLDOMDocument2* ticket = nullptr;
    const HRESULT hr = Tickets().GetPageTicket(&ticket);
    return FAILED(hr) ? hr : settings_.ReadPageSettings(ticket, PrinterHandle(), job_, current_);
}

HRESULT PreprocessFilter::ProcessFixedDocumentSequence(ComPtr<IFixedDocumentSequence> sequence)
{
    // The event exists for every job, before anything can fail.
    CloseJobDoneEvent();
    job_.JobDoneEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);

    HRESULT hr = Tickets().MergeLevel(PrintTicketManager::kJobLevel, sequence.Get());
    if (SUCCEEDED(hr))
        hr = ReadJobSettings();
    if (SUCCEEDED(hr)) {
        // Publishing is best effort: without the records the later filters pass pages through.
        CallGuarded([this] {
            const std::int32_t id = ReadJobId(PropertyBag());
            HRESULT published = PublishRecord(PropertyBag(), JobPropertyName(id), &job_);
            if (SUCCEEDED(published))
                published = PublishRecord(PropertyBag(), PageRecordListName(id), &records_);
            return published;
        });
    }
    return Writer()->SendFixedDocumentSequence(sequence.Get());
}

HRESULT PreprocessFilter::ProcessFixedPage(ComPtr<IFixedPage> page)
{
    HRESULT hr = Tickets().MergeLevel(PrintTicketManager::kPageLevel, page.Get());
    if (SUCCEEDED(hr))
        hr = ReadPageSettings();
    if (SUCCEEDED(hr))
        hr = CallGuarded([&] {
            const std::string watermark = WatermarkForPage();
            std::string reason;
            const HRESULT rewritten = RewriteFixedPage(page.Get(), job_, current_, watermark, reason);
            if (FAILED(rewritten) && !reason.empty())
                DescribeFailure("the page cannot be rewritten: " + reason);
            return rewritten;
        });
    if (FAILED(hr))
        return hr;  // a page that cannot be written ends the job, and has no record
    hr = CallGuarded([&] {
        records_.Append(current_);
        return S_OK;
    });
    return FAILED(hr) ? hr : Writer()->SendFixedPage(page.Get());
}

std::string PreprocessFilter::WatermarkForPage()
{
    const WatermarkSettings& settings = settings_.Watermark();
    if (!settings.enabled)
        return {};
    if (!watermark_ || settings_.GeometryChanged()) {
        if (!watermark_)
            watermark_ = std::make_unique<WatermarkOutlineCache>();
        const HRESULT hr = BuildWatermarkOutlines(*watermark_, settings, current_);
        if (FAILED(hr)) {
            DescribeFailure("the watermark's outlines cannot be made");
            throw CXDException(hr);
        }
    }
    if (settings.firstPageOnly && settings_.PageIndex() != 0)
        return {};
    return watermark_->Emit(settings_.PageIndex());
}

HRESULT PreprocessFilter::AfterCloseSender(HRESULT hr)
{
    if (!job_.JobDoneEvent)
        return hr;
    // Wait for the last filter to be done with the records. When no filter can
    // signal (nothing was published, or no filter in the pipeline takes the
    // records), the pipeline stops this filter once the last one has finished;
    // the time-out is the last resort.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kJobDoneTimeoutMs);
    for (;;) {
        if (WaitForSingleObject(job_.JobDoneEvent, 20) == WAIT_OBJECT_0)
            break;
        if (StopRequested()) {
            TraceMessage(kTraceFlagRecords, 30, "end of job: stopped before the records were released");
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            TraceMessage(kTraceFlagRecords, 31, "end of job: no filter released the records in time");
            break;
        }
    }
    // The event stays open (and the record untouched) until the filter is
    // released: a later filter stopped at the same time may still signal it.
    return hr;
}

const FilterModuleDefinition g_filterModule{CLSID_PreprocessFilter, nullptr, []() -> FilterBase* {
                                                return new (std::nothrow) PreprocessFilter;
                                            }};
