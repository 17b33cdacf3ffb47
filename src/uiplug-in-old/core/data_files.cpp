#include "uiplug-in-old/core/data_files.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <vector>

#include "platform/aclapi.h"
#include "platform/fileapi.h"
#include "platform/libloaderapi.h"
#include "platform/shlobj.h"
#include "platform/stringapiset.h"
#include "platform/synchapi.h"
#include "platform/sysinfoapi.h"
#include "platform/winbase.h"
#include "platform/winspool.h"

namespace {

constexpr DWORD kPathChars = 260;

struct KeyedEntry {
    int number;
    const char16_t* key;
};

constexpr KeyedEntry kKeyedResources[] = {
    {1, u"VersionINFFile"}, {2, u"CommonVerInfDLL"}, {11, u"StringResDLL"}, {12, u"DialogResDLL"},
    {21, u"NetworkExtensionFile"}, {22, u"JobAccountingFile"}, {23, u"DCSLoadFile"}, {24, u"DCSExeFile"},
    {25, u"DCSService"}, {26, u"DCSDisplay"}, {27, u"RegKey_DCS"}, {28, u"DitherTableDLL"},
    {31, u"ColorModuleCommonFile"}, {32, u"ColorModuleUserModeFile"}, {33, u"ColorModuleKernelModeFile"},
    {34, u"DCSModuleFile"}, {35, u"DCSDataTableFile"}, {36, u"JBIG_W9x"}, {37, u"JBIG_NT4"}, {38, u"JBIG_W2k"},
    {39, u"ColorModuleCacheFile"}, {40, u"PrintProcessor_V0"}, {41, u"PrintProcessor_V2"}, {42, u"PrintProcessor_V3"},
    {47, u"SuperColorUserModeFile"}, {48, u"SuperColorKernelModeFile"}, {49, u"CCMFile"}, {50, u"DataFolder"},
    {51, u"Help File"}, {52, u"SpoolerLibraryFile"}, {53, u"SpoolerIniFile"}, {70, u"UserDefineInfo"},
    {71, u"UserDefPaperInfo"}, {72, u"WatermarkInfo"}, {73, u"WatermarkDir"}, {74, u"MediatypeInfo"},
    {75, u"CustomPrinterInfo"}, {90, u"UsermodeDriverName"}, {101, u"OptionInf_Tray"}, {110, u"OptionInf_Duplex"},
    {111, u"OptionInf_HD"}, {112, u"OptionInf_Finisher"}, {120, u"OptionInf_RAM"}, {121, u"OptionInf_Flash"},
    {130, u"RegKey_Swatch"}, {131, u"SwatchFile"},
};

struct PluginStringEntry {
    UINT id;
    const char16_t* text;
};

constexpr PluginStringEntry kPluginStrings[] = {
    {1, u"OEM UI Added Item"}, {2, u"Printer has been calibrated."}, {3, u"OEM UI Customization DLL"},
    {4, u"Device Settings OEM UI Added Item"}, {10, u"Advanced OEM UI Added Item"}, {2038, u"Watermark"},
    {2044, u"Defined Overlay"}, {2045, u"Custom Colors"}, {2100, u"2.1.2"}, {2102, u"HALVUI.INI"},
    {2103, u"UserDefPaper"}, {2105, u"numDefine"}, {2106, u"PaperEntry"}, {2107, u"Paper%d"},
};

// The file-name part of a path written with "\" or "/".
std::u16string_view FileNameOf(std::u16string_view path)
{
    const std::size_t slash = path.find_last_of(u"\\/");
    return slash == std::u16string_view::npos ? path : path.substr(slash + 1);
}


int ReadProfileInt(const char16_t* section, const char16_t* key, const std::u16string& file)
{
    return static_cast<int>(GetPrivateProfileIntW(section, key, 0, file.c_str()));
}

// A list of numbers as "3,5,9,": digits until "," or the end; any other
// character ends the number. followed[i]: whether number i had its ",".
struct NumberList {
    std::vector<int> numbers;
    std::vector<bool> followed;
};

NumberList ParseNumberList(std::u16string_view text)
{
    NumberList list;
    std::size_t i = 0;
    while (i < text.size()) {
        int value = 0;
        bool digits = false;
        while (i < text.size() && text[i] >= u'0' && text[i] <= u'9') {
            value = value * 10 + (text[i] - u'0');
            digits = true;
            ++i;
        }
        const bool comma = i < text.size() && text[i] == u',';
        if (digits) {
            list.numbers.push_back(value);
            list.followed.push_back(comma);
        }
        if (!comma)
            break;
        ++i;
    }
    return list;
}

std::u16string PaperKey(int number)
{
    char key[32];
    std::snprintf(key, sizeof key, "Paper%d", number);  // string 2107
    return Utf8ToWide(key);
}

std::u16string SystemFolder()
{
    char16_t buffer[kPathChars] = {};
    const UINT n = GetSystemDirectoryW(buffer, kPathChars);
    return n > 0 && n < kPathChars ? std::u16string(buffer, n) : std::u16string();
}

// The plug-in's module, found from an address inside this file.
std::u16string ThisModulePath()
{
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&ThisModulePath), &module))
        return {};
    char16_t buffer[kPathChars] = {};
    const DWORD n = GetModuleFileNameW(module, buffer, kPathChars);
    return n > 0 && n < kPathChars ? std::u16string(buffer, n) : std::u16string();
}

// Adds an entry for Everyone (read and write, no inheritance) to the file's
// access list, so every user of the machine can change the settings in it.
bool GrantEveryoneReadWrite(const std::u16string& path)
{
    PACL oldDacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &oldDacl,
                              nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    bool granted = false;
    if (AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone)) {
        EXPLICIT_ACCESS_W access{};
        access.grfAccessPermissions = GENERIC_READ | GENERIC_WRITE;
        access.grfAccessMode = SET_ACCESS;
        access.grfInheritance = NO_INHERITANCE;
        access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
        access.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
        access.Trustee.ptstrName = static_cast<LPWSTR>(everyone);
        PACL newDacl = nullptr;
        if (SetEntriesInAclW(1, &access, oldDacl, &newDacl) == ERROR_SUCCESS) {
            std::u16string target = path;
            granted = SetNamedSecurityInfoW(target.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                            newDacl, nullptr) == ERROR_SUCCESS;
            LocalFree(newDacl);
        }
        FreeSid(everyone);
    }
    LocalFree(descriptor);
    return granted;
}

} // namespace

std::u16string DataIndexNameFor(std::u16string_view moduleFile)
{
    return std::u16string(FileNameOf(moduleFile).substr(0, 4)) + u".DAT";
}

std::u16string UserIniNameFor(std::u16string_view moduleFile)
{
    return std::u16string(FileNameOf(moduleFile).substr(0, 4)) + u".ini";
}

std::u16string ProfileString(const std::u16string& file, const char16_t* section, const char16_t* key, DWORD size)
{
    if (file.empty() || size == 0)
        return {};
    std::u16string buffer(size, u'\0');
    const DWORD n = GetPrivateProfileStringW(section, key, u"", buffer.data(), size, file.c_str());
    buffer.resize(std::min<DWORD>(n, size));
    return buffer;
}

const char16_t* KeyedResourceKey(int number) noexcept
{
    for (const KeyedEntry& e : kKeyedResources)
        if (e.number == number)
            return e.key;
    return nullptr;
}

const char16_t* PluginString(UINT id) noexcept
{
    for (const PluginStringEntry& e : kPluginStrings)
        if (e.id == id)
            return e.text;
    return nullptr;
}

DriverDataFiles::DriverDataFiles(std::u16string modulePath)
{
    const std::u16string_view name = FileNameOf(modulePath);
    if (modulePath.empty() || name.empty()) {
        folder_ = SystemFolder() + u"\\";
    } else {
        folder_ = modulePath.substr(0, modulePath.size() - name.size());
    }
    const std::u16string_view module = modulePath.empty() ? std::u16string_view(u"ZNTR") : std::u16string_view(modulePath);
    indexPath_ = folder_ + DataIndexNameFor(module);

    char16_t common[kPathChars] = {};
    if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, common)))
        dataFolder_ = std::u16string(common) + u"\\Halvane\\Drv\\ZNTR";
    userIniPath_ = dataFolder_ + u"\\" + UserIniNameFor(module);
}

const DriverDataFiles& DriverDataFiles::ForThisModule()
{
    static const DriverDataFiles files(ThisModulePath());
    return files;
}

std::u16string DriverDataFiles::DataFilePath(std::u16string_view section, std::u16string_view key, bool withFolder) const
{
    const std::u16string value = ProfileString(indexPath_, std::u16string(section).c_str(), std::u16string(key).c_str(), kPathChars);
    if (value.empty() || !withFolder)
        return value;
    return folder_ + value;
}

DWORD DriverDataFiles::KeyedResource(int number, const char16_t* section, LPWSTR buffer, DWORD size) const
{
    const char16_t* key = KeyedResourceKey(number);
    if (!key || !buffer || size == 0)
        return 0;
    const std::u16string general = u"General";
    const char16_t* first = section ? section : general.c_str();
    DWORD n = GetPrivateProfileStringW(first, key, u"", buffer, size, indexPath_.c_str());
    if (n == 0 && section && std::u16string_view(section) != general)
        n = GetPrivateProfileStringW(general.c_str(), key, u"", buffer, size, indexPath_.c_str());
    return n;
}

std::u16string DriverDataFiles::KeyedResource(int number, const char16_t* section) const
{
    std::u16string buffer(kPathChars, u'\0');
    buffer.resize(KeyedResource(number, section, buffer.data(), kPathChars));
    return buffer;
}

std::u16string DriverDataFiles::CapabilityFilePath(HANDLE printer)
{
    DWORD needed = 0;
    GetPrinterDriverW(printer, nullptr, 3, nullptr, 0, &needed);
    if (needed == 0)
        return {};
    std::vector<BYTE> buffer(needed);
    if (!GetPrinterDriverW(printer, nullptr, 3, buffer.data(), needed, &needed))
        return {};
    const auto* info = reinterpret_cast<const DRIVER_INFO_3W*>(buffer.data());
    for (const char16_t* file = info->pDependentFiles; file && *file; file += std::char_traits<char16_t>::length(file) + 1) {
        const std::u16string_view name(file);
        if (name.size() < 4)
            continue;
        std::u16string ending(name.substr(name.size() - 4));
        for (char16_t& c : ending)
            if (c >= u'a' && c <= u'z')
                c = static_cast<char16_t>(c - u'a' + u'A');
        if (ending == u".CAP")
            return std::u16string(name);
    }
    return {};
}

std::u16string DriverDataFiles::CapabilityValue(HANDLE printer, std::u16string_view model, std::u16string_view key) const
{
    struct Default {
        const char16_t* key;
        const char16_t* value;
    };
    constexpr Default kDefaults[] = {{u"GetIPDll", u"QVHCWNXT.DLL"},  {u"NetExtDAT", u"QVNEDEF.DAT"},
                                     {u"USBExtDLL", u"QVUSBEXT.DLL"}, {u"USBExtDAT", u"QVUSBEXT.DAT"},
                                     {u"NewLogo", u"0"},              {u"SuperColor", u"0"},
                                     {u"InstalledOptions", u"0"}};
    std::u16string fallback;
    for (const Default& d : kDefaults)
        if (key == d.key)
            fallback = d.value;
    const std::u16string file = CapabilityFilePath(printer);
    if (file.empty())
        return fallback;
    const std::u16string section = ProfileString(file, u"Capability", std::u16string(model).c_str(), kPathChars);
    if (section.empty())
        return fallback;
    std::u16string value = ProfileString(file, section.c_str(), std::u16string(key).c_str(), 1024);
    if (value.empty())
        return fallback;
    if (fallback == u"0") {  // an integer key
        char number[16];
        std::snprintf(number, sizeof number, "%d",
                      static_cast<int>(GetPrivateProfileIntW(section.c_str(), std::u16string(key).c_str(), 0, file.c_str())));
        value = Utf8ToWide(number);
    }
    return value;
}

bool DriverDataFiles::EnsureUserIni() const
{
    if (dataFolder_.empty())
        return false;
    const int made = SHCreateDirectoryExW(nullptr, dataFolder_.c_str(), nullptr);
    if (made != ERROR_SUCCESS && made != ERROR_ALREADY_EXISTS)
        return false;
    // A new file holds only the UTF-16LE mark, so every later write stores UTF-16.
    const HANDLE file = CreateFileW(userIniPath_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        const unsigned char mark[2] = {0xFF, 0xFE};
        DWORD written = 0;
        const BOOL ok = WriteFile(file, mark, sizeof mark, &written, nullptr);
        CloseHandle(file);
        if (!ok || written != sizeof mark)
            return false;
    } else if (GetLastError() != ERROR_FILE_EXISTS) {
        return false;
    }
    if (!WritePrivateProfileStringW(u"Generic", u"This", u"Printer Driver INI File", userIniPath_.c_str()))
        return false;
    return GrantEveryoneReadWrite(userIniPath_);
}

void DriverDataFiles::SeedUserDefinedPapers() const
{
    const std::u16string seeds = DataFilePath(u"Common", u"InitDataFile3", true);
    if (seeds.empty())
        return;
    const char16_t* section = PluginString(2103);   // UserDefPaper
    const char16_t* countKey = PluginString(2105);  // numDefine
    const char16_t* listKey = PluginString(2106);   // PaperEntry
    const int seedCount = ReadProfileInt(section, countKey, seeds);
    if (seedCount == 0)
        return;
    std::u16string list = ProfileString(seeds, section, listKey, 256);
    const int userCount = ReadProfileInt(section, countKey, userIniPath_);
    const std::u16string userList = ProfileString(userIniPath_, section, listKey, 256);

    const NumberList seeded = ParseNumberList(list);
    for (std::size_t i = 0; i < seeded.numbers.size() && static_cast<int>(i) < seedCount; ++i) {
        const std::u16string key = PaperKey(seeded.numbers[i]);
        const std::u16string paper = ProfileString(seeds, section, key.c_str(), 128);
        WritePrivateProfileStringW(section, key.c_str(), paper.c_str(), userIniPath_.c_str());
        if (!seeded.followed[i])
            break;
    }
    if (!list.empty() && list.back() != u',')
        list += u',';
    const std::set<int> known(seeded.numbers.begin(), seeded.numbers.end());
    const NumberList own = ParseNumberList(userList);
    for (std::size_t i = 0; i < own.numbers.size() && static_cast<int>(i) < userCount; ++i)
        if (!known.count(own.numbers[i])) {
            char item[16];
            std::snprintf(item, sizeof item, "%d,", own.numbers[i]);
            list += Utf8ToWide(item);
        }
    char count[16];
    std::snprintf(count, sizeof count, "%zu", ParseNumberList(list).numbers.size());
    WritePrivateProfileStringW(section, listKey, list.c_str(), userIniPath_.c_str());
    WritePrivateProfileStringW(section, countKey, Utf8ToWide(count).c_str(), userIniPath_.c_str());
}
