#include "filter/filter_nongdi/rotation/rotation_filter.h"

#include <cstring>

#include "filter/framework/cxd_exception.h"
#include "filter/framework/module_entry.h"
#include "platform/synchapi.h"

HRESULT RotationFilter::TakeProperties()
{
    return CallGuarded([this] {
        const std::int32_t id = ReadJobId(PropertyBag());
        void* job = nullptr;
        void* records = nullptr;
        const std::u16string jobName = JobPropertyName(id);
        HRESULT hr = ReadRecord(PropertyBag(), jobName, &job);
        if (FAILED(hr))
            return hr;
        job_ = static_cast<JobRecord*>(job);
        if (FAILED(hr = PropertyBag()->DeleteProperty(jobName.c_str())))
            return hr;
        const std::u16string pageName = PageRecordListName(id);
        if (FAILED(hr = ReadRecord(PropertyBag(), pageName, &records)))
            return hr;
        records_ = PageRecordCursor(static_cast<PageRecordList*>(records));
        return PropertyBag()->DeleteProperty(pageName.c_str());
    });
}

HRESULT RotationFilter::ProcessFixedDocumentSequence(ComPtr<IFixedDocumentSequence> sequence)
{
    TakeProperties();  // without the records pages go on as they are
    return Writer()->SendFixedDocumentSequence(sequence.Get());
}

HRESULT RotationFilter::ProcessFixedPage(ComPtr<IFixedPage> page)
{
    if (const PageRecordList::Node* node = records_.Next())
        std::memcpy(&current_, &node->record, sizeof current_);
    return Writer()->SendFixedPage(page.Get());
}

HRESULT RotationFilter::FinishOperation(HRESULT hr)
{
    // The preprocess filter may release the records from now on.
    if (job_ && job_->JobDoneEvent)
        SetEvent(job_->JobDoneEvent);
    job_ = nullptr;
    records_ = PageRecordCursor();
    return FilterBase::FinishOperation(hr);
}

const FilterModuleDefinition g_filterModule{CLSID_RotationFilter, "WdkPipelineFilter", []() -> FilterBase* {
                                                return new (std::nothrow) RotationFilter;
                                            }};
