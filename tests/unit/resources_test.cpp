// Resource libraries: zntr-rc's output and its faults, loading a library as a
// module (and refusing corrupt ones), string tables with their block edges
// and languages, resources found by language, their bytes, the module's
// file name and its freeing; the string library the build installs.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/libloaderapi.h"
#include "platform/stringapiset.h"
#include "platform/synchapi.h"
#include "platform/winbase.h"
#include "platform/winnls.h"
#include "platform/winuser.h"
#include "uiplug-in-old/core/model_tables.h"
#include "xps_fixture.h"

extern char** environ;

namespace {

const std::string kBuildDir = ZNTR_BUILD_DIR;

std::u16string W(const std::string& text) { return Utf8ToWide(text); }

std::string ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

struct CompilerRun {
    int status;  // the exit status, -1 when it did not exit
    std::string errors;
};

// zntr-rc of the build folder with these arguments, its standard error kept.
CompilerRun RunCompiler(const std::vector<std::string>& arguments, const TempFolder& folder)
{
    const std::string program = kBuildDir + "/zntr-rc";
    const std::string errorFile = folder / "zntr-rc.stderr";
    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return {-1, "cannot start " + program};
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadBytes(errorFile)};
}

// The user's language for a test, back to the environment afterwards.
struct UserLocale {
    explicit UserLocale(LCID lcid) { SetUserDefaultLCIDForTesting(lcid); }
    ~UserLocale() { SetUserDefaultLCIDForTesting(0); }
    UserLocale(const UserLocale&) = delete;
    UserLocale& operator=(const UserLocale&) = delete;
};

// A loaded module, freed at the end of the test.
struct Module {
    HMODULE handle;
    explicit Module(HMODULE h) : handle(h) {}
    ~Module()
    {
        if (handle)
            FreeLibrary(handle);
    }
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;
};

// The string through the copy form with room to spare; "<none>" for 0.
std::u16string String(HMODULE module, UINT id)
{
    char16_t buffer[256];
    const int n = LoadStringW(module, id, buffer, 256);
    return n == 0 ? u"<none>" : std::u16string(buffer, static_cast<std::size_t>(n));
}

std::string Bytes(HMODULE module, HRSRC info)
{
    const auto* data = static_cast<const char*>(LockResource(LoadResource(module, info)));
    return data ? std::string(data, SizeofResource(module, info)) : "<none>";
}

const std::u16string kLong = u"A string longer than the caller's buffer";
const std::u16string kEscapes = u"quote \" backslash \\ tab \t newline \n byte A";
const std::u16string kUnicode = u"Gr\u00FC\u00DFe \U0001F600";
// An odd-sized bitmap with zeros and high bytes, so that the data after it
// must be padded.
template <std::size_t N>
std::string Literal(const char (&text)[N])
{
    return std::string(text, N - 1);
}
const std::string kBitmap = Literal("BM\x2d\0\0\0\0\0\0\0\x36\0\0\0\x28\0\0\0\x01\0\0\0\x01\0\0\0\x01\0\x18\0\0\0\0\0"
                                    "\x04\0\0\0\xff\xfe\xfd\x80\x7f\0\x01");

// Strings in two languages at the edges of their blocks (ids 0, 15 | 16, 17),
// an empty string, escapes and text beyond Latin-1; a bitmap and data files
// in several languages for the language searches.
const char* const kSource = R"(; The test library
STRING 0 "zero"
STRING 15 "fifteen"
STRING 16 "sixteen"       ; the next block
STRING 17 "seventeen"
STRING 20 ""
STRING 21 "A string longer than the caller's buffer"
STRING 22 "quote \" backslash \\ tab \t newline \n byte \x41"
STRING 23 "Grüße 😀"
BITMAP 1 "pixel.bmp"
RCDATA 1 "en-US.bin"
RCDATA 9 "en-US.bin"
RCDATA 11 "empty.bin"

language 1031
STRING 0 "null"
STRING 16 "sechzehn"
RCDATA 9 "de-DE.bin"
LANGUAGE 0x0007   ; German, neutral
RCDATA 9 "de.bin"
LANGUAGE 0        ; language neutral
RCDATA 9 "neutral.bin"
LANGUAGE 1036
RCDATA 10 "sub/fr-FR.bin"
LANGUAGE 1040
RCDATA 10 "it-IT.bin"
)";

// The source compiled into strings.dll of a temporary folder.
struct Library {
    TempFolder folder;
    std::string path = folder / "strings.dll";
    UserLocale user{1033};

    explicit Library(const std::string& source = kSource)
    {
        WriteBytes(folder / "pixel.bmp", kBitmap);
        for (const char* language : {"en-US", "de-DE", "de", "neutral", "it-IT"})
            WriteBytes(folder / (std::string(language) + ".bin"), language);
        std::filesystem::create_directory(folder.path / "sub");
        WriteBytes(folder / "sub/fr-FR.bin", "fr-FR");
        WriteBytes(folder / "empty.bin", "");
        WriteBytes(folder / "strings.rc", source);
        const CompilerRun run = RunCompiler({folder / "strings.rc", path}, folder);
        EXPECT_EQ(run.status, 0) << run.errors;
    }
    HMODULE Load() const { return LoadLibraryW(W(path).c_str()); }
};

TEST(resources, StringsAtBlockEdges)
{
    const Library library;
    for (const DWORD flags : {DWORD{0}, LOAD_LIBRARY_AS_DATAFILE}) {
        const Module module(LoadLibraryExW(W(library.path).c_str(), nullptr, flags));
        ASSERT_NE(module.handle, nullptr) << GetLoadErrorText();
        struct Case {
            UINT id;
            std::u16string text;
        } const cases[] = {
            {0, u"zero"},     {15, u"fifteen"},   {16, u"sixteen"}, {17, u"seventeen"}, {21, kLong},
            {22, kEscapes},   {23, kUnicode},     {1, u"<none>"},   {14, u"<none>"},    {18, u"<none>"},
            {31, u"<none>"},  {32, u"<none>"},    {0xFFFF, u"<none>"}, {0x10000, u"<none>"},
        };
        for (const Case& c : cases)
            EXPECT_EQ(String(module.handle, c.id), c.text) << "id " << c.id << " flags " << flags;
    }
}

TEST(resources, LoadStringCutsAndPoints)
{
    const Library library;
    const Module module(library.Load());
    ASSERT_NE(module.handle, nullptr) << GetLoadErrorText();

    struct Case {
        int room;
        int answer;
    } const cases[] = {{8, 7}, {1, 0}, {static_cast<int>(kLong.size()), static_cast<int>(kLong.size()) - 1},
                       {static_cast<int>(kLong.size()) + 1, static_cast<int>(kLong.size())}};
    for (const Case& c : cases) {
        std::u16string buffer(static_cast<std::size_t>(c.room) + 4, u'\x1');
        EXPECT_EQ(LoadStringW(module.handle, 21, buffer.data(), c.room), c.answer) << c.room;
        EXPECT_EQ(buffer.substr(0, static_cast<std::size_t>(c.answer)), kLong.substr(0, static_cast<std::size_t>(c.answer)));
        EXPECT_EQ(buffer[static_cast<std::size_t>(c.answer)], u'\0') << c.room;
        EXPECT_EQ(buffer[static_cast<std::size_t>(c.room)], u'\x1') << "written past the room of " << c.room;
    }

    // cchBufferMax 0: a pointer to the string in the module, not terminated
    // (the next string's length follows it).
    LPCWSTR text = nullptr;
    ASSERT_EQ(LoadStringW(module.handle, 21, reinterpret_cast<LPWSTR>(&text), 0), static_cast<int>(kLong.size()));
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::u16string_view(text, kLong.size()), kLong);
    EXPECT_EQ(static_cast<std::size_t>(text[kLong.size()]), kEscapes.size());
    EXPECT_EQ(LoadStringW(module.handle, 23, reinterpret_cast<LPWSTR>(&text), 0), static_cast<int>(kUnicode.size()));
    EXPECT_EQ(std::u16string_view(text, kUnicode.size()), kUnicode);

    // An empty string and a missing one answer 0 and leave an empty buffer.
    for (const UINT id : {20u, 19u, 40u}) {
        char16_t buffer[4] = {u'x', u'x', u'x', u'x'};
        EXPECT_EQ(LoadStringW(module.handle, id, buffer, 4), 0) << id;
        EXPECT_EQ(buffer[0], u'\0') << id;
        LPCWSTR pointer = u"stale";
        EXPECT_EQ(LoadStringW(module.handle, id, reinterpret_cast<LPWSTR>(&pointer), 0), 0) << id;
    }
    SetLastError(0);
    EXPECT_EQ(LoadStringW(module.handle, 0, nullptr, 10), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

// A string table block is taken whole in one language: the German blocks
// hold 0 and 16 only, so 15 and 17 are not found for a German user although
// the English blocks have them. A user whose language the module lacks gets
// the first language there is (1031 before 1033).
TEST(resources, StringBlocksInTheUsersLanguage)
{
    const Library library;
    const Module module(library.Load());
    ASSERT_NE(module.handle, nullptr) << GetLoadErrorText();
    struct Case {
        LCID user;
        UINT id;
        std::u16string text;
    } const cases[] = {
        {1031, 0, u"null"},   {1031, 16, u"sechzehn"}, {1031, 15, u"<none>"}, {1031, 17, u"<none>"},
        {1033, 0, u"zero"},   {1033, 16, u"sixteen"},  {2057, 17, u"<none>"}, {1041, 16, u"sechzehn"},
        {3079, 0, u"null"},   {1041, 22, u"<none>"},
    };
    for (const Case& c : cases) {
        const UserLocale user(c.user);
        EXPECT_EQ(String(module.handle, c.id), c.text) << "user " << c.user << " id " << c.id;
    }
}

TEST(resources, FindResourceExTakesTheExactLanguage)
{
    const Library library;
    const Module module(library.Load());
    ASSERT_NE(module.handle, nullptr) << GetLoadErrorText();
    struct Case {
        LPCWSTR type;
        LPCWSTR name;
        WORD language;
        std::string bytes;  // "" when not found
        DWORD error;
    } const cases[] = {
        {RT_RCDATA, MAKEINTRESOURCEW(9), 1033, "en-US", 0},
        {RT_RCDATA, MAKEINTRESOURCEW(9), 1031, "de-DE", 0},
        {RT_RCDATA, MAKEINTRESOURCEW(9), 0x0007, "de", 0},
        {RT_RCDATA, MAKEINTRESOURCEW(10), 1036, "fr-FR", 0},
        {RT_RCDATA, MAKEINTRESOURCEW(1), 1033, "en-US", 0},  // same id as the bitmap, another type
        {RT_BITMAP, MAKEINTRESOURCEW(1), 1033, kBitmap, 0},
        {RT_RCDATA, MAKEINTRESOURCEW(9), 3079, "", ERROR_RESOURCE_LANG_NOT_FOUND},
        {RT_BITMAP, MAKEINTRESOURCEW(1), 1031, "", ERROR_RESOURCE_LANG_NOT_FOUND},
        {RT_BITMAP, MAKEINTRESOURCEW(2), 1033, "", ERROR_RESOURCE_NAME_NOT_FOUND},
        {RT_BITMAP, u"PIXEL", 1033, "", ERROR_RESOURCE_NAME_NOT_FOUND},
        {RT_DIALOG, MAKEINTRESOURCEW(1), 1033, "", ERROR_RESOURCE_TYPE_NOT_FOUND},
        {u"BITMAP", MAKEINTRESOURCEW(1), 1033, "", ERROR_RESOURCE_TYPE_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SetLastError(0);
        const HRSRC found = FindResourceExW(module.handle, c.type, c.name, c.language);
        const std::string label = "language " + std::to_string(c.language) + " bytes " + c.bytes;
        if (c.bytes.empty()) {
            EXPECT_EQ(found, nullptr) << label;
            EXPECT_EQ(GetLastError(), c.error) << label;
        } else {
            ASSERT_NE(found, nullptr) << label << " error " << GetLastError();
            EXPECT_EQ(Bytes(module.handle, found), c.bytes) << label;
        }
    }
}

// FindResourceW, and FindResourceExW with language 0: the user's language,
// its neutral form, language neutral, else the first language the module has.
TEST(resources, NeutralSearchOrder)
{
    const Library library;
    const Module module(library.Load());
    ASSERT_NE(module.handle, nullptr) << GetLoadErrorText();
    struct Case {
        LCID user;
        UINT id;
        std::string bytes;
    } const cases[] = {
        {1033, 9, "en-US"},   {1031, 9, "de-DE"},   {3079, 9, "de"},      {2055, 9, "de"},
        {1041, 9, "neutral"}, {1040, 10, "it-IT"},  {1031, 10, "fr-FR"},  {3084, 10, "fr-FR"},
        {1040, 1, "en-US"},
    };
    for (const Case& c : cases) {
        const UserLocale user(c.user);
        const std::string label = "user " + std::to_string(c.user) + " id " + std::to_string(c.id);
        const HRSRC plain = FindResourceW(module.handle, MAKEINTRESOURCEW(c.id), RT_RCDATA);
        ASSERT_NE(plain, nullptr) << label;
        EXPECT_EQ(Bytes(module.handle, plain), c.bytes) << label;
        EXPECT_EQ(FindResourceExW(module.handle, RT_RCDATA, MAKEINTRESOURCEW(c.id), 0), plain) << label;
    }
}

TEST(resources, ResourceBytesAndSizes)
{
    const Library library;
    const Module module(library.Load());
    ASSERT_NE(module.handle, nullptr) << GetLoadErrorText();

    ASSERT_EQ(kBitmap.size() % 2, 1u);  // so that the next data needs padding
    const HRSRC bitmap = FindResourceW(module.handle, MAKEINTRESOURCEW(1), RT_BITMAP);
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(SizeofResource(module.handle, bitmap), kBitmap.size());
    const HGLOBAL data = LoadResource(module.handle, bitmap);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(std::string(static_cast<const char*>(LockResource(data)), kBitmap.size()), kBitmap);

    const HRSRC empty = FindResourceW(module.handle, MAKEINTRESOURCEW(11), RT_RCDATA);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(SizeofResource(module.handle, empty), 0u);
    EXPECT_NE(LoadResource(module.handle, empty), nullptr);

    // The second English block: 16 lengths and the code units of 16, 17 and
    // 20 to 23.
    const HRSRC block = FindResourceExW(module.handle, RT_STRING, MAKEINTRESOURCEW(2), 1033);
    ASSERT_NE(block, nullptr);
    const std::size_t units = std::u16string(u"sixteen").size() + std::u16string(u"seventeen").size() + kLong.size() +
                              kEscapes.size() + kUnicode.size();
    EXPECT_EQ(SizeofResource(module.handle, block), 2 * (16 + units));

    // A resource handle of another module is not this module's.
    const Library other;
    const Module second(other.Load());
    ASSERT_NE(second.handle, nullptr);
    ASSERT_NE(second.handle, module.handle);
    SetLastError(0);
    EXPECT_EQ(LoadResource(second.handle, bitmap), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(SizeofResource(second.handle, bitmap), 0u);
}

TEST(resources, ModuleNameProceduresAndFreeing)
{
    const Library library;
    std::filesystem::create_directory(library.folder.path / "other");
    // Callers join folders with "\"; the name is answered as a full path.
    std::string roundabout = library.folder / "other/../strings.dll";
    for (char& c : roundabout)
        if (c == '/')
            c = '\\';
    HMODULE module = LoadLibraryW(W(roundabout).c_str());
    ASSERT_NE(module, nullptr) << GetLoadErrorText();

    char16_t name[512];
    const DWORD n = GetModuleFileNameW(module, name, 512);
    EXPECT_EQ(std::u16string(name, n), W(library.path));
    char16_t cut[6];
    SetLastError(0);
    EXPECT_EQ(GetModuleFileNameW(module, cut, 6), 6u);
    EXPECT_EQ(std::u16string(cut), W(library.path).substr(0, 5));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);

    SetLastError(0);
    EXPECT_EQ(GetProcAddress(module, "DllGetClassObject"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);

    // The same file loaded again is the same module, freed with its last
    // reference.
    HMODULE again = LoadLibraryExW(W(library.path).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    EXPECT_EQ(again, module);
    EXPECT_TRUE(FreeLibrary(again));
    EXPECT_EQ(String(module, 0), u"zero");
    EXPECT_TRUE(FreeLibrary(module));

    // A freed handle is no module any more, for every call.
    SetLastError(0);
    EXPECT_FALSE(FreeLibrary(module));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(String(module, 0), u"<none>");
    EXPECT_EQ(FindResourceW(module, MAKEINTRESOURCEW(1), RT_BITMAP), nullptr);
    EXPECT_EQ(GetModuleFileNameW(module, name, 512), 0u);
    EXPECT_EQ(GetProcAddress(module, "DllGetClassObject"), nullptr);

    // Loaded anew, it is a module with a handle of its own.
    const Module reloaded(library.Load());
    ASSERT_NE(reloaded.handle, nullptr);
    EXPECT_NE(reloaded.handle, module);
    EXPECT_EQ(String(reloaded.handle, 16), u"sixteen");
}

// A module holds the file as it was loaded: rewriting the file changes
// neither the module nor what it answers, and loading the new file gives a
// module of its own.
TEST(resources, ModulesKeepTheFileAsLoaded)
{
    const Library library;
    const Module before(library.Load());
    ASSERT_NE(before.handle, nullptr) << GetLoadErrorText();
    WriteBytes(library.folder / "new.rc", "STRING 0 \"rewritten\"\n");
    const CompilerRun run = RunCompiler({library.folder / "new.rc", library.path}, library.folder);
    ASSERT_EQ(run.status, 0) << run.errors;

    const Module after(library.Load());
    ASSERT_NE(after.handle, nullptr) << GetLoadErrorText();
    EXPECT_NE(after.handle, before.handle);
    EXPECT_EQ(String(after.handle, 0), u"rewritten");
    EXPECT_EQ(String(after.handle, 16), u"<none>");
    EXPECT_EQ(String(before.handle, 0), u"zero");
    EXPECT_EQ(String(before.handle, 16), u"sixteen");
}

// Shared libraries still load through the dynamic loader and have no
// resources here.
TEST(resources, SharedLibrariesHaveNoResources)
{
    const Module shared(LoadLibraryW(W(kBuildDir + "/libzntr_platform.so").c_str()));
    ASSERT_NE(shared.handle, nullptr) << GetLoadErrorText();
    SetLastError(0);
    EXPECT_EQ(FindResourceW(shared.handle, MAKEINTRESOURCEW(1), RT_BITMAP), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_DATA_NOT_FOUND);
    EXPECT_EQ(String(shared.handle, 0), u"<none>");
    EXPECT_EQ(FindResourceW(nullptr, MAKEINTRESOURCEW(1), RT_BITMAP), nullptr);

    // As a data file it is refused; so is a file that is not there.
    SetLastError(0);
    EXPECT_EQ(LoadLibraryExW(W(kBuildDir + "/libzntr_platform.so").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_BAD_EXE_FORMAT);
    SetLastError(0);
    EXPECT_EQ(LoadLibraryExW(u"/nonexistent/ZNTRSLOC.DLL", nullptr, LOAD_LIBRARY_AS_DATAFILE), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);

    SetLastError(0);
    int file = 0;
    EXPECT_EQ(LoadLibraryExW(u"/nonexistent/x.so", &file, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(LoadLibraryExW(W(kBuildDir + "/libzntr_platform.so").c_str(), nullptr, 0x8), nullptr);
}

// ---- Corrupt libraries -------------------------------------------------------

struct RawEntry {
    std::uint32_t type, id;
    std::uint16_t language, pad;
    std::uint32_t offset, size;
};

void Put(std::string& out, std::uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// A library file by hand: the magic, a count (the number of entries unless
// given), the entries and the bytes after them.
std::string RawLibrary(const std::vector<RawEntry>& entries, const std::string& data, std::int64_t count = -1)
{
    std::string out("ZNTRRES1", 8);
    Put(out, count < 0 ? entries.size() : static_cast<std::uint64_t>(count), 4);
    for (const RawEntry& e : entries) {
        Put(out, e.type, 4);
        Put(out, e.id, 4);
        Put(out, e.language, 2);
        Put(out, e.pad, 2);
        Put(out, e.offset, 4);
        Put(out, e.size, 4);
    }
    return out + data;
}

TEST(resources, CorruptLibrariesAreRefused)
{
    const TempFolder folder;
    // One entry: the directory ends at 32, the data "abcd" at 32.
    const RawEntry good{10, 5, 1033, 0, 32, 4};
    const std::string valid = RawLibrary({good}, "abcd");
    WriteBytes(folder / "valid.dll", valid);
    {
        const Module control(LoadLibraryW(W(folder / "valid.dll").c_str()));
        ASSERT_NE(control.handle, nullptr) << GetLoadErrorText();
        const HRSRC found = FindResourceExW(control.handle, RT_RCDATA, MAKEINTRESOURCEW(5), 1033);
        EXPECT_EQ(Bytes(control.handle, found), "abcd");
    }

    const RawEntry a{10, 5, 1033, 0, 52, 4};
    const RawEntry b{10, 6, 1033, 0, 56, 4};
    struct Case {
        const char* fault;
        std::string bytes;
    } const cases[] = {
        {"magic only", std::string("ZNTRRES1", 8)},
        {"count cut short", std::string("ZNTRRES1\x01\x00", 10)},
        {"directory beyond the end", RawLibrary({good}, "abcd", 2)},
        {"huge count", RawLibrary({good}, "abcd", 0xFFFFFFFF)},
        {"offset past the end", RawLibrary({{10, 5, 1033, 0, 36, 4}}, "abcd")},
        {"size past the end", RawLibrary({{10, 5, 1033, 0, 32, 5}}, "abcd")},
        {"offset and size wrap around", RawLibrary({{10, 5, 1033, 0, 32, 0xFFFFFFF0}}, "abcd")},
        {"data inside the directory", RawLibrary({{10, 5, 1033, 0, 12, 4}}, "abcd")},
        {"offset not a multiple of 4", RawLibrary({{10, 5, 1033, 0, 34, 2}}, "abcd")},
        {"overlapping data", RawLibrary({a, {10, 6, 1033, 0, 52, 4}}, "abcdefgh")},
        {"overlapping data, partly", RawLibrary({{10, 5, 1033, 0, 52, 8}, b}, "abcdefgh")},
        {"out of order", RawLibrary({b, a}, "abcdefgh")},
        {"the same entry twice", RawLibrary({a, {10, 5, 1033, 0, 56, 4}}, "abcdefgh")},
        {"padding not zero", RawLibrary({{10, 5, 1033, 7, 32, 4}}, "abcd")},
        {"type 0", RawLibrary({{0, 5, 1033, 0, 32, 4}}, "abcd")},
        {"id beyond 16 bits", RawLibrary({{10, 0x10005, 1033, 0, 32, 4}}, "abcd")},
    };
    for (const Case& c : cases) {
        WriteBytes(folder / "corrupt.dll", c.bytes);
        for (const DWORD flags : {DWORD{0}, LOAD_LIBRARY_AS_DATAFILE}) {
            SetLastError(0);
            const Module module(LoadLibraryExW(W(folder / "corrupt.dll").c_str(), nullptr, flags));
            EXPECT_EQ(module.handle, nullptr) << c.fault;
            EXPECT_EQ(GetLastError(), ERROR_BAD_EXE_FORMAT) << c.fault;
            EXPECT_NE(std::string(GetLoadErrorText()), "") << c.fault;
        }
    }

    // Without the magic a file is no resource library: refused as a data
    // file, handed to the dynamic loader (which refuses it too) otherwise.
    for (const std::string& bytes : {std::string("ZNTRRES2") + valid.substr(8), std::string("ZNTR"), std::string()}) {
        WriteBytes(folder / "other.dll", bytes);
        SetLastError(0);
        EXPECT_EQ(LoadLibraryExW(W(folder / "other.dll").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE), nullptr) << bytes;
        EXPECT_EQ(GetLastError(), ERROR_BAD_EXE_FORMAT) << bytes;
        SetLastError(0);
        EXPECT_EQ(LoadLibraryW(W(folder / "other.dll").c_str()), nullptr) << bytes;
        EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND) << bytes;
    }
}

// ---- The compiler ----------------------------------------------------------------

TEST(resources, CompilerWritesTheDocumentedLayout)
{
    const TempFolder folder;
    WriteBytes(folder / "abc.bin", "abc");
    WriteBytes(folder / "tiny.rc", "STRING 17 \"hi\"\nBITMAP 3 \"abc.bin\"\n");
    const CompilerRun run = RunCompiler({folder / "tiny.rc", folder / "tiny.dll"}, folder);
    ASSERT_EQ(run.status, 0) << run.errors;

    // Sorted by type: the bitmap (2) at 52, one zero byte of padding, the
    // string block (6) with id 17 / 16 + 1 = 2 at 56, holding "hi" as its
    // second string.
    std::string block;
    Put(block, 0, 2);
    Put(block, 2, 2);
    block += std::string("h\0i\0", 4);
    for (int i = 2; i < 16; ++i)
        Put(block, 0, 2);
    const std::string expected = RawLibrary({{2, 3, 1033, 0, 52, 3}, {6, 2, 1033, 0, 56, 36}}, "abc" + std::string(1, '\0') + block);
    EXPECT_EQ(ReadBytes(folder / "tiny.dll"), expected);
}

TEST(resources, CompilerOutputIsDeterministic)
{
    const TempFolder folder;
    WriteBytes(folder / "a.bin", "first");
    WriteBytes(folder / "b.bin", "second file");
    WriteBytes(folder / "one.rc", "STRING 5 \"five\"\nSTRING 40 \"forty\"\nRCDATA 2 \"a.bin\"\nLANGUAGE 1031\n"
                                  "STRING 5 \"fuenf\"\nBITMAP 7 \"b.bin\"\n");
    WriteBytes(folder / "two.rc", "LANGUAGE 1031\nBITMAP 7 \"b.bin\"\nSTRING 5 \"fuenf\"\nLANGUAGE 1033\n"
                                  "RCDATA 2 \"a.bin\"\nSTRING 40 \"forty\"\nSTRING 5 \"five\"\n");
    ASSERT_EQ(RunCompiler({folder / "one.rc", folder / "one.dll"}, folder).status, 0);
    ASSERT_EQ(RunCompiler({folder / "two.rc", folder / "two.dll"}, folder).status, 0);
    ASSERT_EQ(RunCompiler({folder / "one.rc", folder / "again.dll"}, folder).status, 0);
    const std::string one = ReadBytes(folder / "one.dll");
    EXPECT_FALSE(one.empty());
    EXPECT_EQ(ReadBytes(folder / "two.dll"), one);
    EXPECT_EQ(ReadBytes(folder / "again.dll"), one);
}

TEST(resources, CompilerFaultsNameTheLine)
{
    struct Case {
        std::string source;
        unsigned line;
        std::string fault;
    } const cases[] = {
        {"STRING 1 \"a\"\nSTRING 1 \"b\"\n", 2, "already defined (line 1)"},
        {"BITMAP 4 \"a.bin\"\n; again\nBITMAP 4 \"a.bin\"\n", 3, "already defined (line 1)"},
        {"LANGUAGE 1031\nSTRING 1 \"a\"\nLANGUAGE 0x407\nSTRING 1 \"b\"\n", 4, "already defined (line 2)"},
        {"; fine\nSTRING 12x \"a\"\n", 2, "bad number '12x'"},
        {"STRING -1 \"a\"\n", 1, "bad number"},
        {"LANGUAGE 65536\n", 1, "out of range"},
        {"STRING 70000 \"a\"\n", 1, "out of range"},
        {"BITMAP 0 \"a.bin\"\n", 1, "out of range"},
        {"\n\nSTRING 3 \"open\n", 3, "unterminated string"},
        {"STRING 3 \"ends in a backslash\\", 1, "unterminated string"},
        {"RCDATA 2 \"missing.bin\"\n", 1, "cannot read 'missing.bin'"},
        {"BITMAP 2 \"sub\"\n", 1, "cannot read 'sub'"},
        {"STRING 1 \"bad \\q escape\"\n", 1, "unknown escape \\q"},
        {"STRING 1 \"\\x4\"\n", 1, "two hexadecimal digits"},
        {"STRING 1 \"\xC3\x28\"\n", 1, "not valid UTF-8"},
        {"STRING 1 \"overlong \xC0\xAF\"\n", 1, "not valid UTF-8"},
        {"STRING 1 \"surrogate \xED\xA0\x80\"\n", 1, "not valid UTF-8"},
        {"STRING 1 \"cut \xE2\x82\"\n", 1, "not valid UTF-8"},
        {"ICON 1 \"a.bin\"\n", 1, "unknown statement 'ICON'"},
        {"STRING 1 \"a\" extra\n", 1, "unexpected text after the statement: 'extra'"},
        {"STRING 1\n", 1, "expected a quoted string"},
        {"STRING\n", 1, "missing string id"},
        {"\"text\"\n", 1, "expected a statement"},
    };
    for (const Case& c : cases) {
        const TempFolder folder;
        WriteBytes(folder / "a.bin", "a");
        std::filesystem::create_directory(folder.path / "sub");
        WriteBytes(folder / "bad.rc", c.source);
        const CompilerRun run = RunCompiler({folder / "bad.rc", folder / "bad.dll"}, folder);
        EXPECT_EQ(run.status, 1) << c.source;
        const std::string where = folder / "bad.rc" + ":" + std::to_string(c.line) + ": ";
        EXPECT_NE(run.errors.find(where), std::string::npos) << c.source << "\n" << run.errors;
        EXPECT_NE(run.errors.find(c.fault), std::string::npos) << c.source << "\n" << run.errors;
        EXPECT_FALSE(std::filesystem::exists(folder / "bad.dll")) << c.source;
    }
}

TEST(resources, CompilerReportsEveryFaultAndItsArguments)
{
    const TempFolder folder;
    WriteBytes(folder / "bad.rc", "STRING 1 \"a\"\nSTRING x \"b\"\nSTRING 2 \"c\"\nICON 1\n");
    const CompilerRun run = RunCompiler({folder / "bad.rc", folder / "bad.dll"}, folder);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.errors.find(":2: "), std::string::npos) << run.errors;
    EXPECT_NE(run.errors.find(":4: "), std::string::npos) << run.errors;
    EXPECT_EQ(run.errors.find(":1: "), std::string::npos) << run.errors;

    EXPECT_EQ(RunCompiler({folder / "bad.rc"}, folder).status, 2);
    EXPECT_EQ(RunCompiler({folder / "absent.rc", folder / "x.dll"}, folder).status, 1);
    EXPECT_EQ(RunCompiler({folder / "bad.rc", folder / "no/such/folder/x.dll"}, folder).status, 1);
}

// ---- The string library of the build ------------------------------------------

struct InstalledStrings {
    UserLocale user{1033};
    Module module{LoadLibraryExW(W(kBuildDir + "/ZNTRSLOC.DLL").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)};
};

TEST(resources, InstalledStringLibrary)
{
    const InstalledStrings strings;
    ASSERT_NE(strings.module.handle, nullptr) << GetLoadErrorText();
    EXPECT_EQ(String(strings.module.handle, 300), u"A4");
    EXPECT_EQ(String(strings.module.handle, 700), u"mm");
    EXPECT_EQ(String(strings.module.handle, 1818), u"No");

    // The free size's name is a format for its width and height.
    const std::u16string freeSize = String(strings.module.handle, 304);
    std::size_t formats = 0, percents = 0;
    for (std::size_t i = 0; i < freeSize.size(); ++i)
        if (freeSize[i] == u'%') {
            ++percents;
            formats += freeSize.compare(i, 2, u"%d") == 0;
        }
    EXPECT_EQ(formats, 2u) << WideToUtf8(freeSize);
    EXPECT_EQ(percents, 2u) << WideToUtf8(freeSize);

    // English is the only language: users of every language get it.
    const UserLocale german(1031);
    EXPECT_EQ(String(strings.module.handle, 2014), u"Layout");
}

// Every string the plug-in's built-in tables and pages name is there.
TEST(resources, InstalledStringsCoverThePlugInTables)
{
    const InstalledStrings strings;
    ASSERT_NE(strings.module.handle, nullptr) << GetLoadErrorText();
    std::vector<UINT> ids{2004, 2013, 2014, 2015, model_tables::kStringMillimetres, model_tables::kStringPaperListAsRead};
    for (const auto& paper : model_tables::kPaperNames) {
        ids.push_back(paper.shortNameId);
        ids.push_back(paper.longNameId);
    }
    for (const auto& source : model_tables::kSources)
        ids.push_back(source.nameId);
    for (UINT i = 0; i < model_tables::kPaperTypeCount; ++i)
        ids.push_back(model_tables::kFirstPaperTypeNameId + i);
    for (const auto& media : model_tables::kMedia)
        ids.push_back(media.nameId);
    for (const UINT id : ids)
        EXPECT_NE(String(strings.module.handle, id), u"<none>") << "string " << id;
}

// A paper's short name is its name in the paper table (row k + 1 for entry
// k of the built-in table); a string two rows share is where both names
// begin.
TEST(resources, InstalledPaperNamesMatchThePaperTable)
{
    const InstalledStrings strings;
    ASSERT_NE(strings.module.handle, nullptr) << GetLoadErrorText();
    const std::u16string table = W(std::string(ZNTR_SOURCE_DIR) + "/data/driver/ZNTRPAPR.DAT");
    std::map<UINT, std::vector<std::u16string>> namesById;
    for (std::size_t k = 0; k < model_tables::kPaperNames.size(); ++k) {
        char16_t row[256];
        const std::u16string key = W("AllPaper" + std::to_string(k + 1));
        const DWORD n = GetPrivateProfileStringW(u"AllPaper", key.c_str(), u"", row, 256, table.c_str());
        const std::u16string value(row, n);
        const std::size_t open = value.find(u'"');
        const std::size_t close = value.find(u'"', open + 1);
        ASSERT_NE(close, std::u16string::npos) << WideToUtf8(key) << ": " << WideToUtf8(value);
        namesById[model_tables::kPaperNames[k].shortNameId].push_back(value.substr(open + 1, close - open - 1));
    }
    for (const auto& [id, names] : namesById) {
        const std::u16string text = String(strings.module.handle, id);
        for (const std::u16string& name : names) {
            if (names.size() > 1 && names.front() != names.back())
                EXPECT_EQ(name.compare(0, text.size(), text), 0) << id << ": " << WideToUtf8(text) << " / " << WideToUtf8(name);
            else
                EXPECT_EQ(text, name) << "string " << id;
        }
    }
}

}  // namespace
