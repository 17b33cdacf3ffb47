// Loading libraries: shared libraries through the dynamic loader, and the
// resource libraries (resources.cpp) as modules of their own, told apart by
// their handles.
#include <dlfcn.h>
#include <link.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/file_paths.h"
#include "platform/libloaderapi.h"
#include "platform/resource_modules.h"
#include "platform/stringapiset.h"
#include "platform/synchapi.h"

namespace {
thread_local std::string t_loadError;
}

HMODULE LoadLibraryW(LPCWSTR lpLibFileName) { return LoadLibraryExW(lpLibFileName, nullptr, 0); }

HMODULE LoadLibraryExW(LPCWSTR lpLibFileName, HANDLE hFile, DWORD dwFlags)
{
    if (!lpLibFileName || hFile || (dwFlags & ~LOAD_LIBRARY_AS_DATAFILE)) {
        t_loadError = lpLibFileName ? "unsupported load arguments" : "no library name";
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // Callers join folders with "\"; a name without a folder is searched for
    // by the dynamic loader, or taken from the current folder when it names a
    // resource library there.
    const std::filesystem::path path = NativePath(lpLibFileName);
    if (IsResourceLibraryFile(path))
        return LoadResourceModule(path, t_loadError);
    if (dwFlags & LOAD_LIBRARY_AS_DATAFILE) {
        std::error_code ec;
        const bool exists = std::filesystem::exists(path, ec);
        t_loadError = path.string() + (exists ? ": not a resource library" : ": no such file");
        SetLastError(exists ? ERROR_BAD_EXE_FORMAT : ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = dlerror();
        t_loadError = why ? why : "cannot load " + path.string();
        SetLastError(ERROR_MOD_NOT_FOUND);
    }
    return handle;
}

FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName)
{
    if (!hModule || !lpProcName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (IsResourceModuleHandle(hModule)) {  // resources only, no code
        SetLastError(ResourceModulePath(hModule) ? ERROR_PROC_NOT_FOUND : ERROR_INVALID_HANDLE);
        return nullptr;
    }
    auto* proc = reinterpret_cast<FARPROC>(dlsym(hModule, lpProcName));
    if (!proc)
        SetLastError(ERROR_PROC_NOT_FOUND);
    return proc;
}

BOOL FreeLibrary(HMODULE hLibModule)
{
    if (!hLibModule) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (IsResourceModuleHandle(hLibModule)) {
        if (FreeResourceModule(hLibModule))
            return TRUE;
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return dlclose(hLibModule) == 0 ? TRUE : FALSE;
}

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
    if (IsResourceModuleHandle(hModule)) {
        const std::optional<std::filesystem::path> file = ResourceModulePath(hModule);
        if (!file) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return 0;
        }
        path = file->string();
    } else if (hModule) {
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
