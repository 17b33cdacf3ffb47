// The platform stand-ins: COM core, BSTR and VARIANT, events, UUIDs, strings.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <thread>

#include "xps_fixture.h"

#include "platform/comobject.h"
#include "platform/aclapi.h"
#include "platform/fileapi.h"
#include "platform/libloaderapi.h"
#include "platform/shlobj.h"
#include "platform/sysinfoapi.h"
#include "platform/objbase.h"
#include "platform/oleauto.h"
#include "platform/rpc.h"
#include "platform/stringapiset.h"
#include "platform/synchapi.h"

namespace {

TEST(Guid, ParsesAndFormatsTheRegistryForm)
{
    struct Case {
        const char* text;
        bool valid;
    };
    const Case cases[] = {
        {"{71AEA54A-9F57-4829-827C-1764A32B79E7}", true},
        {"71aea54a-9f57-4829-827c-1764a32b79e7", true},
        {"{71AEA54A-9F57-4829-827C-1764A32B79E7", false},
        {"{71AEA54A-9F57-4829-827C-1764A32B79EG}", false},
        {"{71AEA54A9F57-4829-827C-1764A32B79E7-}", false},
        {"", false},
    };
    for (const Case& c : cases) {
        const auto g = ParseGuid(std::string_view(c.text));
        EXPECT_EQ(g.has_value(), c.valid) << c.text;
        if (g) {
            EXPECT_EQ(GuidToString(*g), "{71AEA54A-9F57-4829-827C-1764A32B79E7}");
        }
    }
    constexpr GUID known = MakeGuid("CDB62FC0-8BED-434E-86FB-A2CAE55F19EA");
    static_assert(known.Data1 == 0xCDB62FC0 && known.Data2 == 0x8BED && known.Data4[0] == 0x86 && known.Data4[7] == 0xEA);

    WCHAR buffer[39];
    EXPECT_EQ(StringFromGUID2(known, buffer, 39), 39);
    EXPECT_EQ(std::u16string(buffer), u"{CDB62FC0-8BED-434E-86FB-A2CAE55F19EA}");
    EXPECT_EQ(StringFromGUID2(known, buffer, 38), 0);
    CLSID parsed{};
    EXPECT_EQ(CLSIDFromString(buffer, &parsed), S_OK);
    EXPECT_EQ(parsed, known);
    EXPECT_EQ(CLSIDFromString(u"CDB62FC0-8BED-434E-86FB-A2CAE55F19EA", &parsed), E_INVALIDARG);
}

TEST(HResult, Win32CodesMapAsThePlatformDoes)
{
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_NOT_FOUND), static_cast<HRESULT>(0x80070490));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), static_cast<HRESULT>(0x8007007A));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_SUCCESS), S_OK);
    EXPECT_TRUE(FAILED(E_PENDING));
    EXPECT_EQ(E_PENDING, static_cast<HRESULT>(0x8000000A));
    EXPECT_TRUE(SUCCEEDED(S_FALSE));
}

TEST(Bstr, KeepsLengthAndEmbeddedZeros)
{
    const char16_t text[] = u"a\0b";
    BSTR b = SysAllocStringLen(text, 3);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(SysStringLen(b), 3u);
    EXPECT_EQ(SysStringByteLen(b), 6u);
    EXPECT_EQ(b[1], u'\0');
    EXPECT_EQ(b[3], u'\0');  // terminated
    SysFreeString(b);

    BSTR empty = SysAllocString(u"");
    EXPECT_EQ(SysStringLen(empty), 0u);
    SysFreeString(empty);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    SysFreeString(nullptr);
}

class Counted final : public ComObject<IUnknown> {};

TEST(Variant, CopyAndClearOwnTheirValues)
{
    ComPtr<Counted> object = MakeComObject<Counted>();
    ASSERT_TRUE(object);
    VARIANT a;
    VariantInit(&a);
    a.vt = VT_UNKNOWN;
    a.punkVal = object.Get();
    object->AddRef();
    VARIANT b;
    VariantInit(&b);
    ASSERT_EQ(VariantCopy(&b, &a), S_OK);
    EXPECT_EQ(object->RefCountForTesting(), 3u);
    VariantClear(&a);
    VariantClear(&b);
    EXPECT_EQ(object->RefCountForTesting(), 1u);
    EXPECT_EQ(b.vt, VT_EMPTY);

    VARIANT s;
    VariantInit(&s);
    s.vt = VT_BSTR;
    s.bstrVal = SysAllocString(u"PrinterName");
    VARIANT t;
    VariantInit(&t);
    ASSERT_EQ(VariantCopy(&t, &s), S_OK);
    EXPECT_NE(t.bstrVal, s.bstrVal);
    EXPECT_EQ(std::u16string(t.bstrVal), u"PrinterName");
    VariantClear(&s);
    VariantClear(&t);

    BYTE record[4] = {};
    VARIANT r;
    VariantInit(&r);
    r.vt = VT_BYREF | VT_UI1;
    r.pbVal = record;
    VARIANT rc;
    VariantInit(&rc);
    ASSERT_EQ(VariantCopy(&rc, &r), S_OK);
    EXPECT_EQ(rc.vt, 0x4011);
    EXPECT_EQ(rc.pbVal, record);  // by reference: the address, not the bytes
}

TEST(ComObject, QueryInterfaceAnswersDeclaredInterfacesAndBases)
{
    ComPtr<Counted> object = MakeComObject<Counted>();
    ASSERT_TRUE(object);
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(object->QueryInterface(IID_IClassFactory, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(object->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    ComPtr<IUnknown> unknown;
    EXPECT_EQ(object.As(&unknown), S_OK);
    EXPECT_EQ(object->RefCountForTesting(), 2u);
}

class Factory final : public ComObject<IClassFactory> {
public:
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override
    {
        if (outer)
            return CLASS_E_NOAGGREGATION;
        return MakeComObject<Counted>()->QueryInterface(riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

TEST(Com, ApartmentsAndTheClassTable)
{
    constexpr CLSID kClass = MakeGuid("0F8D4A1C-2B7E-4C55-9A0E-6B1D3C2E4F70");
    void* out = nullptr;
    std::thread([&] {
        // Outside COM nothing can be created.
        EXPECT_EQ(CoCreateInstance(kClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &out), CO_E_NOTINITIALIZED);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
        EXPECT_EQ(CoCreateInstance(kClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &out), REGDB_E_CLASSNOTREG);

        ComPtr<Factory> factory = MakeComObject<Factory>();
        DWORD cookie = 0;
        ASSERT_EQ(CoRegisterClassObject(kClass, factory->AsUnknown(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie), S_OK);
        ASSERT_EQ(CoCreateInstance(kClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &out), S_OK);
        static_cast<IUnknown*>(out)->Release();
        EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
        EXPECT_EQ(factory->RefCountForTesting(), 1u);
        CoUninitialize();
        CoUninitialize();
    }).join();
}

TEST(Events, AutoResetReleasesOneWaitAndTimesOut)
{
    HANDLE e = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
    std::thread signaller([e] { SetEvent(e); });
    EXPECT_EQ(WaitForSingleObject(e, INFINITE), WAIT_OBJECT_0);
    signaller.join();
    EXPECT_EQ(WaitForSingleObject(e, 10), WAIT_TIMEOUT);  // reset by the first wait
    EXPECT_TRUE(CloseHandle(e));

    HANDLE manual = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ResetEvent(manual));
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT);
    CloseHandle(manual);

    // Handles never handed out, or already closed, are refused.
    int notAnEvent = 0;
    EXPECT_EQ(WaitForSingleObject(&notAnEvent, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(SetEvent(manual));
    EXPECT_FALSE(CloseHandle(manual));
}

TEST(Uuid, GeneratorIsInjectableAndFormattedInLowerCase)
{
    SetUuidGeneratorForTesting([] { return MakeGuid("0123ABCD-4567-89EF-0123-456789ABCDEF"); });
    UUID u;
    ASSERT_EQ(UuidCreate(&u), RPC_S_OK);
    RPC_WSTR text = nullptr;
    ASSERT_EQ(UuidToStringW(&u, &text), RPC_S_OK);
    EXPECT_EQ(std::u16string(text), u"0123abcd-4567-89ef-0123-456789abcdef");
    RpcStringFreeW(&text);
    EXPECT_EQ(text, nullptr);
    SetUuidGeneratorForTesting(nullptr);

    UUID a, b;
    UuidCreate(&a);
    UuidCreate(&b);
    EXPECT_NE(a, b);
    EXPECT_EQ(a.Data3 >> 12, 4);  // version 4
}

TEST(Strings, Utf8AndUtf16ConvertBothWays)
{
    struct Case {
        std::string utf8;
        std::u16string utf16;
    };
    const Case cases[] = {
        {"ascii", u"ascii"},
        {"\xC3\xA9t\xC3\xA9", u"\u00E9t\u00E9"},
        {"\xF0\x9D\x91\x8E", u"\U0001D44E"},  // a supplementary-plane letter as a surrogate pair
        {"", u""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Utf8ToWide(c.utf8), c.utf16);
        EXPECT_EQ(WideToUtf8(c.utf16), c.utf8);
    }
    EXPECT_EQ(Utf8ToWide("\xFF" "a"), u"\uFFFDa");        // invalid byte
    EXPECT_EQ(Utf8ToWide("\xC0\xAF"), u"\uFFFD");          // overlong
    EXPECT_EQ(WideToUtf8(u"\xD800x"), "\xEF\xBF\xBDx");     // lone surrogate

    // The size query, then the conversion; a short buffer fails.
    const int needed = MultiByteToWideChar(CP_UTF8, 0, "h\xC3\xA9", -1, nullptr, 0);
    EXPECT_EQ(needed, 3);
    WCHAR out[3];
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "h\xC3\xA9", -1, out, 3), 3);
    EXPECT_EQ(std::u16string(out), u"h\u00E9");
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "h\xC3\xA9", -1, out, 2), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}

TEST(Strings, OrdinalComparisonFoldsOnlyAsciiLetters)
{
    struct Case {
        const char16_t* a;
        int countA;
        const char16_t* b;
        int countB;
        BOOL ignoreCase;
        int result;
    };
    const Case cases[] = {
        {u"Halvane QV-2040", -1, u"HALVANE qv-2040", -1, TRUE, CSTR_EQUAL},
        {u"Halvane QV-2040", -1, u"HALVANE qv-2040", -1, FALSE, CSTR_GREATER_THAN},
        {u"abc", -1, u"abd", -1, TRUE, CSTR_LESS_THAN},
        {u"ab", -1, u"abc", -1, TRUE, CSTR_LESS_THAN},
        {u"abcdef", 3, u"ABCxyz", 3, TRUE, CSTR_EQUAL},
        {u"a\0b", 3, u"a\0c", 3, FALSE, CSTR_LESS_THAN},
        {u"\u00e9", -1, u"\u00c9", -1, TRUE, CSTR_GREATER_THAN},  // only ASCII letters fold
        {u"[", -1, u"a", -1, TRUE, CSTR_GREATER_THAN},  // compared upper-cased: "[" comes after "A"
    };
    for (const Case& c : cases)
        EXPECT_EQ(CompareStringOrdinal(c.a, c.countA, c.b, c.countB, c.ignoreCase), c.result);
    SetLastError(0);
    EXPECT_EQ(CompareStringOrdinal(nullptr, -1, u"a", -1, TRUE), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(CompareStringOrdinal(u"a", -2, u"a", -1, TRUE), 0);
}

TEST(FileTime, ClockIsInjectable)
{
    SetFileTimeSourceForTesting([] { return FILETIME{42, 7}; });
    FILETIME t{};
    ASSERT_EQ(CoFileTimeNow(&t), S_OK);
    EXPECT_EQ(t.dwLowDateTime, 42u);
    EXPECT_EQ(t.dwHighDateTime, 7u);
    SetFileTimeSourceForTesting(nullptr);
    CoFileTimeNow(&t);
    EXPECT_GT(t.dwHighDateTime, 30000000u);  // after the year 2000
}

TEST(Files, AreMadeWrittenReadAndClosedByHandle)
{
    TempFolder tmp;
    const std::u16string path = Utf8ToWide(tmp.path.string()) + u"\\made.ini";  // callers join with "\\"
    EXPECT_EQ(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(h, "\xFF\xFE", 2, &written, nullptr));
    EXPECT_EQ(written, 2u);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_FALSE(CloseHandle(h));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(WriteFile(h, "x", 1, &written, nullptr));

    EXPECT_EQ(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
    EXPECT_EQ(GetFileAttributesW(path.c_str()), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(GetFileAttributesW(Utf8ToWide(tmp.path.string()).c_str()), FILE_ATTRIBUTE_DIRECTORY);

    h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    char data[8] = {};
    DWORD read = 0;
    EXPECT_TRUE(ReadFile(h, data, sizeof data, &read, nullptr));
    EXPECT_EQ(std::string(data, read), "\xFF\xFE");
    EXPECT_TRUE(ReadFile(h, data, sizeof data, &read, nullptr));
    EXPECT_EQ(read, 0u);  // the end
    CloseHandle(h);

    const std::u16string missing = Utf8ToWide(tmp.path.string()) + u"/no/such.ini";
    EXPECT_EQ(CreateFileW(missing.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    const std::u16string absent = Utf8ToWide(tmp.path.string()) + u"/absent.ini";
    EXPECT_EQ(CreateFileW(absent.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST(Folders, LiveUnderTheStateRootAndAreMadeOnRequest)
{
    TempFolder state;
    setenv("ZNTR_STATE_DIR", state.path.c_str(), 1);
    struct Case {
        int csidl;
        const char* under;  // the end of the path below the state root
    };
    const Case cases[] = {{CSIDL_COMMON_APPDATA, "/ProgramData"}, {CSIDL_APPDATA, "/AppData/Roaming"},
                          {CSIDL_LOCAL_APPDATA, "/AppData/Local"}, {CSIDL_WINDOWS, "/Windows"},
                          {CSIDL_SYSTEM, "/Windows/System32"}};
    for (const Case& c : cases) {
        char16_t path[MAX_PATH];
        EXPECT_EQ(SHGetFolderPathW(nullptr, c.csidl, nullptr, 0, path), S_FALSE) << c.under;  // not there yet
        EXPECT_EQ(SHGetFolderPathW(nullptr, c.csidl | CSIDL_FLAG_CREATE, nullptr, 0, path), S_OK) << c.under;
        const std::string got = WideToUtf8(path);
        EXPECT_EQ(got.rfind(state.path.string(), 0), 0u) << got;
        EXPECT_EQ(got.substr(got.size() - std::strlen(c.under)), c.under);
        EXPECT_TRUE(std::filesystem::is_directory(got));
    }
    char16_t path[MAX_PATH];
    EXPECT_EQ(SHGetFolderPathW(nullptr, 0x7777, nullptr, 0, path), E_INVALIDARG);

    const std::u16string deep = Utf8ToWide(state.path.string()) + u"\\Halvane\\Drv\\ZNTR";
    EXPECT_EQ(SHCreateDirectoryExW(nullptr, deep.c_str(), nullptr), static_cast<int>(ERROR_SUCCESS));
    EXPECT_TRUE(std::filesystem::is_directory(state.path / "Halvane" / "Drv" / "ZNTR"));
    EXPECT_EQ(SHCreateDirectoryExW(nullptr, deep.c_str(), nullptr), static_cast<int>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(SHCreateDirectoryExW(nullptr, u"", nullptr), static_cast<int>(ERROR_BAD_PATHNAME));

    const UINT needed = GetSystemDirectoryW(nullptr, 0);
    const std::string system = (state.path / "Windows" / "System32").string();
    EXPECT_EQ(needed, system.size() + 1);
    std::u16string buffer(needed, u'x');
    EXPECT_EQ(GetSystemDirectoryW(buffer.data(), needed), needed - 1);
    EXPECT_EQ(WideToUtf8(buffer.c_str()), system);
    unsetenv("ZNTR_STATE_DIR");
}

TEST(Modules, AreFoundFromAnAddressInsideThem)
{
    HMODULE module = nullptr;
    ASSERT_TRUE(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                   reinterpret_cast<LPCWSTR>(&SysAllocString), &module));
    char16_t name[512];
    const DWORD n = GetModuleFileNameW(module, name, 512);
    ASSERT_GT(n, 0u);
    EXPECT_EQ(std::filesystem::path(WideToUtf8(std::u16string(name, n))).filename(), "libzntr_platform.so");
    char16_t cut[5];
    EXPECT_EQ(GetModuleFileNameW(module, cut, 5), 5u);  // cut short: the size, with a terminator
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(std::u16string(cut), std::u16string(name, 4));
    const DWORD self = GetModuleFileNameW(nullptr, name, 512);
    EXPECT_EQ(std::filesystem::path(WideToUtf8(std::u16string(name, self))).filename(), "platform_test");
}

TEST(AccessLists, EveryoneMayReadAndWriteIsTheFilesModeForAllUsers)
{
    TempFolder tmp;
    const std::string file = tmp / "ZNTR.ini";
    std::ofstream(file) << "x";
    std::filesystem::permissions(file, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    const std::u16string path = Utf8ToWide(file);

    PACL old = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &old,
                                    nullptr, &descriptor),
              ERROR_SUCCESS);
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    ASSERT_TRUE(AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone));
    EXPLICIT_ACCESS_W access{};
    access.grfAccessPermissions = GENERIC_READ | GENERIC_WRITE;
    access.grfAccessMode = SET_ACCESS;
    access.grfInheritance = NO_INHERITANCE;
    access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    access.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    access.Trustee.ptstrName = static_cast<LPWSTR>(everyone);
    PACL merged = nullptr;
    ASSERT_EQ(SetEntriesInAclW(1, &access, old, &merged), ERROR_SUCCESS);
    std::u16string target = path;
    EXPECT_EQ(SetNamedSecurityInfoW(target.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, merged,
                                    nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(static_cast<unsigned>(std::filesystem::status(file).permissions()) & 0777, 0666u);

    // Other trustees are not served.
    PSID other = nullptr;
    ASSERT_TRUE(AllocateAndInitializeSid(&world, 2, 5, 32, 0, 0, 0, 0, 0, 0, &other));
    access.Trustee.ptstrName = static_cast<LPWSTR>(other);
    PACL refused = nullptr;
    EXPECT_EQ(SetEntriesInAclW(1, &access, old, &refused), ERROR_NOT_SUPPORTED);
    FreeSid(other);
    FreeSid(everyone);
    LocalFree(merged);
    LocalFree(descriptor);
}

} // namespace
