#include "uiplug-in-old/core/resource_library.h"

#include <algorithm>
#include <optional>

#include "platform/libloaderapi.h"
#include "platform/winnls.h"
#include "platform/winreg.h"
#include "platform/winuser.h"

namespace {

constexpr char16_t kLanguageKey[] = u"SOFTWARE\\Halvane\\QVLANG\\0.0";

class RegistryKey {
public:
    RegistryKey() { RegOpenKeyExW(HKEY_LOCAL_MACHINE, kLanguageKey, 0, KEY_READ, &key_); }
    ~RegistryKey()
    {
        if (key_)
            RegCloseKey(key_);
    }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    std::optional<DWORD> Number(const char16_t* name) const
    {
        DWORD type = 0, value = 0, size = sizeof value;
        if (!key_ || RegQueryValueExW(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
            type != REG_DWORD || size != sizeof value)
            return std::nullopt;
        return value;
    }
    std::u16string Text(const std::u16string& name) const
    {
        DWORD type = 0, size = 0;
        if (!key_ || RegQueryValueExW(key_, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ)
            return {};
        std::u16string text(size / sizeof(char16_t) + 1, u'\0');
        size = static_cast<DWORD>(text.size() * sizeof(char16_t));
        if (RegQueryValueExW(key_, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) != ERROR_SUCCESS)
            return {};
        text.resize(std::char_traits<char16_t>::length(text.c_str()));
        return text;
    }

private:
    HKEY key_ = nullptr;
};

std::u16string Abbreviation(LANGID language)
{
    char16_t buffer[16]{};
    const int n = GetLocaleInfoW(MAKELCID(language, SORT_DEFAULT), LOCALE_SABBREVLANGNAME, buffer, 16);
    return n > 1 ? std::u16string(buffer, static_cast<std::size_t>(n - 1)) : std::u16string();
}

LANGID NeutralForm(LANGID language) { return static_cast<LANGID>((language & 0x3FF) | 0x400); }

}  // namespace

ResourceLibrary& ResourceLibrary::operator=(ResourceLibrary&& other) noexcept
{
    if (this != &other) {
        if (module_)
            FreeLibrary(module_);
        module_ = other.Release();
    }
    return *this;
}

ResourceLibrary::~ResourceLibrary()
{
    if (module_)
        FreeLibrary(module_);
}

HMODULE ResourceLibrary::Release() noexcept
{
    HMODULE module = module_;
    module_ = nullptr;
    return module;
}

std::vector<LANGID> ResourceLanguages()
{
    const RegistryKey key;
    std::vector<LANGID> candidates;
    if (const auto id = key.Number(u"LanguageID")) {
        candidates.push_back(static_cast<LANGID>(*id));
        candidates.push_back(NeutralForm(static_cast<LANGID>(*id)));
    }
    const LANGID user = GetUserDefaultLangID();
    candidates.push_back(user);
    candidates.push_back(NeutralForm(user));
    if (const auto id = key.Number(u"DefaultLanguageID"))
        candidates.push_back(static_cast<LANGID>(*id));
    candidates.push_back(1033);

    std::vector<LANGID> languages;
    for (LANGID language : candidates)
        if (std::find(languages.begin(), languages.end(), language) == languages.end() && !Abbreviation(language).empty())
            languages.push_back(language);
    return languages;
}

std::u16string LanguageLibraryName(std::u16string_view nameFormat, std::u16string_view abbreviation)
{
    std::u16string name;
    bool substituted = false;
    for (std::size_t i = 0; i < nameFormat.size(); ++i) {
        if (nameFormat[i] == u'%' && i + 1 < nameFormat.size()) {
            if (nameFormat[i + 1] == u'%') {
                name.push_back(u'%');
                ++i;
                continue;
            }
            if (nameFormat[i + 1] == u's' && !substituted) {
                name.append(abbreviation);
                substituted = true;
                ++i;
                continue;
            }
        }
        name.push_back(nameFormat[i]);
    }
    return name;
}

std::u16string ResourceLibraryPath(const DriverDataFiles& files, std::u16string_view model, ResourceKind kind)
{
    const bool strings = kind == ResourceKind::Strings;
    const std::u16string section(model);
    std::u16string name = files.KeyedResource(strings ? 11 : 12, section.c_str());
    if (name.empty())
        name = strings ? u"ZNTRSLOC.DLL" : u"ZNTRRLOC.DLL";
    std::u16string path = files.Folder() + name;
    if (std::u16string redirected = RegistryKey().Text(path); !redirected.empty())
        path = std::move(redirected);
    return path;
}

ResourceLibrary LoadResourceLibrary(const DriverDataFiles& files, std::u16string_view model, ResourceKind kind)
{
    const std::u16string path = ResourceLibraryPath(files, model, kind);
    for (LANGID language : ResourceLanguages()) {
        for (const std::u16string& abbreviation : {Abbreviation(language), std::u16string(u"LOC")}) {
            const std::u16string name = LanguageLibraryName(path, abbreviation);
            if (HMODULE module = LoadLibraryW(name.c_str()))
                return ResourceLibrary(module);
        }
    }
    return {};
}

std::u16string LoadResourceText(HMODULE library, UINT id, std::size_t maxChars)
{
    if (!library)
        return {};
    // LoadStringW takes the string table block in the user's default
    // language first, and only then its fallbacks.
    std::u16string text(maxChars + 1, u'\0');
    text.resize(static_cast<std::size_t>(std::max(0, LoadStringW(library, id, text.data(), static_cast<int>(text.size())))));
    return text;
}
