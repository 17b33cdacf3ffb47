// The registry, kept on disk under the state root.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "platform/winreg.h"
#include "xps_fixture.h"

namespace {

// Registry calls answer the error codes as a signed status.
constexpr LSTATUS L(DWORD error) { return static_cast<LSTATUS>(error); }

constexpr const char16_t* kLanguageKey = u"SOFTWARE\\Halvane\\QVLANG\\0.0";

TEST(Registry, StringAndNumberValuesSurviveReopeningAndKeysIgnoreCase)
{
    TempFolder state;
    setenv("ZNTR_STATE_DIR", state.path.c_str(), 1);
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kLanguageKey, 0, KEY_READ, &key), L(ERROR_FILE_NOT_FOUND));
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kLanguageKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                              nullptr, &key, &disposition),
              L(ERROR_SUCCESS));
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    const char16_t text[] = u"ENU";
    ASSERT_EQ(RegSetValueExW(key, u"Language", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text), L(ERROR_SUCCESS));
    const DWORD number = 1033;
    ASSERT_EQ(RegSetValueExW(key, u"LCID", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4), L(ERROR_SUCCESS));
    EXPECT_EQ(RegSetValueExW(key, u"Bad", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 2), L(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(RegCloseKey(key), L(ERROR_SUCCESS));
    EXPECT_EQ(RegCloseKey(key), L(ERROR_INVALID_HANDLE));

    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"software\\HALVANE\\qvlang\\0.0", 0, KEY_READ, &key), L(ERROR_SUCCESS));
    DWORD type = 0, size = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"language", nullptr, &type, nullptr, &size), L(ERROR_SUCCESS));  // the size
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, sizeof text);
    char16_t small[2];
    DWORD smallSize = sizeof small;
    EXPECT_EQ(RegQueryValueExW(key, u"Language", nullptr, &type, reinterpret_cast<BYTE*>(small), &smallSize),
              L(ERROR_MORE_DATA));
    EXPECT_EQ(smallSize, sizeof text);
    char16_t read[8] = {};
    size = sizeof read;
    EXPECT_EQ(RegQueryValueExW(key, u"Language", nullptr, &type, reinterpret_cast<BYTE*>(read), &size), L(ERROR_SUCCESS));
    EXPECT_EQ(std::u16string(read), u"ENU");
    DWORD value = 0;
    size = sizeof value;
    EXPECT_EQ(RegQueryValueExW(key, u"LCID", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size), L(ERROR_SUCCESS));
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(value, 1033u);
    EXPECT_EQ(RegQueryValueExW(key, u"Missing", nullptr, &type, nullptr, &size), L(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(RegDeleteValueW(key, u"LCID"), L(ERROR_SUCCESS));
    EXPECT_EQ(RegDeleteValueW(key, u"LCID"), L(ERROR_FILE_NOT_FOUND));
    RegCloseKey(key);

    // The other root is another tree.
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kLanguageKey, 0, KEY_READ, &key), L(ERROR_FILE_NOT_FOUND));
    unsetenv("ZNTR_STATE_DIR");
}

} // namespace
