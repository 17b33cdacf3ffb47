#include <dlfcn.h>
#include <link.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "platform/libloaderapi.h"
#include "platform/stringapiset.h"
#include "platform/synchapi.h"

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

BOOL GetModuleHandleExW(DWORD dwFlags, LPCWSTR lpModuleName, HMODULE* phModule)
{
    if (!phModule || !(dwFlags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *phModule = nullptr;
    Dl_info info{};
    link_map* map = nullptr;
    if (!dladdr1(reinterpret_cast<const void*>(lpModuleName), &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) ||
        !map) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return FALSE;
    }
    // The program's own map has no name; its handle is the one for "no file".
    const bool program = !map->l_name || !*map->l_name;
    void* handle = program ? dlopen(nullptr, RTLD_NOW) : dlopen(map->l_name, RTLD_NOW | RTLD_NOLOAD);
    if (!handle) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return FALSE;
    }
    if (dwFlags & GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT)
        dlclose(handle);  // the library stays loaded: the address is in it
    *phModule = handle;
    return TRUE;
}

DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize)
{
    std::string path;
    if (hModule) {
        link_map* map = nullptr;
        if (dlinfo(hModule, RTLD_DI_LINKMAP, &map) != 0 || !map) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return 0;
        }
        path = map->l_name ? map->l_name : "";
    }
    std::error_code ec;
    if (path.empty())  // the program itself
        path = std::filesystem::read_symlink("/proc/self/exe", ec).string();
    else
        path = std::filesystem::absolute(path, ec).string();
    if (path.empty() || !lpFilename || nSize == 0) {
        SetLastError(path.empty() ? ERROR_MOD_NOT_FOUND : ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    const std::u16string wide = Utf8ToWide(path);
    if (wide.size() >= nSize) {
        std::copy_n(wide.data(), nSize - 1, lpFilename);
        lpFilename[nSize - 1] = u'\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nSize;
    }
    std::copy(wide.begin(), wide.end(), lpFilename);
    lpFilename[wide.size()] = u'\0';
    return static_cast<DWORD>(wide.size());
}
