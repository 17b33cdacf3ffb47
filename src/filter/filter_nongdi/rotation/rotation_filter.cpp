#include "filter/filter_nongdi/rotation/rotation_filter.h"

#include "filter/framework/module_entry.h"

HRESULT RotationFilter::ProcessFixedPage(ComPtr<IFixedPage> page) { return Writer()->SendFixedPage(page.Get()); }

HRESULT RotationFilter::ProcessFixedDocumentSequence(ComPtr<IFixedDocumentSequence> sequence)
{
    return Writer()->SendFixedDocumentSequence(sequence.Get());
}

HRESULT RotationFilter::ProcessFixedDocument(ComPtr<IFixedDocument> document)
{
    return Writer()->SendFixedDocument(document.Get());
}

const FilterModuleDefinition g_filterModule{CLSID_RotationFilter, "WdkPipelineFilter", []() -> FilterBase* {
                                                return new (std::nothrow) RotationFilter;
                                            }};
