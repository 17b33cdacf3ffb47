// The registry, kept on disk under the state root.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/stringapiset.h"

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

// ---- Tables of values, key paths and missing things, each in a fresh state root ----

struct StateFolder {
    TempFolder tmp;
    StateFolder() { setenv("ZNTR_STATE_DIR", tmp.path.c_str(), 1); }
    ~StateFolder() { unsetenv("ZNTR_STATE_DIR"); }
};

// An open key, closed at the end of the scope.
struct Key {
    HKEY h = nullptr;
    Key() = default;
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    ~Key()
    {
        if (h)
            RegCloseKey(h);
    }
};

LSTATUS Create(HKEY root, const char16_t* path, Key& key, DWORD* disposition = nullptr)
{
    return RegCreateKeyExW(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key.h,
                           disposition);
}

std::vector<BYTE> Bytes(const void* data, std::size_t size)
{
    const auto* p = static_cast<const BYTE*>(data);
    return std::vector<BYTE>(p, p + size);
}

struct Stored {
    const char16_t* name;
    DWORD type;
    std::vector<BYTE> data;
};

std::vector<Stored> ValueTable()
{
    const char16_t path[] = u"C:\\Drivers\\ZNTRSLOC.DLL";
    const char16_t accents[] = u"Langue fran\u00e7aise \u65e5\u672c";
    const char16_t empty[] = u"";
    const DWORD language = 0x0409;
    const DWORD high = 0xFFFFFFFFu;
    const BYTE record[] = {0, 1, '\n', '\r', ' ', 0xFF, 0, 0x80, '=', '%'};
    return {
        {u"/work/main/ZNTRSLOC.DLL", REG_SZ, Bytes(path, sizeof path)},  // a path as a value name
        {u"Caption", REG_SZ, Bytes(accents, sizeof accents)},
        {u"Empty", REG_SZ, Bytes(empty, sizeof empty)},
        {u"LanguageID", REG_DWORD, Bytes(&language, 4)},
        {u"DefaultLanguageID", REG_DWORD, Bytes(&high, 4)},
        {u"Record", REG_BINARY, Bytes(record, sizeof record)},
        {u"Nothing", REG_BINARY, {}},
        {u"", REG_SZ, Bytes(path, sizeof path)},  // the key's default value
    };
}

// Reads a value through the size query, a buffer one byte short, and the
// right buffer.
void ExpectValue(HKEY key, const Stored& v)
{
    SCOPED_TRACE(WideToUtf8(v.name));
    const DWORD size = static_cast<DWORD>(v.data.size());
    DWORD type = 0;
    DWORD asked = 12345;
    ASSERT_EQ(RegQueryValueExW(key, v.name, nullptr, &type, nullptr, &asked), L(ERROR_SUCCESS));
    EXPECT_EQ(type, v.type);
    EXPECT_EQ(asked, size);
    std::vector<BYTE> buffer(size + 8, 0xAB);
    if (size > 0) {
        DWORD room = size - 1;
        EXPECT_EQ(RegQueryValueExW(key, v.name, nullptr, &type, buffer.data(), &room), L(ERROR_MORE_DATA));
        EXPECT_EQ(room, size);
        EXPECT_EQ(buffer, std::vector<BYTE>(size + 8, 0xAB));  // nothing copied
    }
    DWORD room = static_cast<DWORD>(buffer.size());
    type = 0;
    ASSERT_EQ(RegQueryValueExW(key, v.name, nullptr, &type, buffer.data(), &room), L(ERROR_SUCCESS));
    EXPECT_EQ(type, v.type);
    EXPECT_EQ(room, size);
    EXPECT_EQ(std::vector<BYTE>(buffer.begin(), buffer.begin() + size), v.data);
    EXPECT_EQ(buffer[size], 0xAB);  // nothing past the value
    DWORD noType = 0;
    room = static_cast<DWORD>(buffer.size());
    EXPECT_EQ(RegQueryValueExW(key, v.name, nullptr, nullptr, buffer.data(), &room), L(ERROR_SUCCESS));  // no type asked
    EXPECT_EQ(noType, 0u);
}

TEST(Registry, EveryKindOfValueComesBackThroughTheSizeQueryAndAfterReopening)
{
    StateFolder state;
    const std::vector<Stored> values = ValueTable();
    {
        Key key;
        ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, kLanguageKey, key), L(ERROR_SUCCESS));
        for (const Stored& v : values)
            ASSERT_EQ(RegSetValueExW(key.h, v.name, 0, v.type, v.data.data(), static_cast<DWORD>(v.data.size())),
                      L(ERROR_SUCCESS))
                << WideToUtf8(v.name);
        for (const Stored& v : values)
            ExpectValue(key.h, v);
    }
    Key reopened;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kLanguageKey, 0, KEY_READ, &reopened.h), L(ERROR_SUCCESS));
    for (const Stored& v : values)
        ExpectValue(reopened.h, v);

    // A value set again is replaced whole, type and all.
    const char16_t shorter[] = u"x";
    ASSERT_EQ(RegSetValueExW(reopened.h, u"Record", 0, REG_SZ, reinterpret_cast<const BYTE*>(shorter), sizeof shorter),
              L(ERROR_SUCCESS));
    ExpectValue(reopened.h, {u"Record", REG_SZ, Bytes(shorter, sizeof shorter)});
    // The machine state is under the state root.
    EXPECT_TRUE(std::filesystem::is_directory(state.tmp.path / "Registry"));
}

TEST(Registry, KeyPathsAndValueNamesIgnoreCaseWhicheverHandleIsUsed)
{
    StateFolder state;
    Key made;
    DWORD disposition = 0;
    ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, kLanguageKey, made, &disposition), L(ERROR_SUCCESS));
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    const DWORD language = 1036;
    ASSERT_EQ(RegSetValueExW(made.h, u"LanguageID", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&language), 4),
              L(ERROR_SUCCESS));

    const char16_t* spellings[] = {u"SOFTWARE\\Halvane\\QVLANG\\0.0", u"software\\halvane\\qvlang\\0.0",
                                   u"Software\\HALVANE\\QvLang\\0.0"};
    const char16_t* valueNames[] = {u"LanguageID", u"languageid", u"LANGUAGEID"};
    for (const char16_t* spelling : spellings) {
        SCOPED_TRACE(WideToUtf8(spelling));
        Key opened;
        ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, spelling, 0, KEY_READ, &opened.h), L(ERROR_SUCCESS));
        for (const char16_t* name : valueNames)
            ExpectValue(opened.h, {name, REG_DWORD, Bytes(&language, 4)});
        Key again;
        disposition = 0;
        ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, spelling, again, &disposition), L(ERROR_SUCCESS));
        EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    }

    // A sub-key opened from its parent's handle is the same key; what one
    // handle writes, another open handle reads at once.
    Key parent;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"software\\HALVANE", 0, KEY_READ, &parent.h), L(ERROR_SUCCESS));
    Key child;
    ASSERT_EQ(RegOpenKeyExW(parent.h, u"QVLANG\\0.0", 0, KEY_READ, &child.h), L(ERROR_SUCCESS));
    const DWORD changed = 1031;
    ASSERT_EQ(RegSetValueExW(made.h, u"LanguageID", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&changed), 4),
              L(ERROR_SUCCESS));
    ExpectValue(child.h, {u"LanguageID", REG_DWORD, Bytes(&changed, 4)});
}

TEST(Registry, SubKeysAndValuesOfAnyNameKeepApart)
{
    StateFolder state;
    Key key;
    ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, kLanguageKey, key), L(ERROR_SUCCESS));
    // Names that a file-backed store might mistake for one another or for its own files.
    const char16_t* names[] = {u"Lang", u"Lang.value", u"=Lang", u"~Lang", u"..", u".", u"a/b", u"%41", u"A"};
    for (const char16_t* name : names) {
        Key sub;
        const std::u16string path = std::u16string(kLanguageKey) + u"\\" + name;
        ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, path.c_str(), sub), L(ERROR_SUCCESS)) << WideToUtf8(name);
    }
    for (const char16_t* name : names) {
        const std::u16string text = std::u16string(u"value of ") + name;
        ASSERT_EQ(RegSetValueExW(key.h, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                 static_cast<DWORD>((text.size() + 1) * 2)),
                  L(ERROR_SUCCESS))
            << WideToUtf8(name);
    }
    for (const char16_t* name : names) {
        const std::u16string text = std::u16string(u"value of ") + name;
        ExpectValue(key.h, {name, REG_SZ, Bytes(text.c_str(), (text.size() + 1) * 2)});
        Key sub;
        const std::u16string path = std::u16string(kLanguageKey) + u"\\" + name;
        EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &sub.h), L(ERROR_SUCCESS))
            << WideToUtf8(name);
        DWORD size = 0;
        EXPECT_EQ(RegQueryValueExW(sub.h, u"", nullptr, nullptr, nullptr, &size), L(ERROR_FILE_NOT_FOUND))
            << WideToUtf8(name);  // a sub-key holds none of its parent's values
    }
    // Nothing was written outside the registry's folder.
    for (const auto& entry : std::filesystem::directory_iterator(state.tmp.path))
        EXPECT_EQ(entry.path().filename(), "Registry");
}

TEST(Registry, MissingKeysValuesAndHandlesAreReportedAndChangeNothing)
{
    StateFolder state;
    struct Path {
        HKEY root;
        const char16_t* path;
    };
    const Path missing[] = {{HKEY_LOCAL_MACHINE, kLanguageKey},
                            {HKEY_LOCAL_MACHINE, u"SOFTWARE\\Halvane"},
                            {HKEY_CURRENT_USER, kLanguageKey}};
    for (const Path& p : missing) {
        Key key;
        key.h = reinterpret_cast<HKEY>(std::uintptr_t{1});
        EXPECT_EQ(RegOpenKeyExW(p.root, p.path, 0, KEY_READ, &key.h), L(ERROR_FILE_NOT_FOUND)) << WideToUtf8(p.path);
        EXPECT_EQ(key.h, nullptr);
    }
    Key made;
    ASSERT_EQ(Create(HKEY_CURRENT_USER, u"SOFTWARE\\Halvane", made), L(ERROR_SUCCESS));
    for (const Path& p : missing) {
        Key key;
        const LSTATUS expected =
            p.root == HKEY_CURRENT_USER && std::u16string(p.path) == u"SOFTWARE\\Halvane" ? L(ERROR_SUCCESS)
                                                                                          : L(ERROR_FILE_NOT_FOUND);
        EXPECT_EQ(RegOpenKeyExW(p.root, p.path, 0, KEY_READ, &key.h), expected) << WideToUtf8(p.path);
    }

    DWORD type = 77;
    DWORD size = 4;
    BYTE data[4] = {9, 9, 9, 9};
    EXPECT_EQ(RegQueryValueExW(made.h, u"LanguageID", nullptr, &type, data, &size), L(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(data[0], 9);
    EXPECT_EQ(RegDeleteValueW(made.h, u"LanguageID"), L(ERROR_FILE_NOT_FOUND));
    const DWORD number = 5;
    ASSERT_EQ(RegSetValueExW(made.h, u"LanguageID", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4),
              L(ERROR_SUCCESS));
    EXPECT_EQ(RegQueryValueExW(made.h, u"LanguageID", nullptr, &type, data, nullptr), L(ERROR_INVALID_PARAMETER));

    // Values the store does not keep are refused, and leave the value alone.
    const BYTE bytes[8] = {};
    struct Bad {
        DWORD type;
        const BYTE* data;
        DWORD size;
    };
    const Bad bad[] = {{REG_DWORD, bytes, 3}, {REG_DWORD, bytes, 8}, {REG_DWORD, nullptr, 4}, {7, bytes, 8}};
    for (const Bad& b : bad)
        EXPECT_EQ(RegSetValueExW(made.h, u"LanguageID", 0, b.type, b.data, b.size), L(ERROR_INVALID_PARAMETER))
            << b.type << " " << b.size;
    ExpectValue(made.h, {u"LanguageID", REG_DWORD, Bytes(&number, 4)});

    // A closed handle answers for nothing.
    HKEY closed = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"software\\halvane", 0, KEY_READ, &closed), L(ERROR_SUCCESS));
    ASSERT_EQ(RegCloseKey(closed), L(ERROR_SUCCESS));
    size = 4;
    EXPECT_EQ(RegQueryValueExW(closed, u"LanguageID", nullptr, &type, data, &size), L(ERROR_INVALID_HANDLE));
    EXPECT_EQ(RegSetValueExW(closed, u"LanguageID", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4),
              L(ERROR_INVALID_HANDLE));
    EXPECT_EQ(RegDeleteValueW(closed, u"LanguageID"), L(ERROR_INVALID_HANDLE));
    Key child;
    EXPECT_EQ(RegOpenKeyExW(closed, u"x", 0, KEY_READ, &child.h), L(ERROR_INVALID_HANDLE));
}

} // namespace
