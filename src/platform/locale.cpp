// National language support: the user's locale from the environment and what
// GetLocaleInfoW tells about a locale, from a table of the locales in use.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/synchapi.h"
#include "platform/winnls.h"

namespace {

struct LocaleEntry {
    LCID lcid;
    std::string_view language;   // ISO 639
    std::string_view territory;  // ISO 3166
    unsigned country;            // the telephone code
    std::string_view abbreviation;
    std::string_view englishLanguage;
};

// The first entry of a language is its default locale for an environment
// value with a territory the table does not have. Spanish (Spain) comes in its
// modern sort first; the traditional sort (1034) is the language's
// SUBLANG_DEFAULT id and so the locale of neutral Spanish.
constexpr std::array<LocaleEntry, 45> kLocales{{
    {1033, "en", "US", 1, "ENU", "English"},
    {2057, "en", "GB", 44, "ENG", "English"},
    {4105, "en", "CA", 2, "ENC", "English"},
    {3081, "en", "AU", 61, "ENA", "English"},
    {10249, "en", "BZ", 501, "ENL", "English"},
    {1036, "fr", "FR", 33, "FRA", "French"},
    {3084, "fr", "CA", 2, "FRC", "French"},
    {1031, "de", "DE", 49, "DEU", "German"},
    {3079, "de", "AT", 43, "DEA", "German"},
    {2055, "de", "CH", 41, "DES", "German"},
    {1040, "it", "IT", 39, "ITA", "Italian"},
    {3082, "es", "ES", 34, "ESN", "Spanish"},
    {1034, "es", "ES", 34, "ESP", "Spanish"},
    {2058, "es", "MX", 52, "ESM", "Spanish"},
    {11274, "es", "AR", 54, "ESS", "Spanish"},
    {13322, "es", "CL", 56, "ESL", "Spanish"},
    {9226, "es", "CO", 57, "ESO", "Spanish"},
    {8202, "es", "VE", 58, "ESV", "Spanish"},
    {10250, "es", "PE", 51, "ESR", "Spanish"},
    {4106, "es", "GT", 502, "ESG", "Spanish"},
    {5130, "es", "CR", 506, "ESC", "Spanish"},
    {6154, "es", "PA", 507, "ESA", "Spanish"},
    {16394, "es", "BO", 591, "ESB", "Spanish"},
    {12298, "es", "EC", 593, "ESF", "Spanish"},
    {15370, "es", "PY", 595, "ESZ", "Spanish"},
    {14346, "es", "UY", 598, "ESY", "Spanish"},
    {17418, "es", "SV", 503, "ESE", "Spanish"},
    {18442, "es", "HN", 504, "ESH", "Spanish"},
    {19466, "es", "NI", 505, "ESI", "Spanish"},
    {1046, "pt", "BR", 55, "PTB", "Portuguese"},
    {2070, "pt", "PT", 351, "PTG", "Portuguese"},
    {1043, "nl", "NL", 31, "NLD", "Dutch"},
    {1041, "ja", "JP", 81, "JPN", "Japanese"},
    {2052, "zh", "CN", 86, "CHS", "Chinese"},
    {1028, "zh", "TW", 886, "CHT", "Chinese"},
    {1042, "ko", "KR", 82, "KOR", "Korean"},
    {1049, "ru", "RU", 7, "RUS", "Russian"},
    {1045, "pl", "PL", 48, "PLK", "Polish"},
    {1053, "sv", "SE", 46, "SVE", "Swedish"},
    {1030, "da", "DK", 45, "DAN", "Danish"},
    {1044, "nb", "NO", 47, "NOR", "Norwegian"},
    {1035, "fi", "FI", 358, "FIN", "Finnish"},
    {1029, "cs", "CZ", 420, "CSY", "Czech"},
    {1038, "hu", "HU", 36, "HUN", "Hungarian"},
    {1055, "tr", "TR", 90, "TRK", "Turkish"},
}};

constexpr LCID kEnglishUnitedStates = 1033;

std::atomic<LCID> g_testingLcid{0};

bool SameLetters(std::string_view a, std::string_view b)
{
    const auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) {
               return fold(x) == fold(y);
           });
}

// "language_TERRITORY[.codeset][@modifier]" as a locale id.
LCID LcidOfEnvironmentValue(std::string_view value)
{
    value = value.substr(0, value.find_first_of(".@"));
    const std::size_t separator = value.find_first_of("_-");
    const std::string_view language = value.substr(0, separator);
    const std::string_view territory =
        separator == std::string_view::npos ? std::string_view() : value.substr(separator + 1);
    if (language.empty())
        return kEnglishUnitedStates;  // also "C" and "POSIX" below: no language of the table
    const LocaleEntry* first = nullptr;
    for (const LocaleEntry& locale : kLocales) {
        if (!SameLetters(locale.language, language))
            continue;
        if (SameLetters(locale.territory, territory))
            return locale.lcid;
        if (!first)
            first = &locale;
    }
    return first ? first->lcid : kEnglishUnitedStates;
}

// The C library's order for the language of messages: LC_ALL, then LANG; an
// empty variable counts as unset.
LCID LcidOfEnvironment()
{
    for (const char* name : {"LC_ALL", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value)
            return LcidOfEnvironmentValue(value);
    }
    return kEnglishUnitedStates;
}

const LocaleEntry* FindLocale(LCID lcid)
{
    if (lcid >> 20)  // reserved bits above the sort order
        return nullptr;
    LANGID lang = LANGIDFROMLCID(lcid);
    if (PRIMARYLANGID(lang) == LANG_NEUTRAL) {
        // 0 (neutral), LOCALE_USER_DEFAULT and LOCALE_SYSTEM_DEFAULT.
        if (SUBLANGID(lang) > 2)
            return nullptr;
        lang = GetUserDefaultLangID();
        if (PRIMARYLANGID(lang) == LANG_NEUTRAL)
            return nullptr;  // a test set a neutral id as the user's locale
    }
    if (SUBLANGID(lang) == SUBLANG_NEUTRAL)
        lang = MAKELANGID(PRIMARYLANGID(lang), SUBLANG_DEFAULT);
    const auto it = std::find_if(kLocales.begin(), kLocales.end(), [&](const LocaleEntry& l) { return l.lcid == lang; });
    return it == kLocales.end() ? nullptr : &*it;
}

std::string ValueOf(const LocaleEntry& locale, LCTYPE type, bool& known)
{
    known = true;
    switch (type) {
    case LOCALE_SENGLANGUAGE:
        return std::string(locale.englishLanguage);
    case LOCALE_SABBREVLANGNAME:
        return std::string(locale.abbreviation);
    case LOCALE_ICOUNTRY:
        return std::to_string(locale.country);
    case LOCALE_IMEASURE:
        return locale.territory == "US" ? "1" : "0";
    case LOCALE_SISO639LANGNAME:
        return std::string(locale.language);
    case LOCALE_SISO3166CTRYNAME:
        return std::string(locale.territory);
    default:
        known = false;
        return {};
    }
}

}  // namespace

LCID GetUserDefaultLCID()
{
    const LCID testing = g_testingLcid.load(std::memory_order_acquire);
    return testing ? testing : LcidOfEnvironment();
}

LANGID GetUserDefaultLangID() { return LANGIDFROMLCID(GetUserDefaultLCID()); }

// One user here: the system's locale is the user's.
LCID GetSystemDefaultLCID() { return GetUserDefaultLCID(); }

int GetLocaleInfoW(LCID Locale, LCTYPE LCType, LPWSTR lpLCData, int cchData)
{
    const LocaleEntry* locale = FindLocale(Locale);
    if (!locale || cchData < 0 || (cchData > 0 && !lpLCData)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    bool known = false;
    const std::string value = ValueOf(*locale, LCType, known);
    if (!known) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const int needed = static_cast<int>(value.size()) + 1;
    if (cchData == 0)
        return needed;
    if (cchData < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    // Every value is ASCII.
    std::transform(value.begin(), value.end(), lpLCData, [](char c) { return static_cast<WCHAR>(c); });
    lpLCData[value.size()] = u'\0';
    return needed;
}

void SetUserDefaultLCIDForTesting(LCID lcid) { g_testingLcid.store(lcid, std::memory_order_release); }
