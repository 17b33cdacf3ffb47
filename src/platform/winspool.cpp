// Printers as folders under the state root; each printer's data in one file
// of lines "<name in hex> <type> <bytes in hex>", replaced whole on every change.
#include "platform/winspool.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/state_root.h"
#include "platform/stringapiset.h"
#include "platform/synchapi.h"

namespace fs = std::filesystem;

namespace {

struct Value {
    DWORD type;
    std::vector<BYTE> bytes;
};
using Values = std::map<std::u16string, Value>;  // name order

struct Printers {
    std::mutex lock;
    std::unordered_map<HANDLE, fs::path> open;  // handle -> the printer's folder
    std::uintptr_t next = 0x5000;
};

Printers& Table()
{
    static Printers* printers = new Printers;  // never destroyed: printers may be closed at exit
    return *printers;
}

// A folder name for any printer name: letters, digits, '-' and '_' as they are, the rest as %XX.
fs::path FolderOf(const std::u16string& name)
{
    std::string folder;
    for (unsigned char c : WideToUtf8(name)) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_') {
            folder += static_cast<char>(c);
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            folder += escaped;
        }
    }
    return StateRoot() / "printers" / folder;
}

std::string Hex(const BYTE* data, std::size_t size)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        out += kDigits[data[i] >> 4];
        out += kDigits[data[i] & 15];
    }
    return out;
}

bool Unhex(const std::string& text, std::vector<BYTE>& out)
{
    if (text.size() % 2)
        return false;
    out.clear();
    for (std::size_t i = 0; i < text.size(); i += 2) {
        unsigned value = 0;
        if (std::sscanf(text.c_str() + i, "%2x", &value) != 1)
            return false;
        out.push_back(static_cast<BYTE>(value));
    }
    return true;
}

fs::path DataFile(const fs::path& folder) { return folder / "printer-data"; }

// Reads the printer's values; lines that cannot be read are skipped.
Values Load(const fs::path& folder)
{
    Values values;
    std::ifstream in(DataFile(folder));
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string name;
        DWORD type = 0;
        std::string data;
        fields >> name >> type >> data;
        std::vector<BYTE> nameBytes;
        Value v{type, {}};
        if (!fields.fail() && Unhex(name, nameBytes) && Unhex(data, v.bytes))
            values[Utf8ToWide(std::string(nameBytes.begin(), nameBytes.end()))] = std::move(v);
    }
    return values;
}

// Replaces the file whole, so a reader never sees half of it.
DWORD Save(const fs::path& folder, const Values& values)
{
    const fs::path file = DataFile(folder);
    const fs::path temporary = folder / "printer-data.new";
    {
        std::ofstream out(temporary, std::ios::trunc);
        for (const auto& [name, v] : values) {
            const std::string utf8 = WideToUtf8(name);
            out << Hex(reinterpret_cast<const BYTE*>(utf8.data()), utf8.size()) << ' ' << v.type << ' '
                << (v.bytes.empty() ? std::string() : Hex(v.bytes.data(), v.bytes.size())) << '\n';
        }
        if (!out.flush())
            return ERROR_WRITE_FAULT;
    }
    std::error_code ec;
    fs::rename(temporary, file, ec);
    return ec ? ERROR_WRITE_FAULT : ERROR_SUCCESS;
}

// Holds the printer's lock file across a read-modify-write, also against other processes.
class PrinterLock {
public:
    explicit PrinterLock(const fs::path& folder) : fd_(open((folder / "lock").c_str(), O_RDWR | O_CREAT, 0666))
    {
        if (fd_ >= 0)
            flock(fd_, LOCK_EX);
    }
    ~PrinterLock()
    {
        if (fd_ >= 0)
            close(fd_);  // releases the lock
    }
    PrinterLock(const PrinterLock&) = delete;
    PrinterLock& operator=(const PrinterLock&) = delete;

private:
    int fd_;
};

bool FolderOfHandle(HANDLE h, fs::path& folder)
{
    Printers& t = Table();
    std::lock_guard guard(t.lock);
    const auto it = t.open.find(h);
    if (it == t.open.end())
        return false;
    folder = it->second;
    return true;
}

HANDLE Remember(fs::path folder)
{
    Printers& t = Table();
    std::lock_guard guard(t.lock);
    HANDLE h = reinterpret_cast<HANDLE>(t.next);
    t.next += 4;
    t.open.emplace(h, std::move(folder));
    return h;
}

template <class Body>
DWORD Guard(Body&& body) noexcept
{
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    } catch (...) {
        return ERROR_INVALID_DATA;
    }
}

} // namespace

HANDLE AddPrinterW(LPWSTR, DWORD Level, LPBYTE pPrinter)
{
    const auto* info = reinterpret_cast<const PRINTER_INFO_1W*>(pPrinter);
    if (Level != 1 || !info || !info->pName || !*info->pName) {
        SetLastError(ERROR_INVALID_PRINTER_NAME);
        return nullptr;
    }
    HANDLE h = nullptr;
    const DWORD error = Guard([&]() -> DWORD {
        const fs::path folder = FolderOf(info->pName);
        std::error_code ec;
        if (fs::exists(folder, ec))
            return ERROR_PRINTER_ALREADY_EXISTS;
        fs::create_directories(folder, ec);
        if (ec)
            return ERROR_ACCESS_DENIED;
        h = Remember(folder);
        return ERROR_SUCCESS;
    });
    if (error != ERROR_SUCCESS)
        SetLastError(error);
    return h;
}

BOOL OpenPrinterW(LPWSTR pPrinterName, HANDLE* phPrinter, PRINTER_DEFAULTSW*)
{
    if (!phPrinter) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *phPrinter = nullptr;
    const DWORD error = Guard([&]() -> DWORD {
        if (!pPrinterName || !*pPrinterName)
            return ERROR_INVALID_PRINTER_NAME;
        fs::path folder = FolderOf(pPrinterName);
        std::error_code ec;
        if (!fs::is_directory(folder, ec))
            return ERROR_INVALID_PRINTER_NAME;
        *phPrinter = Remember(std::move(folder));
        return ERROR_SUCCESS;
    });
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

BOOL ClosePrinter(HANDLE hPrinter)
{
    Printers& t = Table();
    std::lock_guard guard(t.lock);
    if (t.open.erase(hPrinter) == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

DWORD GetPrinterDataW(HANDLE hPrinter, LPWSTR pValueName, DWORD* pType, LPBYTE pData, DWORD nSize, DWORD* pcbNeeded)
{
    return Guard([&]() -> DWORD {
        fs::path folder;
        if (!FolderOfHandle(hPrinter, folder))
            return ERROR_INVALID_HANDLE;
        if (!pValueName || !pcbNeeded)
            return ERROR_INVALID_PARAMETER;
        const Values values = Load(folder);
        const auto it = values.find(pValueName);
        if (it == values.end())
            return ERROR_FILE_NOT_FOUND;
        const Value& v = it->second;
        if (pType)
            *pType = v.type;
        *pcbNeeded = static_cast<DWORD>(v.bytes.size());
        if (nSize < v.bytes.size() || (!pData && !v.bytes.empty()))
            return ERROR_MORE_DATA;
        if (!v.bytes.empty())
            std::memcpy(pData, v.bytes.data(), v.bytes.size());
        return ERROR_SUCCESS;
    });
}

DWORD SetPrinterDataW(HANDLE hPrinter, LPWSTR pValueName, DWORD Type, LPBYTE pData, DWORD cbData)
{
    return Guard([&]() -> DWORD {
        fs::path folder;
        if (!FolderOfHandle(hPrinter, folder))
            return ERROR_INVALID_HANDLE;
        if (!pValueName || !*pValueName || (Type != REG_SZ && Type != REG_BINARY && Type != REG_DWORD) ||
            (Type == REG_DWORD && cbData != sizeof(DWORD)) || (!pData && cbData))
            return ERROR_INVALID_PARAMETER;
        PrinterLock lock(folder);
        Values values = Load(folder);
        values[pValueName] = Value{Type, std::vector<BYTE>(pData, pData + cbData)};
        return Save(folder, values);
    });
}

DWORD DeletePrinterDataW(HANDLE hPrinter, LPWSTR pValueName)
{
    return Guard([&]() -> DWORD {
        fs::path folder;
        if (!FolderOfHandle(hPrinter, folder))
            return ERROR_INVALID_HANDLE;
        if (!pValueName)
            return ERROR_INVALID_PARAMETER;
        PrinterLock lock(folder);
        Values values = Load(folder);
        if (values.erase(pValueName) == 0)
            return ERROR_FILE_NOT_FOUND;
        return Save(folder, values);
    });
}

DWORD EnumPrinterDataW(HANDLE hPrinter, DWORD dwIndex, LPWSTR pValueName, DWORD cbValueName, DWORD* pcbValueName,
                       DWORD* pType, LPBYTE pData, DWORD cbData, DWORD* pcbData)
{
    return Guard([&]() -> DWORD {
        fs::path folder;
        if (!FolderOfHandle(hPrinter, folder))
            return ERROR_INVALID_HANDLE;
        if (!pcbValueName || !pcbData)
            return ERROR_INVALID_PARAMETER;
        const Values values = Load(folder);
        if (dwIndex >= values.size())
            return ERROR_NO_MORE_ITEMS;
        auto it = values.begin();
        std::advance(it, dwIndex);
        const std::u16string& name = it->first;
        const Value& v = it->second;
        const DWORD nameBytes = static_cast<DWORD>((name.size() + 1) * sizeof(WCHAR));
        *pcbValueName = nameBytes;
        *pcbData = static_cast<DWORD>(v.bytes.size());
        if (pType)
            *pType = v.type;
        if (cbValueName < nameBytes || !pValueName || cbData < v.bytes.size() || (!pData && !v.bytes.empty()))
            return ERROR_MORE_DATA;
        std::memcpy(pValueName, name.c_str(), nameBytes);
        if (!v.bytes.empty())
            std::memcpy(pData, v.bytes.data(), v.bytes.size());
        return ERROR_SUCCESS;
    });
}
