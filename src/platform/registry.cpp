// The registry: a folder per key under the state root, a file per value.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/state_root.h"
#include "platform/stringapiset.h"
#include "platform/winerror.h"
#include "platform/winreg.h"

namespace fs = std::filesystem;

namespace {

// Open keys by handle; the predefined roots are not in the table.
struct Keys {
    std::mutex lock;
    std::unordered_map<HKEY, fs::path> open;
    std::uintptr_t next = 0x2000;
};

Keys& Table()
{
    static Keys* keys = new Keys;  // never destroyed: keys may be closed at exit
    return *keys;
}

// A name as a file name: ASCII folded to lower case, and every byte that is
// not a letter, digit, "-", "_" or "." written as "%XX" of its UTF-8.
std::string Canonical(std::u16string_view name)
{
    std::string out;
    for (const unsigned char c : WideToUtf8(name)) {
        const unsigned char lower = c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
        if ((lower >= 'a' && lower <= 'z') || (lower >= '0' && lower <= '9') || lower == '-' || lower == '_' ||
            (lower == '.' && !out.empty())) {
            out += static_cast<char>(lower);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", lower);
            out += hex;
        }
    }
    return out.empty() ? "%00" : out;
}

bool FolderOf(HKEY key, fs::path& folder)
{
    if (key == HKEY_LOCAL_MACHINE) {
        folder = StateRoot() / "Registry" / "HKEY_LOCAL_MACHINE";
        return true;
    }
    if (key == HKEY_CURRENT_USER) {
        folder = StateRoot() / "Registry" / "HKEY_CURRENT_USER";
        return true;
    }
    Keys& t = Table();
    std::lock_guard guard(t.lock);
    const auto it = t.open.find(key);
    if (it == t.open.end())
        return false;
    folder = it->second;
    return true;
}

fs::path SubKeyFolder(const fs::path& base, LPCWSTR subKey)
{
    fs::path folder = base;
    if (!subKey)
        return folder;
    const std::u16string_view path(subKey);
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(u'\\', start);
        if (end == std::u16string_view::npos)
            end = path.size();
        if (end > start)
            folder /= Canonical(path.substr(start, end - start));
        start = end + 1;
    }
    return folder;
}

HKEY Remember(fs::path folder)
{
    Keys& t = Table();
    std::lock_guard guard(t.lock);
    HKEY key = reinterpret_cast<HKEY>(t.next);
    t.next += 4;
    t.open.emplace(key, std::move(folder));
    return key;
}

// A value's file: "=" and its canonical name, so that no sub-key's folder
// (whose names never hold "=") can take the same name. The key's default
// value has the empty name.
fs::path ValueFile(const fs::path& folder, LPCWSTR name) { return folder / ("=" + Canonical(name ? name : u"")); }

template <class Body>
LSTATUS Guard(Body&& body) noexcept
{
    try {
        return body();
    } catch (...) {
        return static_cast<LSTATUS>(ERROR_NOT_ENOUGH_MEMORY);
    }
}

} // namespace

LSTATUS RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR, DWORD, REGSAM, SECURITY_ATTRIBUTES*, PHKEY phkResult,
                        LPDWORD lpdwDisposition)
{
    return Guard([&]() -> LSTATUS {
        fs::path base;
        if (!phkResult || !FolderOf(hKey, base))
            return static_cast<LSTATUS>(phkResult ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
        const fs::path folder = SubKeyFolder(base, lpSubKey);
        std::error_code ec;
        const bool existed = fs::is_directory(folder, ec);
        if (!existed && !fs::create_directories(folder, ec) && !fs::is_directory(folder, ec))
            return static_cast<LSTATUS>(ERROR_ACCESS_DENIED);
        if (lpdwDisposition)
            *lpdwDisposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
        *phkResult = Remember(folder);
        return static_cast<LSTATUS>(ERROR_SUCCESS);
    });
}

LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM, PHKEY phkResult)
{
    return Guard([&]() -> LSTATUS {
        fs::path base;
        if (!phkResult || !FolderOf(hKey, base))
            return static_cast<LSTATUS>(phkResult ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
        *phkResult = nullptr;
        const fs::path folder = SubKeyFolder(base, lpSubKey);
        std::error_code ec;
        if (!fs::is_directory(folder, ec))
            return static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND);
        *phkResult = Remember(folder);
        return static_cast<LSTATUS>(ERROR_SUCCESS);
    });
}

LSTATUS RegCloseKey(HKEY hKey)
{
    if (hKey == HKEY_LOCAL_MACHINE || hKey == HKEY_CURRENT_USER)
        return static_cast<LSTATUS>(ERROR_SUCCESS);
    Keys& t = Table();
    std::lock_guard guard(t.lock);
    return static_cast<LSTATUS>(t.open.erase(hKey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE);
}

LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData)
{
    return Guard([&]() -> LSTATUS {
        fs::path folder;
        if (!FolderOf(hKey, folder))
            return static_cast<LSTATUS>(ERROR_INVALID_HANDLE);
        std::ifstream in(ValueFile(folder, lpValueName), std::ios::binary);
        if (!in)
            return static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (bytes.size() < 4)
            return static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND);
        DWORD type = 0;
        for (int i = 3; i >= 0; --i)
            type = (type << 8) | static_cast<unsigned char>(bytes[static_cast<std::size_t>(i)]);
        const DWORD size = static_cast<DWORD>(bytes.size() - 4);
        if (lpType)
            *lpType = type;
        if (!lpcbData)
            return static_cast<LSTATUS>(lpData ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS);
        const DWORD room = *lpcbData;
        *lpcbData = size;
        if (!lpData)
            return static_cast<LSTATUS>(ERROR_SUCCESS);
        if (room < size)
            return static_cast<LSTATUS>(ERROR_MORE_DATA);
        std::copy(bytes.begin() + 4, bytes.end(), lpData);
        return static_cast<LSTATUS>(ERROR_SUCCESS);
    });
}

LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData, DWORD cbData)
{
    return Guard([&]() -> LSTATUS {
        fs::path folder;
        if (!FolderOf(hKey, folder))
            return static_cast<LSTATUS>(ERROR_INVALID_HANDLE);
        if ((dwType != REG_SZ && dwType != REG_DWORD && dwType != REG_BINARY) || (cbData > 0 && !lpData) ||
            (dwType == REG_DWORD && cbData != 4))
            return static_cast<LSTATUS>(ERROR_INVALID_PARAMETER);
        std::string bytes;
        for (int i = 0; i < 4; ++i)
            bytes += static_cast<char>((dwType >> (8 * i)) & 0xFF);
        bytes.append(reinterpret_cast<const char*>(lpData), cbData);
        const fs::path file = ValueFile(folder, lpValueName);
        // Written beside it under a name no value or sub-key can have, then renamed over it.
        std::string temp = (folder / ("~" + file.filename().string().substr(1) + ".XXXXXX")).string();
        const int fd = ::mkstemp(temp.data());
        if (fd < 0)
            return static_cast<LSTATUS>(ERROR_ACCESS_DENIED);
        const bool written = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) &&
                             ::fsync(fd) == 0;
        ::close(fd);
        if (!written || ::rename(temp.c_str(), file.c_str()) != 0) {
            ::unlink(temp.c_str());
            return static_cast<LSTATUS>(ERROR_ACCESS_DENIED);
        }
        return static_cast<LSTATUS>(ERROR_SUCCESS);
    });
}

LSTATUS RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName)
{
    return Guard([&]() -> LSTATUS {
        fs::path folder;
        if (!FolderOf(hKey, folder))
            return static_cast<LSTATUS>(ERROR_INVALID_HANDLE);
        std::error_code ec;
        return static_cast<LSTATUS>(fs::remove(ValueFile(folder, lpValueName), ec) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND);
    });
}
