// GetPrinterDriverW: the one driver installed with this build.
#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/file_paths.h"
#include "platform/synchapi.h"
#include "platform/winspool.h"

namespace fs = std::filesystem;

namespace {

fs::path DriverFolder()
{
    if (const char* dir = std::getenv("ZNTR_DRIVER_DIR"); dir && *dir)
        return dir;
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&GetPrinterDriverW), &info) && info.dli_fname)
        return fs::absolute(info.dli_fname).parent_path();
    return fs::current_path();
}

} // namespace

BOOL GetPrinterDriverW(HANDLE hPrinter, LPWSTR pEnvironment, DWORD Level, LPBYTE pDriverInfo, DWORD cbBuf,
                       DWORD* pcbNeeded)
{
    // A size query of a value answers whether the handle is a printer's.
    DWORD type = 0, needed = 0;
    if (GetPrinterDataW(hPrinter, const_cast<LPWSTR>(u""), &type, nullptr, 0, &needed) == ERROR_INVALID_HANDLE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (Level != 3 || pEnvironment || !pcbNeeded) {
        SetLastError(Level != 3 ? ERROR_INVALID_LEVEL : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    try {
        const fs::path folder = DriverFolder();
        std::vector<std::u16string> files;
        std::error_code ec;
        for (const fs::directory_entry& entry : fs::directory_iterator(folder, ec))
            if (entry.is_regular_file(ec))
                files.push_back(CallerPath(entry.path()));
        std::sort(files.begin(), files.end());

        const std::u16string module = CallerPath(folder / "ZNTR_UI.so");
        const std::u16string strings[] = {u"ZNTR", u"Linux x86-64", module, module, module, u""};
        std::size_t chars = 0;
        for (const std::u16string& s : strings)
            chars += s.size() + 1;
        for (const std::u16string& f : files)
            chars += f.size() + 1;
        chars += 1 + 2 * 1;  // the list's end, the empty monitor and data type
        const std::size_t size = sizeof(DRIVER_INFO_3W) + chars * sizeof(char16_t);
        *pcbNeeded = static_cast<DWORD>(size);
        if (!pDriverInfo || cbBuf < size) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }

        auto* info = reinterpret_cast<DRIVER_INFO_3W*>(pDriverInfo);
        char16_t* out = reinterpret_cast<char16_t*>(pDriverInfo + sizeof(DRIVER_INFO_3W));
        auto put = [&out](const std::u16string& s) {
            char16_t* start = out;
            std::copy(s.begin(), s.end(), out);
            out += s.size();
            *out++ = u'\0';
            return start;
        };
        info->cVersion = 3;
        info->pName = put(strings[0]);
        info->pEnvironment = put(strings[1]);
        info->pDriverPath = put(strings[2]);
        info->pDataFile = put(strings[3]);
        info->pConfigFile = put(strings[4]);
        info->pHelpFile = put(strings[5]);
        info->pDependentFiles = out;
        for (const std::u16string& f : files)
            put(f);
        *out++ = u'\0';
        info->pMonitorName = put(u"");
        info->pDefaultDataType = put(u"");
        return TRUE;
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
}
