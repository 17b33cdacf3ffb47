// The driver's data files: the data-file index next to the plug-in's module
// (named from the first four characters of the module's file name, ".DAT"),
// the files it names, its keyed resources, and the per-machine user INI file
// in the driver's data folder, with the user-defined papers seeded into it.
//
// Every lookup answers empty (or 0) when a file, section or key is missing;
// the callers fall back to their defaults.
#pragma once

#include <string>
#include <string_view>

#include "platform/windef.h"

// "ABCD.DAT" and "ABCD.ini" for a module file named ABCD_UI... (a path or a name).
std::u16string DataIndexNameFor(std::u16string_view moduleFile);
std::u16string UserIniNameFor(std::u16string_view moduleFile);

// The key of a keyed resource by its number; null for a number with no key.
const char16_t* KeyedResourceKey(int number) noexcept;

// A value of an INI file, cut to size - 1 characters; empty when the file,
// section or key is missing (or file is empty).
std::u16string ProfileString(const std::u16string& file, const char16_t* section, const char16_t* key, DWORD size = 1024);

// The plug-in's own string table; null for an unknown id.
const char16_t* PluginString(UINT id) noexcept;

class DriverDataFiles {
public:
    // modulePath: the full path of the plug-in's module file; empty when it
    // cannot be had, and the index is then looked for in the system folder.
    explicit DriverDataFiles(std::u16string modulePath);
    // For the module this code is linked into, found once per process.
    static const DriverDataFiles& ForThisModule();

    // The index's folder, with the trailing "\".
    const std::u16string& Folder() const noexcept { return folder_; }
    const std::u16string& IndexPath() const noexcept { return indexPath_; }

    // A data file named by section/key of the index (only that section is
    // read): the folder joined to the value, or the value alone.
    std::u16string DataFilePath(std::u16string_view section, std::u16string_view key, bool withFolder) const;
    // A keyed resource from section (General when null), else from General;
    // the value's length, 0 when absent or the number has no key.
    DWORD KeyedResource(int number, const char16_t* section, LPWSTR buffer, DWORD size) const;
    std::u16string KeyedResource(int number, const char16_t* section = nullptr) const;

    // A value of the printer driver's capability file (the first of its
    // dependent files ending in .CAP) for a model: the string, with the
    // defaults of GetIPDll, NetExtDAT, USBExtDLL and USBExtDAT; empty when
    // absent. Integer keys (NewLogo, SuperColor, InstalledOptions) read 0
    // when absent.
    std::u16string CapabilityValue(HANDLE printer, std::u16string_view model, std::u16string_view key) const;
    // The capability file's full path; empty when the driver has none.
    static std::u16string CapabilityFilePath(HANDLE printer);

    // The per-machine data folder (common application data\Halvane\Drv\ZNTR)
    // and the user INI file in it.
    const std::u16string& DataFolder() const noexcept { return dataFolder_; }
    const std::u16string& UserIniPath() const noexcept { return userIniPath_; }
    // Makes the data folder and the user INI file (UTF-16LE, with its mark)
    // when missing, writes Generic/This and lets every local user change it.
    // Failures are silent, as the settings are then simply not kept; false
    // tells a test which step failed.
    bool EnsureUserIni() const;
    // Copies the seed file's user-defined papers into the user INI file:
    // seeds first, then the user's own papers in their order.
    void SeedUserDefinedPapers() const;

private:
    std::u16string folder_;
    std::u16string indexPath_;
    std::u16string dataFolder_;
    std::u16string userIniPath_;
};
