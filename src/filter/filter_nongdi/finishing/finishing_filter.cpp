#include "filter/filter_nongdi/finishing/finishing_filter.h"

#include "filter/framework/module_entry.h"

HRESULT FinishingFilter::ProcessFixedDocumentSequence(ComPtr<IFixedDocumentSequence> sequence)
{
    ReadPublishedRecords(PropertyBag(), &job_, &records_);  // without the records the job passes through unchanged
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
