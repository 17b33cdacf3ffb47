// The private-profile (INI) functions: lookups, lists and their lengths,
// numbers, writes and deletions, UTF-16 files, and writers in two processes.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "platform/stringapiset.h"
#include "platform/synchapi.h"
#include "platform/winbase.h"
#include "xps_fixture.h"

namespace {

std::string ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

struct IniFixture {
    TempFolder tmp;
    std::string path = tmp / "test.ini";
    std::u16string wpath = Utf8ToWide(path);

    explicit IniFixture(const std::string& text = "") { std::ofstream(path, std::ios::binary) << text; }

    std::u16string Get(const char16_t* section, const char16_t* key, const char16_t* fallback = u"", DWORD size = 256,
                       DWORD* length = nullptr) const
    {
        std::u16string buffer(size, u'\x1');
        const DWORD n = GetPrivateProfileStringW(section, key, fallback, buffer.data(), size, wpath.c_str());
        if (length)
            *length = n;
        return std::u16string(buffer.data(), n);
    }
    // A list result as "a|b|c", from the terminators.
    std::u16string List(const char16_t* section, DWORD size = 256, DWORD* length = nullptr) const
    {
        std::u16string buffer(size, u'\x1');
        const DWORD n = GetPrivateProfileStringW(section, nullptr, u"", buffer.data(), size, wpath.c_str());
        if (length)
            *length = n;
        std::u16string out(buffer.data(), n);
        for (char16_t& c : out)
            if (c == u'\0')
                c = u'|';
        return out;
    }
};

const char* const kSample = "; a comment\r\n"
                            "[Common]\r\n"
                            "  InitDataFile2 =  PAPER.INI  \r\n"
                            "Quoted=\"  spaced  \"\r\n"
                            "Single='x'\r\n"
                            "HalfQuoted=\"a\",b\r\n"
                            "Empty=\r\n"
                            "no equals sign here\r\n"
                            "Twice=first\r\n"
                            "twice=second\r\n"
                            "[ Model One ]\n"
                            "Ver=7\n";

TEST(Profile, ValuesAreFoundWithoutRegardToCaseAndBlanks)
{
    const IniFixture ini(kSample);
    struct Case {
        const char16_t* section;
        const char16_t* key;
        const char16_t* expected;
    };
    const Case cases[] = {
        {u"Common", u"InitDataFile2", u"PAPER.INI"},
        {u"COMMON", u"initdatafile2", u"PAPER.INI"},
        {u"Common", u"Quoted", u"  spaced  "},    // one pair of quotes goes, the blanks inside stay
        {u"Common", u"Single", u"x"},
        {u"Common", u"HalfQuoted", u"\"a\",b"},  // quotes not around the whole value stay
        {u"Common", u"Empty", u""},
        {u"Common", u"Twice", u"first"},
        {u"Model One", u"Ver", u"7"},
        {u"model one", u"VER", u"7"},
        {u"Common", u"Missing", u"fallback"},
        {u"Missing", u"Ver", u"fallback"},
        {u"Common", u"no equals sign here", u"fallback"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ini.Get(c.section, c.key, u"fallback  "), c.expected) << WideToUtf8(c.key);
    EXPECT_EQ(ini.Get(u"Common", u"Missing", nullptr), u"");

    const IniFixture none;
    std::filesystem::remove(none.path);
    EXPECT_EQ(none.Get(u"Common", u"Ver", u"d"), u"d");
}

TEST(Profile, CutValuesAndListsAnswerThePlatformsLengths)
{
    const IniFixture ini(kSample);
    DWORD n = 0;
    EXPECT_EQ(ini.Get(u"Common", u"InitDataFile2", u"", 5, &n), u"PAPE");
    EXPECT_EQ(n, 4u);
    EXPECT_EQ(ini.Get(u"Common", u"InitDataFile2", u"", 1, &n), u"");
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(GetPrivateProfileStringW(u"Common", u"Ver", u"", nullptr, 0, ini.wpath.c_str()), 0u);

    EXPECT_EQ(ini.List(nullptr, 256, &n), u"Common|Model One|");
    EXPECT_EQ(n, 17u);
    EXPECT_EQ(ini.List(u"Common"), u"InitDataFile2|Quoted|Single|HalfQuoted|Empty|Twice|twice|");
    EXPECT_EQ(ini.List(nullptr, 10, &n), u"Common|M");  // cut short: nSize - 2 characters, two terminators
    EXPECT_EQ(n, 8u);
    EXPECT_EQ(ini.List(u"Missing", 10, &n), u"");

    char16_t section[64];
    EXPECT_EQ(GetPrivateProfileSectionW(u"Model One", section, 64, ini.wpath.c_str()), 6u);
    EXPECT_EQ(std::u16string(section), u"Ver=7");
    EXPECT_EQ(GetPrivateProfileSectionNamesW(section, 64, ini.wpath.c_str()), 17u);
}

TEST(Profile, NumbersAreReadAsThePlatformReadsThem)
{
    const IniFixture ini("[N]\na=42\nb=  -17\nc=+8\nd=12abc\ne=0x1F\nf=abc\ng=\nh=0XfF;c\ni=\"9\"\nj=-0x10\n");
    struct Case {
        const char16_t* key;
        int expected;
    };
    const Case cases[] = {{u"a", 42}, {u"b", -17}, {u"c", 8},      {u"d", 12},  {u"e", 31},  {u"f", 99},
                          {u"g", 99}, {u"h", 255}, {u"i", 9},      {u"j", -16}, {u"none", 99}};
    for (const Case& c : cases)
        EXPECT_EQ(static_cast<int>(GetPrivateProfileIntW(u"N", c.key, 99, ini.wpath.c_str())), c.expected)
            << WideToUtf8(c.key);
}

TEST(Profile, WritesChangeOnlyWhatTheyNameAndDeleteKeysAndSections)
{
    IniFixture ini(kSample);
    const LPCWSTR f = ini.wpath.c_str();
    ASSERT_TRUE(WritePrivateProfileStringW(u"common", u"initdatafile2", u"OTHER.INI", f));
    ASSERT_TRUE(WritePrivateProfileStringW(u"Common", u"Added", u"new", f));
    ASSERT_TRUE(WritePrivateProfileStringW(u"Fresh", u"Key", u"value", f));
    ASSERT_TRUE(WritePrivateProfileStringW(u"Common", u"Single", nullptr, f));
    ASSERT_TRUE(WritePrivateProfileStringW(u"Model One", nullptr, nullptr, f));
    ASSERT_TRUE(WritePrivateProfileStringW(u"Common", u"NotThere", nullptr, f));

    EXPECT_EQ(ini.Get(u"Common", u"InitDataFile2"), u"OTHER.INI");
    EXPECT_EQ(ini.Get(u"Common", u"Added"), u"new");
    EXPECT_EQ(ini.Get(u"Fresh", u"Key"), u"value");
    EXPECT_EQ(ini.Get(u"Common", u"Single", u"gone"), u"gone");
    EXPECT_EQ(ini.List(nullptr), u"Common|Fresh|");
    const std::string text = ReadBytes(ini.path);
    EXPECT_NE(text.find("; a comment"), std::string::npos);
    EXPECT_NE(text.find("no equals sign here"), std::string::npos);
    EXPECT_LT(text.find("Added=new"), text.find("[Fresh]"));  // into its own section

    // A file that does not exist yet is made; a folder that does not is not.
    const std::u16string made = Utf8ToWide(ini.tmp / "made.ini");
    ASSERT_TRUE(WritePrivateProfileStringW(u"S", u"K", u"v", made.c_str()));
    EXPECT_EQ(ReadBytes(ini.tmp / "made.ini"), "[S]\r\nK=v\r\n");
    EXPECT_FALSE(WritePrivateProfileStringW(u"S", u"K", u"v", Utf8ToWide(ini.tmp / "no/such.ini").c_str()));
}

TEST(Profile, Utf16FilesStayUtf16AndOtherFilesAreReadAsUtf8OrLatin1)
{
    IniFixture utf16(std::string("\xFF\xFE", 2));
    ASSERT_TRUE(WritePrivateProfileStringW(u"Generic", u"This", u"Printer Driver INI File", utf16.wpath.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringW(u"Watermark", u"W0000001", u"Entwurf \u00e4\u20ac", utf16.wpath.c_str()));
    const std::string bytes = ReadBytes(utf16.path);
    const std::u16string text = u"[Generic]\r\nThis=Printer Driver INI File\r\n[Watermark]\r\nW0000001=Entwurf \u00e4\u20ac\r\n";
    std::string expected = "\xFF\xFE";
    for (const char16_t c : text) {
        expected += static_cast<char>(c & 0xFF);
        expected += static_cast<char>(c >> 8);
    }
    EXPECT_EQ(bytes, expected);
    EXPECT_EQ(utf16.Get(u"Watermark", u"W0000001"), u"Entwurf \u00e4\u20ac");

    const IniFixture utf8("[S]\nK=caf\xC3\xA9\n");
    EXPECT_EQ(utf8.Get(u"S", u"K"), u"caf\u00e9");
    const IniFixture latin1("[S]\nK=caf\xE9\n");
    EXPECT_EQ(latin1.Get(u"S", u"K"), u"caf\u00e9");
}

TEST(Profile, ReplacingAFileKeepsItsPermissionBits)
{
    IniFixture ini("[S]\nK=1\n");
    ASSERT_EQ(chmod(ini.path.c_str(), 0666), 0);
    ASSERT_TRUE(WritePrivateProfileStringW(u"S", u"K", u"2", ini.wpath.c_str()));
    struct stat info {};
    ASSERT_EQ(stat(ini.path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0666u);
}

TEST(Profile, TwoProcessesWritingOneFileLoseNothing)
{
    IniFixture ini;
    constexpr int kWrites = 60;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    const char16_t* section = child == 0 ? u"Child" : u"Parent";
    bool ok = true;
    for (int i = 0; i < kWrites; ++i) {
        const std::u16string key = u"K" + Utf8ToWide(std::to_string(i));
        ok = WritePrivateProfileStringW(section, key.c_str(), u"v", ini.wpath.c_str()) && ok;
    }
    if (child == 0)
        _exit(ok ? 0 : 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(ok);
    for (const char16_t* s : {u"Child", u"Parent"})
        for (int i = 0; i < kWrites; ++i) {
            const std::u16string key = u"K" + Utf8ToWide(std::to_string(i));
            EXPECT_EQ(ini.Get(s, key.c_str(), u"lost"), u"v") << WideToUtf8(s) << " " << i;
        }
}

TEST(Profile, BytesThatAreNotUtf8AreReadAsLatin1OneByOne)
{
    struct Case {
        const char* bytes;
        const char16_t* expected;
    };
    const Case cases[] = {
        {"caf\xC3\xA9 \xE0 la", u"caf\u00e9 \u00e0 la"},  // UTF-8 and a stray Latin-1 byte in one file
        {"\xC0\xAF", u"\u00c0\u00af"},                    // an overlong "/" is no UTF-8
        {"\xED\xA0\x80", u"\u00ed\u00a0\u0080"},         // nor is an encoded surrogate
        {"\xF0\x9F\x98\x80", u"\U0001F600"},              // four bytes: a surrogate pair
        {"\xE2\x82", u"\u00e2\u0082"},                    // a sequence cut by the line end
    };
    for (const Case& c : cases) {
        const IniFixture ini(std::string("[S]\nK=") + c.bytes + "\n");
        EXPECT_EQ(ini.Get(u"S", u"K"), c.expected) << c.bytes;
    }

    // A UTF-8 mark does not hide the first section, and is written back.
    const IniFixture marked("\xEF\xBB\xBF[S]\nK=1\n");
    EXPECT_EQ(marked.Get(u"S", u"K"), u"1");
    ASSERT_TRUE(WritePrivateProfileStringW(u"S", u"K", u"2", marked.wpath.c_str()));
    EXPECT_EQ(ReadBytes(marked.path), "\xEF\xBB\xBF[S]\nK=2\n");
}

TEST(Profile, WritesKeepTheLineEndsOfTheFile)
{
    struct Case {
        const char* before;
        const char16_t* section;
        const char16_t* key;
        const char16_t* value;
        const char* after;
    };
    const Case cases[] = {
        {"[A]\nx=1\n[B]\ny=2\n", u"A", u"z", u"3", "[A]\nx=1\nz=3\n[B]\ny=2\n"},
        {"[A]\nx=1\n", u"a", u"X", u"9", "[A]\nX=9\n"},
        {"[A]\r\nx=1\n[B]\r\n", u"A", u"x", u"2", "[A]\r\nx=2\n[B]\r\n"},  // each line keeps its own
        {"[A]\nx=1", u"A", u"y", u"2", "[A]\nx=1\ny=2\n"},                       // a last line without an end
        {"[A]\nx=1", u"B", u"y", u"2", "[A]\nx=1\n[B]\ny=2\n"},
        {"[A]\nx=1", u"A", u"x", u"5", "[A]\nx=5"},
        {"; top\n\n[A]\nx=1\n\n[B]\ny=2\n", u"A", u"x", nullptr, "; top\n\n[A]\n\n[B]\ny=2\n"},
        {"; top\n[A]\n; in A\nx=1\n[B]\ny=2\n", u"A", nullptr, nullptr, "; top\n[B]\ny=2\n"},
        {"[A]\nx=1\n\n\n", u"A", u"y", u"2", "[A]\nx=1\ny=2\n\n\n"},          // after the section's last line
    };
    for (const Case& c : cases) {
        const IniFixture ini(c.before);
        ASSERT_TRUE(WritePrivateProfileStringW(c.section, c.key, c.value, ini.wpath.c_str())) << c.before;
        EXPECT_EQ(ReadBytes(ini.path), c.after) << c.before;
    }
}

TEST(Profile, MissingFilesGiveTheDefaultAndFileNotFound)
{
    TempFolder tmp;
    const std::u16string missing = Utf8ToWide(tmp / "missing.ini");
    char16_t buffer[16];
    SetLastError(0);
    EXPECT_EQ(GetPrivateProfileStringW(u"S", u"K", u"dflt ", buffer, 16, missing.c_str()), 4u);
    EXPECT_EQ(std::u16string(buffer), u"dflt");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    SetLastError(0);
    EXPECT_EQ(GetPrivateProfileIntW(u"S", u"K", 7, missing.c_str()), 7u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    SetLastError(0);
    EXPECT_EQ(GetPrivateProfileSectionW(u"S", buffer, 16, missing.c_str()), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(buffer[0], u'\0');
    EXPECT_FALSE(std::filesystem::exists(tmp.path / "missing.ini"));  // reading makes nothing
}

// Points the state root at a folder of its own while it lives.
struct StateRootScope {
    TempFolder tmp;
    std::string saved;
    bool had = false;
    StateRootScope()
    {
        if (const char* old = std::getenv("ZNTR_STATE_DIR")) {
            had = true;
            saved = old;
        }
        setenv("ZNTR_STATE_DIR", tmp.path.c_str(), 1);
    }
    ~StateRootScope()
    {
        if (had)
            setenv("ZNTR_STATE_DIR", saved.c_str(), 1);
        else
            unsetenv("ZNTR_STATE_DIR");
    }
};

TEST(Profile, BareFileNamesAreInTheWindowsFolder)
{
    const StateRootScope state;
    ASSERT_TRUE(WritePrivateProfileStringW(u"S", u"K", u"v", u"bare.ini"));
    EXPECT_EQ(ReadBytes(state.tmp / "Windows/bare.ini"), "[S]\r\nK=v\r\n");
    char16_t buffer[8];
    EXPECT_EQ(GetPrivateProfileStringW(u"S", u"K", u"", buffer, 8, u"bare.ini"), 1u);
    EXPECT_EQ(GetPrivateProfileIntW(u"S", u"K", 3, u"BARE.INI"), 3u);  // names are the file system's: with case

    // A name with a folder, joined with "\\", is the file system's path.
    const std::u16string joined = Utf8ToWide(state.tmp.path.string()) + u"\\joined.ini";
    ASSERT_TRUE(WritePrivateProfileStringW(u"S", u"K", u"w", joined.c_str()));
    EXPECT_EQ(ReadBytes(state.tmp / "joined.ini"), "[S]\r\nK=w\r\n");
}

TEST(Profile, TwoThreadsWritingOneFileLoseNothing)
{
    const IniFixture ini("; kept\n");
    constexpr int kWrites = 60;
    bool ok[2] = {true, true};
    const auto writer = [&](int which) {
        const char16_t* section = which == 0 ? u"One" : u"Two";
        for (int i = 0; i < kWrites; ++i) {
            const std::u16string key = u"K" + Utf8ToWide(std::to_string(i));
            ok[which] = WritePrivateProfileStringW(section, key.c_str(), key.c_str(), ini.wpath.c_str()) && ok[which];
        }
    };
    std::thread first(writer, 0), second(writer, 1);
    first.join();
    second.join();
    EXPECT_TRUE(ok[0] && ok[1]);
    for (const char16_t* s : {u"One", u"Two"})
        for (int i = 0; i < kWrites; ++i) {
            const std::u16string key = u"K" + Utf8ToWide(std::to_string(i));
            EXPECT_EQ(ini.Get(s, key.c_str(), u"lost"), key) << WideToUtf8(s) << " " << i;
        }
    EXPECT_EQ(ReadBytes(ini.path).rfind("; kept\n", 0), 0u);
}

} // namespace
