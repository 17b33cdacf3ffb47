#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/comptr.h"
#include "platform/objbase.h"

namespace {

struct Apartment {
    int depth = 0;
    DWORD mode = 0;
};
thread_local Apartment t_apartment;

struct ClassEntry {
    DWORD cookie;
    CLSID clsid;
    ComPtr<IUnknown> object;
};

struct ClassTable {
    std::mutex lock;
    std::vector<ClassEntry> entries;
    DWORD nextCookie = 1;
};

// Never destroyed, so libraries may revoke their classes from their own
// destructors at exit.
ClassTable& Classes()
{
    static ClassTable* table = new ClassTable;
    return *table;
}

std::atomic<FileTimeSource> g_fileTimeSource{nullptr};

FILETIME SystemFileTime()
{
    // 100 ns ticks between 1601-01-01 and 1970-01-01.
    constexpr ULONGLONG kEpochDelta = 116444736000000000ull;
    const auto since1970 = std::chrono::system_clock::now().time_since_epoch();
    const ULONGLONG ticks =
        kEpochDelta + static_cast<ULONGLONG>(std::chrono::duration_cast<std::chrono::nanoseconds>(since1970).count() / 100);
    return FILETIME{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
}

} // namespace

HRESULT CoInitializeEx(LPVOID, DWORD dwCoInit)
{
    const DWORD mode = dwCoInit & COINIT_APARTMENTTHREADED;
    Apartment& a = t_apartment;
    if (a.depth > 0 && a.mode != mode)
        return RPC_E_CHANGED_MODE;
    a.mode = mode;
    return a.depth++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize()
{
    if (t_apartment.depth > 0)
        --t_apartment.depth;
}

HRESULT CoRegisterClassObject(REFCLSID rclsid, IUnknown* pUnk, DWORD, DWORD, DWORD* lpdwRegister)
{
    if (!pUnk || !lpdwRegister)
        return E_INVALIDARG;
    ClassTable& t = Classes();
    std::lock_guard guard(t.lock);
    *lpdwRegister = t.nextCookie++;
    t.entries.push_back(ClassEntry{*lpdwRegister, rclsid, ComPtr<IUnknown>(pUnk)});
    return S_OK;
}

HRESULT CoRevokeClassObject(DWORD dwRegister)
{
    ComPtr<IUnknown> released;  // released outside the lock
    ClassTable& t = Classes();
    std::lock_guard guard(t.lock);
    for (auto it = t.entries.begin(); it != t.entries.end(); ++it) {
        if (it->cookie == dwRegister) {
            released = std::move(it->object);
            t.entries.erase(it);
            return S_OK;
        }
    }
    return E_INVALIDARG;
}

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD, REFIID riid, LPVOID* ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (t_apartment.depth == 0)
        return CO_E_NOTINITIALIZED;
    ComPtr<IUnknown> object;
    {
        ClassTable& t = Classes();
        std::lock_guard guard(t.lock);
        for (const auto& e : t.entries)
            if (e.clsid == rclsid) {
                object = e.object;
                break;
            }
    }
    if (!object)
        return REGDB_E_CLASSNOTREG;
    ComPtr<IClassFactory> factory;
    if (HRESULT hr = object.As(&factory); FAILED(hr))
        return hr;
    return factory->CreateInstance(pUnkOuter, riid, ppv);
}

LPVOID CoTaskMemAlloc(SIZE_T cb) { return std::malloc(cb == 0 ? 1 : cb); }

LPVOID CoTaskMemRealloc(LPVOID pv, SIZE_T cb) { return std::realloc(pv, cb == 0 ? 1 : cb); }

void CoTaskMemFree(LPVOID pv) { std::free(pv); }

HRESULT CoFileTimeNow(FILETIME* lpFileTime)
{
    if (!lpFileTime)
        return E_INVALIDARG;
    const FileTimeSource source = g_fileTimeSource.load();
    *lpFileTime = source ? source() : SystemFileTime();
    return S_OK;
}

void SetFileTimeSourceForTesting(FileTimeSource source) { g_fileTimeSource.store(source); }

int StringFromGUID2(REFGUID rguid, LPWSTR lpsz, int cchMax)
{
    const std::u16string text = GuidToWideString(rguid);
    const int needed = static_cast<int>(text.size()) + 1;
    if (!lpsz || cchMax < needed)
        return 0;
    std::memcpy(lpsz, text.c_str(), sizeof(WCHAR) * static_cast<std::size_t>(needed));
    return needed;
}

HRESULT CLSIDFromString(LPCWSTR lpsz, CLSID* pclsid)
{
    if (!lpsz || !pclsid)
        return E_INVALIDARG;
    std::u16string_view text(lpsz);
    if (text.size() != 38)  // the registry form requires braces
        return E_INVALIDARG;
    const auto g = ParseGuid(text);
    if (!g)
        return E_INVALIDARG;
    *pclsid = *g;
    return S_OK;
}

HRESULT IIDFromString(LPCWSTR lpsz, IID* lpiid) { return CLSIDFromString(lpsz, lpiid); }
