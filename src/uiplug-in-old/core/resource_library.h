// The plug-in's language-specific resource libraries (strings and dialogs):
// named by the data-file index for the model, in the plug-in's folder or
// where the language registry key points, the name made language-specific
// for the first language of the user's list that has a library.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/windef.h"
#include "uiplug-in-old/core/data_files.h"

enum class ResourceKind { Strings, Dialogs };

// A loaded library, freed with the holder.
class ResourceLibrary {
public:
    ResourceLibrary() = default;
    explicit ResourceLibrary(HMODULE module) noexcept : module_(module) {}
    ResourceLibrary(ResourceLibrary&& other) noexcept : module_(other.Release()) {}
    ResourceLibrary& operator=(ResourceLibrary&& other) noexcept;
    ResourceLibrary(const ResourceLibrary&) = delete;
    ResourceLibrary& operator=(const ResourceLibrary&) = delete;
    ~ResourceLibrary();

    HMODULE Get() const noexcept { return module_; }
    explicit operator bool() const noexcept { return module_ != nullptr; }
    HMODULE Release() noexcept;

private:
    HMODULE module_ = nullptr;
};

// The languages to try, in order: the registry's LanguageID and its neutral
// form, the user's default and its neutral form, the registry's
// DefaultLanguageID, then 1033; only languages the platform has an
// abbreviation for, each once.
std::vector<LANGID> ResourceLanguages();
// The library name with its one "%s" replaced by a language abbreviation
// ("%%" is a percent sign; other "%" forms and further "%s" stay as written).
std::u16string LanguageLibraryName(std::u16string_view nameFormat, std::u16string_view abbreviation);
// The full path of the model's library before its language is applied: the
// index's StringResDLL / DialogResDLL (model section, else General, else
// ZNTRSLOC.DLL / ZNTRRLOC.DLL) in the plug-in's folder, or the language
// registry key's value for that path.
std::u16string ResourceLibraryPath(const DriverDataFiles& files, std::u16string_view model, ResourceKind kind);
// The first library of the language list that loads (each language's name,
// then the same with "LOC"); empty when none does.
ResourceLibrary LoadResourceLibrary(const DriverDataFiles& files, std::u16string_view model, ResourceKind kind);

// A string of the library in the user's default language (else as the
// platform's LoadString finds it), cut to maxChars characters; empty when
// the library or the string is missing.
std::u16string LoadResourceText(HMODULE library, UINT id, std::size_t maxChars = 1023);
