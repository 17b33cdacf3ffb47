// The special folders, the user, a module's file and access lists on files.
#include <dlfcn.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/aclapi.h"
#include "platform/libloaderapi.h"
#include "platform/shlobj.h"
#include "platform/stringapiset.h"
#include "platform/synchapi.h"
#include "platform/sysinfoapi.h"
#include "platform/winbase.h"
#include "xps_fixture.h"

namespace fs = std::filesystem;

namespace {

// A fresh state root for one test; the stand-ins read it on every call.
struct StateFolder {
    TempFolder tmp;
    StateFolder() { setenv("ZNTR_STATE_DIR", tmp.path.c_str(), 1); }
    ~StateFolder() { unsetenv("ZNTR_STATE_DIR"); }
};

std::string ExpectedUser()
{
    const passwd* pw = getpwuid(geteuid());
    return pw && pw->pw_name ? pw->pw_name : "";
}

std::u16string W(const fs::path& path) { return Utf8ToWide(path.string()); }

unsigned ModeOf(const fs::path& file) { return static_cast<unsigned>(fs::status(file).permissions()) & 07777; }

// ---- Special folders ---------------------------------------------------------------

TEST(SpecialFolders, EachLivesUnderTheStateRootAndIsMadeOnlyWhenAsked)
{
    StateFolder state;
    const fs::path root = state.tmp.path;
    const fs::path profile = root / "Users" / ExpectedUser();
    struct Case {
        int csidl;
        fs::path folder;
    };
    const Case cases[] = {
        {CSIDL_COMMON_APPDATA, root / "ProgramData"},
        {CSIDL_APPDATA, profile / "AppData" / "Roaming"},
        {CSIDL_LOCAL_APPDATA, profile / "AppData" / "Local"},
        {CSIDL_WINDOWS, root / "Windows"},
        {CSIDL_SYSTEM, root / "Windows" / "System32"},
        {CSIDL_PROFILE, profile},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder.string());
        char16_t path[MAX_PATH];
        // CSIDL_PROFILE is the parent of the application-data folders made
        // before it in the table.
        const bool madeAlready = fs::is_directory(c.folder);
        EXPECT_EQ(SHGetFolderPathW(nullptr, c.csidl, nullptr, 0, path), madeAlready ? S_OK : S_FALSE);
        EXPECT_EQ(std::u16string(path), W(c.folder));
        EXPECT_EQ(fs::is_directory(c.folder), madeAlready);  // asking does not make it
        EXPECT_EQ(SHGetFolderPathW(nullptr, c.csidl | CSIDL_FLAG_CREATE, nullptr, 0, path), S_OK);
        EXPECT_EQ(std::u16string(path), W(c.folder));
        EXPECT_TRUE(fs::is_directory(c.folder));
    }
}

TEST(SpecialFolders, FollowTheStateRootOfEachCallAndRefuseOtherFolders)
{
    char16_t first[MAX_PATH];
    char16_t second[MAX_PATH];
    {
        StateFolder state;
        ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0, first), S_OK);
    }
    {
        StateFolder state;
        ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0, second), S_OK);
        EXPECT_EQ(std::u16string(second), W(state.tmp.path / "ProgramData"));
    }
    EXPECT_NE(std::u16string(first), std::u16string(second));

    StateFolder state;
    const int others[] = {0x0000 /* desktop */, 0x0005 /* documents */, 0x0026 /* program files */, 0x7777};
    for (const int csidl : others) {
        char16_t path[MAX_PATH] = u"untouched";
        EXPECT_EQ(SHGetFolderPathW(nullptr, csidl | CSIDL_FLAG_CREATE, nullptr, 0, path), E_INVALIDARG) << csidl;
        EXPECT_EQ(path[0], u'\0') << csidl;
    }
    EXPECT_EQ(SHGetFolderPathW(nullptr, CSIDL_WINDOWS, nullptr, 0, nullptr), E_INVALIDARG);
    EXPECT_FALSE(fs::exists(state.tmp.path / "Windows"));
}

TEST(SpecialFolders, DirectoriesAreMadeWithTheirMissingParentsAndAnswerThePlatformsCodes)
{
    StateFolder state;
    const fs::path root = state.tmp.path;
    std::ofstream(root / "plain-file") << "x";
    // Callers join folders with "\".
    const std::u16string deep = W(root) + u"\\Halvane\\Drv\\ZNTR";
    struct Case {
        std::u16string path;
        DWORD code;
    };
    const Case cases[] = {
        {deep, ERROR_SUCCESS},
        {deep, ERROR_ALREADY_EXISTS},
        {W(root / "Halvane"), ERROR_ALREADY_EXISTS},  // a parent made on the way
        {W(root / "plain-file"), ERROR_FILE_EXISTS},
        {W(root / "plain-file") + u"\\below", ERROR_PATH_NOT_FOUND},
        {u"", ERROR_BAD_PATHNAME},
        {u"relative\\folder", ERROR_BAD_PATHNAME},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SHCreateDirectoryExW(nullptr, c.path.c_str(), nullptr), static_cast<int>(c.code)) << WideToUtf8(c.path);
    EXPECT_EQ(SHCreateDirectoryExW(nullptr, nullptr, nullptr), static_cast<int>(ERROR_BAD_PATHNAME));
    EXPECT_TRUE(fs::is_directory(root / "Halvane" / "Drv" / "ZNTR"));
    EXPECT_FALSE(fs::exists("relative"));
}

TEST(SpecialFolders, WindowsAndSystemDirectoriesAnswerTheLengthsThePlatformDoes)
{
    StateFolder state;
    struct Folder {
        UINT (*get)(LPWSTR, UINT);
        fs::path expected;
    };
    const Folder folders[] = {{GetWindowsDirectoryW, state.tmp.path / "Windows"},
                              {GetSystemDirectoryW, state.tmp.path / "Windows" / "System32"}};
    for (const Folder& f : folders) {
        SCOPED_TRACE(f.expected.string());
        const std::u16string want = W(f.expected);
        const UINT length = static_cast<UINT>(want.size());
        EXPECT_EQ(f.get(nullptr, 0), length + 1);
        struct Size {
            UINT size;
            UINT answer;  // too small: the size needed with the terminator, nothing copied
            bool copied;
        };
        const Size sizes[] = {{1, length + 1, false}, {length, length + 1, false}, {length + 1, length, true},
                              {length + 40, length, true}};
        for (const Size& s : sizes) {
            std::u16string buffer(s.size, u'#');
            EXPECT_EQ(f.get(buffer.data(), s.size), s.answer) << s.size;
            if (s.copied)
                EXPECT_EQ(std::u16string(buffer.c_str()), want) << s.size;
            else
                EXPECT_EQ(buffer, std::u16string(s.size, u'#')) << s.size;
        }
    }
}

// ---- The user ------------------------------------------------------------------------

TEST(User, IsTheProcesssUserAndCutBuffersAnswerTheSizeNeeded)
{
    const std::u16string want = Utf8ToWide(ExpectedUser());
    ASSERT_FALSE(want.empty());
    const DWORD needed = static_cast<DWORD>(want.size() + 1);
    struct Case {
        DWORD room;
        bool fits;
    };
    const Case cases[] = {{0, false}, {needed - 1, false}, {needed, true}, {needed + 20, true}};
    for (const Case& c : cases) {
        std::u16string buffer(c.room + 1, u'#');  // one guard character past the room
        DWORD size = c.room;
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(GetUserNameW(buffer.data(), &size), c.fits ? TRUE : FALSE) << c.room;
        EXPECT_EQ(size, needed) << c.room;  // copied or needed, with the terminator either way
        if (c.fits) {
            EXPECT_EQ(std::u16string(buffer.c_str()), want);
        } else {
            EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
            EXPECT_EQ(buffer, std::u16string(c.room + 1, u'#')) << c.room;
        }
    }
    DWORD size = 0;
    EXPECT_FALSE(GetUserNameW(nullptr, &size));
    EXPECT_EQ(size, needed);
    EXPECT_FALSE(GetUserNameW(nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(User, NamesTheProfileFolder)
{
    StateFolder state;
    char16_t name[256];
    DWORD size = 256;
    ASSERT_TRUE(GetUserNameW(name, &size));
    char16_t profile[MAX_PATH];
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_PROFILE | CSIDL_FLAG_CREATE, nullptr, 0, profile), S_OK);
    EXPECT_EQ(std::u16string(profile), W(state.tmp.path / "Users") + u"/" + name);
}

// ---- Modules -------------------------------------------------------------------------

// The platform library's file as the dynamic loader sees it.
fs::path PlatformLibrary()
{
    Dl_info info{};
    if (!dladdr(reinterpret_cast<const void*>(&GetModuleFileNameW), &info) || !info.dli_fname)
        return {};
    return fs::canonical(info.dli_fname);
}

std::u16string FileOf(HMODULE module)
{
    std::vector<char16_t> buffer(4096);
    const DWORD n = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
    return std::u16string(buffer.data(), n);
}

int FunctionInTheProgram() { return 7; }

TEST(Modules, ALibraryAndTheProgramAreFoundFromAnAddressInside)
{
    const fs::path library = PlatformLibrary();
    ASSERT_EQ(library.filename(), "libzntr_platform.so");
    struct Case {
        const void* address;
        fs::path file;
    };
    const Case cases[] = {
        {reinterpret_cast<const void*>(&GetUserNameW), library},
        {reinterpret_cast<const void*>(&SHGetFolderPathW), library},
        {reinterpret_cast<const void*>(&FunctionInTheProgram), fs::canonical("/proc/self/exe")},
    };
    for (const Case& c : cases) {
        HMODULE module = nullptr;
        ASSERT_TRUE(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                       static_cast<LPCWSTR>(c.address), &module))
            << c.file;
        ASSERT_NE(module, nullptr);
        EXPECT_EQ(FileOf(module), W(c.file));
    }
    EXPECT_EQ(FileOf(nullptr), W(fs::canonical("/proc/self/exe")));

    // A counted handle is the loader's own: freed with FreeLibrary, and the
    // same library as LoadLibraryW gives.
    HMODULE counted = nullptr;
    ASSERT_TRUE(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                   reinterpret_cast<LPCWSTR>(&GetUserNameW), &counted));
    const std::u16string path = W(library);
    HMODULE loaded = LoadLibraryW(path.c_str());
    EXPECT_EQ(loaded, counted);
    EXPECT_EQ(FileOf(loaded), path);
    EXPECT_TRUE(FreeLibrary(loaded));
    EXPECT_TRUE(FreeLibrary(counted));
}

TEST(Modules, AreRefusedWithoutAnAddressInsideALibrary)
{
    HMODULE module = reinterpret_cast<HMODULE>(std::uintptr_t{1});
    EXPECT_FALSE(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, nullptr, &module));
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(module, nullptr);
    EXPECT_FALSE(GetModuleHandleExW(0, u"libzntr_platform.so", &module));  // only the address form is served
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&GetUserNameW),
                                    nullptr));
}

TEST(Modules, FileNamesAreCutAsThePlatformCutsThem)
{
    HMODULE module = nullptr;
    ASSERT_TRUE(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                   reinterpret_cast<LPCWSTR>(&GetUserNameW), &module));
    for (const HMODULE m : {module, HMODULE{nullptr}}) {
        const std::u16string full = FileOf(m);
        ASSERT_GT(full.size(), 2u);
        const DWORD length = static_cast<DWORD>(full.size());
        struct Case {
            DWORD size;
            DWORD answer;
            bool cut;  // nSize - 1 characters and a terminator, ERROR_INSUFFICIENT_BUFFER
        };
        const Case cases[] = {{1, 1, true}, {2, 2, true}, {length, length, true}, {length + 1, length, false},
                              {length + 9, length, false}};
        for (const Case& c : cases) {
            std::u16string buffer(c.size + 1, u'#');
            SetLastError(ERROR_SUCCESS);
            EXPECT_EQ(GetModuleFileNameW(m, buffer.data(), c.size), c.answer) << c.size;
            const std::u16string expected = c.cut ? full.substr(0, c.size - 1) : full;
            EXPECT_EQ(std::u16string(buffer.c_str()), expected) << c.size;
            EXPECT_EQ(buffer[c.size], u'#') << c.size;  // nothing written past the buffer
            if (c.cut) {
                EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER) << c.size;
            }
        }
        char16_t untouched = u'#';
        EXPECT_EQ(GetModuleFileNameW(m, &untouched, 0), 0u);
        EXPECT_EQ(untouched, u'#');
    }
}

// ---- Access lists ----------------------------------------------------------------------

// What the driver does to its user INI file: Everyone given read and write,
// merged into the file's list.
DWORD GiveEveryone(const fs::path& file, PSID everyone, DWORD rights, ACCESS_MODE mode = SET_ACCESS,
                   DWORD inheritance = NO_INHERITANCE)
{
    const std::u16string path = W(file);
    PACL old = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD result = GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                         &old, nullptr, &descriptor);
    if (result != ERROR_SUCCESS)
        return result;
    EXPLICIT_ACCESS_W access{};
    access.grfAccessPermissions = rights;
    access.grfAccessMode = mode;
    access.grfInheritance = inheritance;
    access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    access.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    access.Trustee.ptstrName = static_cast<LPWSTR>(everyone);
    PACL merged = nullptr;
    result = SetEntriesInAclW(1, &access, old, &merged);
    if (result == ERROR_SUCCESS) {
        std::u16string target = path;
        result = SetNamedSecurityInfoW(target.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                       merged, nullptr);
        LocalFree(merged);
    }
    LocalFree(descriptor);
    return result;
}

struct WorldSid {
    PSID sid = nullptr;
    WorldSid()
    {
        SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
        AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &sid);
    }
    ~WorldSid() { FreeSid(sid); }
    WorldSid(const WorldSid&) = delete;
    WorldSid& operator=(const WorldSid&) = delete;
};

TEST(AccessLists, EveryoneReadingAndWritingOpensTheFileToAllUsersAndKeepsTheOwnersOtherBits)
{
    TempFolder tmp;
    WorldSid everyone;
    ASSERT_NE(everyone.sid, nullptr);
    struct Case {
        unsigned before;
        DWORD rights;
        unsigned after;
    };
    const Case cases[] = {
        {0600, GENERIC_READ | GENERIC_WRITE, 0666},
        {0400, GENERIC_READ | GENERIC_WRITE, 0666},  // the owner is one of Everyone
        {0700, GENERIC_READ | GENERIC_WRITE, 0766},  // the owner's execute bit stays
        {0755, GENERIC_READ | GENERIC_WRITE, 0766},  // Everyone's rights are set, not added to
        {0666, GENERIC_READ | GENERIC_WRITE, 0666},  // again: nothing changes
        {0666, GENERIC_READ, 0644},
    };
    for (const Case& c : cases) {
        const fs::path file = tmp.path / "ZNTR.ini";
        fs::remove(file);
        std::ofstream(file) << "x";
        ASSERT_EQ(::chmod(file.c_str(), c.before), 0);
        EXPECT_EQ(GiveEveryone(file, everyone.sid, c.rights), ERROR_SUCCESS) << std::oct << c.before;
        EXPECT_EQ(ModeOf(file), c.after) << std::oct << c.before;
    }
}

TEST(AccessLists, EveryoneIsKnownHoweverItsSidWasMade)
{
    TempFolder tmp;
    const fs::path file = tmp.path / "ZNTR.ini";
    std::ofstream(file) << "x";

    DWORD size = 0;
    EXPECT_FALSE(CreateWellKnownSid(WinWorldSid, nullptr, nullptr, &size));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(size, 12u);  // revision, count, authority, one sub-authority
    alignas(4) BYTE wellKnown[SECURITY_MAX_SID_SIZE];
    size = sizeof wellKnown;
    ASSERT_TRUE(CreateWellKnownSid(WinWorldSid, nullptr, wellKnown, &size));
    EXPECT_EQ(size, 12u);
    // S-1-1-0 written out as the platform lays a SID out.
    alignas(4) const BYTE byHand[12] = {1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(wellKnown, byHand, sizeof byHand), 0);

    for (PSID sid : {static_cast<PSID>(wellKnown), const_cast<PSID>(static_cast<const void*>(byHand))}) {
        ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
        EXPECT_EQ(GiveEveryone(file, sid, GENERIC_READ | GENERIC_WRITE), ERROR_SUCCESS);
        EXPECT_EQ(ModeOf(file), 0666u);
    }
}

TEST(AccessLists, OtherTrusteesRightsAndModesAreRefusedAndLeaveTheFileAlone)
{
    TempFolder tmp;
    const fs::path file = tmp.path / "ZNTR.ini";
    std::ofstream(file) << "x";
    ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
    WorldSid everyone;
    SID_IDENTIFIER_AUTHORITY nt{{0, 0, 0, 0, 0, 5}};
    PSID administrators = nullptr;
    ASSERT_TRUE(AllocateAndInitializeSid(&nt, 2, 32, 544, 0, 0, 0, 0, 0, 0, &administrators));
    PSID worldWithTwo = nullptr;  // the world authority, but not S-1-1-0
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    ASSERT_TRUE(AllocateAndInitializeSid(&world, 2, SECURITY_WORLD_RID, 1, 0, 0, 0, 0, 0, 0, &worldWithTwo));
    struct Case {
        const char* what;
        PSID sid;
        DWORD rights;
        ACCESS_MODE mode;
        DWORD inheritance;
    };
    const Case cases[] = {
        {"another group", administrators, GENERIC_READ | GENERIC_WRITE, SET_ACCESS, NO_INHERITANCE},
        {"a longer world SID", worldWithTwo, GENERIC_READ | GENERIC_WRITE, SET_ACCESS, NO_INHERITANCE},
        {"execute", everyone.sid, GENERIC_READ | GENERIC_EXECUTE, SET_ACCESS, NO_INHERITANCE},
        {"all rights", everyone.sid, GENERIC_ALL, SET_ACCESS, NO_INHERITANCE},
        {"a denial", everyone.sid, GENERIC_WRITE, DENY_ACCESS, NO_INHERITANCE},
        {"inheritance", everyone.sid, GENERIC_READ | GENERIC_WRITE, SET_ACCESS, 0x3},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(GiveEveryone(file, c.sid, c.rights, c.mode, c.inheritance), ERROR_NOT_SUPPORTED) << c.what;
        EXPECT_EQ(ModeOf(file), 0600u) << c.what;
    }
    FreeSid(worldWithTwo);
    FreeSid(administrators);

    EXPECT_EQ(GiveEveryone(tmp.path / "missing.ini", everyone.sid, GENERIC_READ | GENERIC_WRITE), ERROR_FILE_NOT_FOUND);
    // Callers' "\" paths are made native.
    const std::u16string joined = W(tmp.path) + u"\\ZNTR.ini";
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    EXPECT_EQ(GetNamedSecurityInfoW(joined.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                                    nullptr, &descriptor),
              ERROR_SUCCESS);
    EXPECT_NE(dacl, nullptr);
    LocalFree(descriptor);
}

} // namespace
