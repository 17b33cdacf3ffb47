#include <dlfcn.h>

#include <string>

#include "platform/libloaderapi.h"
#include "platform/stringapiset.h"

namespace {
thread_local std::string t_loadError;
}

HMODULE LoadLibraryW(LPCWSTR lpLibFileName)
{
    if (!lpLibFileName) {
        t_loadError = "no library name";
        return nullptr;
    }
    const std::string path = WideToUtf8(lpLibFileName);
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = dlerror();
        t_loadError = why ? why : "cannot load " + path;
    }
    return handle;
}

FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName)
{
    if (!hModule || !lpProcName)
        return nullptr;
    return reinterpret_cast<FARPROC>(dlsym(hModule, lpProcName));
}

BOOL FreeLibrary(HMODULE hLibModule) { return hLibModule && dlclose(hLibModule) == 0 ? TRUE : FALSE; }

BOOL DisableThreadLibraryCalls(HMODULE) { return TRUE; }  // no per-thread notifications are sent here

const char* GetLoadErrorText() { return t_loadError.c_str(); }
