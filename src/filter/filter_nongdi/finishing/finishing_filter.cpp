#include "filter/filter_nongdi/finishing/finishing_filter.h"

#include "filter/framework/cxd_exception.h"
#include "filter/framework/module_entry.h"

HRESULT FinishingFilter::ReadProperties()
{
    return CallGuarded([this] {
        const std::int32_t id = ReadJobId(PropertyBag());
        void* job = nullptr;
        void* records = nullptr;
        HRESULT hr = ReadRecord(PropertyBag(), JobPropertyName(id), &job);
        if (SUCCEEDED(hr))
            hr = ReadRecord(PropertyBag(), PageRecordListName(id), &records);
        if (SUCCEEDED(hr)) {
            job_ = static_cast<JobRecord*>(job);
            records_ = static_cast<PageRecordList*>(records);
        }
        return hr;
    });
}

HRESULT FinishingFilter::ProcessFixedDocumentSequence(ComPtr<IFixedDocumentSequence> sequence)
{
    ReadProperties();  // without the records the job passes through unchanged
    propertiesRead_ = true;
    return Writer()->SendFixedDocumentSequence(sequence.Get());
}

HRESULT FinishingFilter::ProcessFixedDocument(ComPtr<IFixedDocument> document)
{
    if (!firstDocumentPending_)
        return S_OK;  // later documents are dropped; their pages join the first one
    firstDocumentPending_ = false;
    return Writer()->SendFixedDocument(document.Get());
}

const FilterModuleDefinition g_filterModule{CLSID_FinishingFilter, nullptr, []() -> FilterBase* {
                                                return new (std::nothrow) FinishingFilter;
                                            }};
