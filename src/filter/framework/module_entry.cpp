// The exports of a filter library: DllGetClassObject, DllCanUnloadNow and the
// entry point run by the loader.
#include "filter/framework/module_entry.h"

#include "filter/framework/trace.h"
#include "platform/libloaderapi.h"

namespace {
LONG g_lockCount = 0;
}

ZNTR_DLL_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv)
{
    TraceMessage(kTraceFlagEntry, 10, "DllGetClassObject");
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (rclsid != g_filterModule.clsid)
        return CLASS_E_CLASSNOTAVAILABLE;
    FilterBase* filter = nullptr;
    try {
        filter = g_filterModule.create();
    } catch (...) {
        filter = nullptr;
    }
    if (!filter)
        return E_OUTOFMEMORY;
    const HRESULT hr = filter->QueryInterface(riid, ppv);
    filter->Release();  // the caller now holds the only reference, or the filter is gone
    if (SUCCEEDED(hr))
        InterlockedIncrement(&g_lockCount);  // never lowered: the library stays loaded once used
    return hr;
}

ZNTR_DLL_EXPORT HRESULT DllCanUnloadNow()
{
    return __atomic_load_n(&g_lockCount, __ATOMIC_SEQ_CST) == 0 ? S_OK : S_FALSE;
}

extern "C" BOOL DllMain(HINSTANCE hinstDLL, DWORD fdwReason, LPVOID)
{
    if (fdwReason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(hinstDLL);
        TraceRegister(g_filterModule.traceProviderName);
    } else if (fdwReason == DLL_PROCESS_DETACH) {
        TraceUnregister();
    }
    return TRUE;
}

namespace {
// The dynamic loader's attach and detach notifications.
__attribute__((constructor)) void OnLoad() { DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr); }
__attribute__((destructor)) void OnUnload() { DllMain(nullptr, DLL_PROCESS_DETACH, nullptr); }
} // namespace
