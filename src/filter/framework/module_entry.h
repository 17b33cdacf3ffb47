// What each filter library tells the shared module entry: its class
// identifier, the name of its trace provider and how to create its filter.
#pragma once

#include "filter/framework/filter_base.h"

struct FilterModuleDefinition {
    CLSID clsid;
    const char* traceProviderName;  // null registers the provider without a name
    FilterBase* (*create)();        // a new filter with reference count 1, or null
};

// Defined once in every filter library.
extern const FilterModuleDefinition g_filterModule;
