// The user's locale: read from LC_ALL and LANG, mapped through the table of
// locales, and what GetLocaleInfoW answers for it; the testing override.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

#include "platform/stringapiset.h"
#include "platform/synchapi.h"
#include "platform/winnls.h"

namespace {

// Sets LC_ALL and LANG for a test and gives back the values it found; the
// testing override is off while it lives.
class Environment {
public:
    Environment() : lcAll_(Get("LC_ALL")), lang_(Get("LANG")) { SetUserDefaultLCIDForTesting(0); }
    ~Environment()
    {
        Set("LC_ALL", lcAll_ ? lcAll_->c_str() : nullptr);
        Set("LANG", lang_ ? lang_->c_str() : nullptr);
        SetUserDefaultLCIDForTesting(0);
    }
    Environment(const Environment&) = delete;
    Environment& operator=(const Environment&) = delete;

    // A null value unsets the variable.
    static void Set(const char* name, const char* value)
    {
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }

private:
    static std::optional<std::string> Get(const char* name)
    {
        const char* value = std::getenv(name);
        return value ? std::optional<std::string>(value) : std::nullopt;
    }
    std::optional<std::string> lcAll_, lang_;
};

// The value through the size query, as callers read it; "<error N>" when the
// call fails.
std::string Info(LCID lcid, LCTYPE type)
{
    const int size = GetLocaleInfoW(lcid, type, nullptr, 0);
    if (size == 0)
        return "<error " + std::to_string(GetLastError()) + ">";
    std::u16string buffer(static_cast<std::size_t>(size), u'\x1');
    const int n = GetLocaleInfoW(lcid, type, buffer.data(), size);
    if (n != size || buffer.back() != u'\0')
        return "<bad copy>";
    buffer.pop_back();
    return WideToUtf8(buffer);
}

TEST(locale, EnvironmentValuesGiveLocales)
{
    const Environment environment;
    struct Case {
        const char* lcAll;  // null: unset
        const char* lang;
        LCID lcid;
        const char* country;
        const char* abbreviation;
    } const cases[] = {
        {nullptr, "de_DE.UTF-8", 1031, "49", "DEU"},
        {nullptr, "en_US", 1033, "1", "ENU"},
        {nullptr, "en_GB.ISO-8859-1", 2057, "44", "ENG"},
        {nullptr, "de_DE@euro", 1031, "49", "DEU"},
        {nullptr, "es_PY", 15370, "595", "ESZ"},
        {nullptr, "zh_TW.Big5", 1028, "886", "CHT"},
        {nullptr, "fr_CA.UTF-8", 3084, "2", "FRC"},
        // A territory the table does not have: the language's first locale.
        {nullptr, "fr_BE.UTF-8", 1036, "33", "FRA"},
        {nullptr, "es", 3082, "34", "ESN"},
        {nullptr, "de_LU", 1031, "49", "DEU"},
        // Nothing the table knows: English (United States).
        {nullptr, "xx_YY", 1033, "1", "ENU"},
        {nullptr, "C", 1033, "1", "ENU"},
        {nullptr, "C.UTF-8", 1033, "1", "ENU"},
        {nullptr, "POSIX", 1033, "1", "ENU"},
        {nullptr, "", 1033, "1", "ENU"},
        {nullptr, nullptr, 1033, "1", "ENU"},
        // LC_ALL comes first; an empty one counts as unset.
        {"pt_BR.UTF-8", "de_DE.UTF-8", 1046, "55", "PTB"},
        {"C", "de_DE.UTF-8", 1033, "1", "ENU"},
        {"", "ja_JP.eucJP", 1041, "81", "JPN"},
        {"nb_NO", nullptr, 1044, "47", "NOR"},
    };
    for (const Case& c : cases) {
        Environment::Set("LC_ALL", c.lcAll);
        Environment::Set("LANG", c.lang);
        const std::string label = std::string("LC_ALL=") + (c.lcAll ? c.lcAll : "(unset)") +
                                  " LANG=" + (c.lang ? c.lang : "(unset)");
        EXPECT_EQ(GetUserDefaultLCID(), c.lcid) << label;
        EXPECT_EQ(GetUserDefaultLangID(), c.lcid) << label;
        EXPECT_EQ(Info(LOCALE_USER_DEFAULT, LOCALE_ICOUNTRY), c.country) << label;
        EXPECT_EQ(Info(LOCALE_USER_DEFAULT, LOCALE_SABBREVLANGNAME), c.abbreviation) << label;
    }
}

// The paper lists choose inch papers for the countries of these telephone
// codes: every one of them is some locale's country.
TEST(locale, InchCountriesComeFromTheirLocales)
{
    const Environment environment;
    struct Case {
        const char* lang;
        const char* country;
        const char* abbreviation;
    } const cases[] = {
        {"en_US", "1", "ENU"},   {"en_CA", "2", "ENC"},   {"fr_CA", "2", "FRC"},   {"es_PE", "51", "ESR"},
        {"es_MX", "52", "ESM"},  {"es_AR", "54", "ESS"},  {"es_CL", "56", "ESL"},  {"es_CO", "57", "ESO"},
        {"es_VE", "58", "ESV"},  {"en_BZ", "501", "ENL"}, {"es_GT", "502", "ESG"}, {"es_SV", "503", "ESE"},
        {"es_HN", "504", "ESH"}, {"es_NI", "505", "ESI"}, {"es_CR", "506", "ESC"}, {"es_PA", "507", "ESA"},
        {"es_BO", "591", "ESB"}, {"es_EC", "593", "ESF"}, {"es_PY", "595", "ESZ"}, {"es_UY", "598", "ESY"},
    };
    Environment::Set("LC_ALL", nullptr);
    for (const Case& c : cases) {
        Environment::Set("LANG", (std::string(c.lang) + ".UTF-8").c_str());
        EXPECT_EQ(Info(LOCALE_USER_DEFAULT, LOCALE_ICOUNTRY), c.country) << c.lang;
        EXPECT_EQ(Info(LOCALE_USER_DEFAULT, LOCALE_SABBREVLANGNAME), c.abbreviation) << c.lang;
        EXPECT_EQ(Info(LOCALE_USER_DEFAULT, LOCALE_SISO3166CTRYNAME), std::string(c.lang).substr(3)) << c.lang;
    }
}

TEST(locale, LocaleInfoOfEachKind)
{
    struct Case {
        LCID lcid;
        LCTYPE type;
        const char* value;
    } const cases[] = {
        {1031, LOCALE_SENGLANGUAGE, "German"},
        {1031, LOCALE_SABBREVLANGNAME, "DEU"},
        {1031, LOCALE_ICOUNTRY, "49"},
        {1031, LOCALE_IMEASURE, "0"},
        {1031, LOCALE_SISO639LANGNAME, "de"},
        {1031, LOCALE_SISO3166CTRYNAME, "DE"},
        {2055, LOCALE_SABBREVLANGNAME, "DES"},
        {3079, LOCALE_ICOUNTRY, "43"},
        {1033, LOCALE_IMEASURE, "1"},
        {2057, LOCALE_IMEASURE, "0"},
        {4105, LOCALE_IMEASURE, "0"},
        {2052, LOCALE_SENGLANGUAGE, "Chinese"},
        {2052, LOCALE_SABBREVLANGNAME, "CHS"},
        {2070, LOCALE_ICOUNTRY, "351"},
        {1029, LOCALE_SABBREVLANGNAME, "CSY"},
        {1055, LOCALE_ICOUNTRY, "90"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Info(c.lcid, c.type), c.value) << c.lcid << " type " << c.type;
}

TEST(locale, SizeQueryAndBuffers)
{
    EXPECT_EQ(GetLocaleInfoW(1031, LOCALE_SABBREVLANGNAME, nullptr, 0), 4);  // with the terminator

    char16_t exact[4] = {u'x', u'x', u'x', u'x'};
    EXPECT_EQ(GetLocaleInfoW(1031, LOCALE_SABBREVLANGNAME, exact, 4), 4);
    EXPECT_EQ(std::u16string(exact, 4), std::u16string(u"DEU\0", 4));

    char16_t shortBuffer[3] = {u'x', u'x', u'x'};
    SetLastError(0);
    EXPECT_EQ(GetLocaleInfoW(1031, LOCALE_SABBREVLANGNAME, shortBuffer, 3), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);

    struct Case {
        LCID lcid;
        LCTYPE type;
        char16_t* buffer;
        int size;
    } const invalid[] = {
        {1031, LOCALE_SABBREVLANGNAME, nullptr, 4},  // room promised, no buffer
        {1031, LOCALE_SABBREVLANGNAME, exact, -1},
        {1031, 0x7777, exact, 4},                    // a type not known
        {1031, 0x7777, nullptr, 0},
        {1081, LOCALE_SABBREVLANGNAME, exact, 4},    // a locale not in the table
        {1081, LOCALE_ICOUNTRY, nullptr, 0},
    };
    for (const Case& c : invalid) {
        SetLastError(0);
        EXPECT_EQ(GetLocaleInfoW(c.lcid, c.type, c.buffer, c.size), 0) << c.lcid << " " << c.type << " " << c.size;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << c.lcid << " " << c.type << " " << c.size;
    }
}

// A neutral language (sublanguage 0) is the locale with its SUBLANG_DEFAULT
// id; the resource library search asks for these as (id & 0x3FF) | 0x400.
TEST(locale, NeutralLanguagesAreTheirDefaultLocales)
{
    struct Case {
        LCID lcid;
        const char* abbreviation;
    } const cases[] = {
        {0x0007, "DEU"}, {0x0009, "ENU"}, {0x000C, "FRA"}, {0x0016, "PTB"},
        {0x0004, "CHT"}, {0x000A, "ESP"}, {0x040A, "ESP"}, {0x0014, "NOR"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Info(c.lcid, LOCALE_SABBREVLANGNAME), c.abbreviation) << std::hex << c.lcid;
}

TEST(locale, DefaultLocaleFormsFollowTheUser)
{
    const Environment environment;
    Environment::Set("LC_ALL", nullptr);
    Environment::Set("LANG", "fr_CA.UTF-8");
    for (const LCID form : {LOCALE_USER_DEFAULT, LOCALE_SYSTEM_DEFAULT, LCID{0}})
        EXPECT_EQ(Info(form, LOCALE_SABBREVLANGNAME), "FRC") << form;
    EXPECT_EQ(GetSystemDefaultLCID(), 3084u);
}

TEST(locale, TestingOverrideReplacesTheEnvironment)
{
    const Environment environment;
    Environment::Set("LC_ALL", nullptr);
    Environment::Set("LANG", "de_DE.UTF-8");
    SetUserDefaultLCIDForTesting(1041);
    EXPECT_EQ(GetUserDefaultLCID(), 1041u);
    EXPECT_EQ(GetUserDefaultLangID(), 1041u);
    EXPECT_EQ(Info(LOCALE_USER_DEFAULT, LOCALE_SABBREVLANGNAME), "JPN");
    Environment::Set("LANG", "sv_SE.UTF-8");  // the override stays in force
    EXPECT_EQ(GetUserDefaultLCID(), 1041u);
    SetUserDefaultLCIDForTesting(0);
    EXPECT_EQ(GetUserDefaultLCID(), 1053u);
}

// Threads that read the user's locale while a test changes it see one value
// or the other (run under the thread sanitizer, a plain variable is a race).
TEST(locale, TestingOverrideIsSafeAcrossThreads)
{
    const Environment environment;
    Environment::Set("LC_ALL", nullptr);
    Environment::Set("LANG", "it_IT.UTF-8");
    std::atomic<bool> stray{false};
    std::thread reader([&] {
        for (int i = 0; i < 2000; ++i) {
            const LCID lcid = GetUserDefaultLCID();
            if (lcid != 1040 && lcid != 1049)
                stray = true;
        }
    });
    for (int i = 0; i < 2000; ++i)
        SetUserDefaultLCIDForTesting(i % 2 ? 1049 : 0);
    reader.join();
    EXPECT_FALSE(stray);
}

}  // namespace
