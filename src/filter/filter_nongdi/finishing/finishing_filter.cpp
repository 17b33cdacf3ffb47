#include "filter/filter_nongdi/finishing/finishing_filter.h"

#include "filter/framework/module_entry.h"

HRESULT FinishingFilter::ProcessFixedPage(ComPtr<IFixedPage> page) { return Writer()->SendFixedPage(page.Get()); }

HRESULT FinishingFilter::ProcessFixedDocumentSequence(ComPtr<IFixedDocumentSequence> sequence)
{
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
