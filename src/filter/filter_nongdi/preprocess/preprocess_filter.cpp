#include "filter/filter_nongdi/preprocess/preprocess_filter.h"

#include "filter/framework/module_entry.h"

HRESULT PreprocessFilter::PrepareOperation() { return Tickets().Prepare(PropertyBag()); }

void PreprocessFilter::ReleaseJobBuffers() { Tickets().Reset(); }

const FilterModuleDefinition g_filterModule{CLSID_PreprocessFilter, nullptr, []() -> FilterBase* {
                                                return new (std::nothrow) PreprocessFilter;
                                            }};
