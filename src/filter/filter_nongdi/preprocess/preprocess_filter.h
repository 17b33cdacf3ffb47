// PreprocessFilter: the first filter of the pipeline. It opens the job's
// PrintTicket levels, merges them as the parts pass, and publishes the job
// and page records for the filters after it; after its own CloseSender it
// waits until the last filter is done with them.
#pragma once

#include <memory>
#include <string>

#include "filter/filter_nongdi/preprocess/preprocess_settings.h"
#include "filter/filter_nongdi/preprocess/watermark_outlines.h"
#include "filter/framework/filter_base.h"
#include "filter/framework/inter_filter_records.h"

inline constexpr CLSID CLSID_PreprocessFilter = MakeGuid("71AEA54A-9F57-4829-827C-1764A32B79E7");

class PreprocessFilter final : public FilterBase {
public:
    PreprocessFilter() = default;
    // How long the end-of-job wait may last when nothing ends it sooner.
    static constexpr DWORD kJobDoneTimeoutMs = 10 * 60 * 1000;

protected:
    ~PreprocessFilter() override;
    HRESULT PrepareOperation() override;
    HRESULT ProcessFixedDocumentSequence(ComPtr<IFixedDocumentSequence> sequence) override;
    HRESULT ProcessFixedPage(ComPtr<IFixedPage> page) override;
    HRESULT AfterCloseSender(HRESULT hr) override;
    void ReleaseJobBuffers() override
    {
        settings_.ReleaseBuffers();
        watermark_.reset();
    }

private:
    // The job settings and the page settings from the effective tickets.
    HRESULT ReadJobSettings();
    HRESULT ReadPageSettings();
    void CloseJobDoneEvent() noexcept;
    // The page's watermark markup (empty without one), the outlines built
    // on the first page that has one and when the geometry changes; throws.
    std::string WatermarkForPage();

    PreprocessSettings settings_;
    JobRecord job_{};
    PageRecordList records_;
    PageRecord current_{};
    std::unique_ptr<WatermarkOutlineCache> watermark_;
};
