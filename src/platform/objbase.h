// COM runtime: apartments, the in-process class table, task memory, GUID strings.
#pragma once

#include "platform/objidl.h"

enum COINIT : DWORD { COINIT_MULTITHREADED = 0x0, COINIT_APARTMENTTHREADED = 0x2 };
enum CLSCTX : DWORD { CLSCTX_INPROC_SERVER = 0x1, CLSCTX_INPROC_HANDLER = 0x2, CLSCTX_ALL = 0x17 };
enum REGCLS : DWORD { REGCLS_SINGLEUSE = 0, REGCLS_MULTIPLEUSE = 1 };

// Enters COM on the calling thread. S_OK the first time, S_FALSE when already
// entered in the same mode, RPC_E_CHANGED_MODE for the other mode.
HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit);
// Leaves COM once for every successful CoInitializeEx.
void CoUninitialize();

// Makes a class object reachable by CoCreateInstance (process-wide).
HRESULT CoRegisterClassObject(REFCLSID rclsid, IUnknown* pUnk, DWORD dwClsContext, DWORD flags, DWORD* lpdwRegister);
HRESULT CoRevokeClassObject(DWORD dwRegister);

// Creates an object through the class table. CO_E_NOTINITIALIZED outside COM,
// REGDB_E_CLASSNOTREG for an unknown class.
HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID* ppv);

LPVOID CoTaskMemAlloc(SIZE_T cb);
LPVOID CoTaskMemRealloc(LPVOID pv, SIZE_T cb);
void CoTaskMemFree(LPVOID pv);

// The current time as a FILETIME; tests replace the clock.
HRESULT CoFileTimeNow(FILETIME* lpFileTime);
using FileTimeSource = FILETIME (*)();
// Replaces the clock behind CoFileTimeNow (nullptr restores the system clock).
void SetFileTimeSourceForTesting(FileTimeSource source);

// A growable stream in memory. Only new memory is supported (hGlobal null);
// the memory always belongs to the stream.
HRESULT CreateStreamOnHGlobal(HGLOBAL hGlobal, BOOL fDeleteOnRelease, IStream** ppstm);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" into lpsz; answers the characters
// written including the terminator, or 0 when cchMax is too small.
int StringFromGUID2(REFGUID rguid, LPWSTR lpsz, int cchMax);
HRESULT CLSIDFromString(LPCWSTR lpsz, CLSID* pclsid);
HRESULT IIDFromString(LPCWSTR lpsz, IID* lpiid);
