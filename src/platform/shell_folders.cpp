// The special folders, under the state root, and folder creation.
#include <algorithm>
#include <filesystem>
#include <string>

#include "platform/file_paths.h"
#include "platform/shlobj.h"
#include "platform/state_root.h"
#include "platform/sysinfoapi.h"
#include "platform/winbase.h"

namespace fs = std::filesystem;

namespace {

// The profile's folder name: the user's name as GetUserNameW answers it.
std::u16string UserName()
{
    char16_t name[256];
    DWORD size = 256;
    if (GetUserNameW(name, &size))
        return std::u16string(name, size - 1);
    std::u16string longer(size, u'\0');
    if (GetUserNameW(longer.data(), &size)) {
        longer.resize(size - 1);
        return longer;
    }
    return u"user";
}

// The folder for a CSIDL value; empty for values not served.
fs::path FolderOf(int csidl)
{
    const fs::path root = StateRoot();
    const fs::path profile = root / "Users" / NativePath(UserName());
    switch (csidl) {
    case CSIDL_COMMON_APPDATA: return root / "ProgramData";
    case CSIDL_APPDATA: return profile / "AppData" / "Roaming";
    case CSIDL_LOCAL_APPDATA: return profile / "AppData" / "Local";
    case CSIDL_PROFILE: return profile;
    case CSIDL_WINDOWS: return root / "Windows";
    case CSIDL_SYSTEM: return root / "Windows" / "System32";
    default: return {};
    }
}

UINT CopyFolder(const fs::path& folder, LPWSTR buffer, UINT size)
{
    const std::u16string text = CallerPath(folder);
    if (!buffer || text.size() + 1 > size)
        return static_cast<UINT>(text.size() + 1);
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = u'\0';
    return static_cast<UINT>(text.size());
}

} // namespace

HRESULT SHGetFolderPathW(HWND, int csidl, HANDLE, DWORD, LPWSTR pszPath)
{
    try {
        if (!pszPath)
            return E_INVALIDARG;
        pszPath[0] = u'\0';
        const fs::path folder = FolderOf(csidl & ~CSIDL_FLAG_CREATE);
        if (folder.empty())
            return E_INVALIDARG;
        std::error_code ec;
        if (csidl & CSIDL_FLAG_CREATE)
            fs::create_directories(folder, ec);
        const std::u16string text = CallerPath(folder);
        if (text.size() >= MAX_PATH)
            return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
        std::copy(text.begin(), text.end(), pszPath);
        pszPath[text.size()] = u'\0';
        return fs::is_directory(folder, ec) ? S_OK : S_FALSE;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

int SHCreateDirectoryExW(HWND, LPCWSTR pszPath, const void*)
{
    try {
        if (!pszPath || !*pszPath)
            return static_cast<int>(ERROR_BAD_PATHNAME);
        const fs::path folder = NativePath(pszPath);
        if (!folder.is_absolute())  // the platform wants a full path too
            return static_cast<int>(ERROR_BAD_PATHNAME);
        std::error_code ec;
        if (fs::exists(folder, ec))
            return static_cast<int>(fs::is_directory(folder, ec) ? ERROR_ALREADY_EXISTS : ERROR_FILE_EXISTS);
        return static_cast<int>(fs::create_directories(folder, ec) ? ERROR_SUCCESS : ERROR_PATH_NOT_FOUND);
    } catch (...) {
        return static_cast<int>(ERROR_NOT_ENOUGH_MEMORY);
    }
}

UINT GetWindowsDirectoryW(LPWSTR lpBuffer, UINT uSize)
{
    try {
        return CopyFolder(FolderOf(CSIDL_WINDOWS), lpBuffer, uSize);
    } catch (...) {
        return 0;
    }
}

UINT GetSystemDirectoryW(LPWSTR lpBuffer, UINT uSize)
{
    try {
        return CopyFolder(FolderOf(CSIDL_SYSTEM), lpBuffer, uSize);
    } catch (...) {
        return 0;
    }
}
