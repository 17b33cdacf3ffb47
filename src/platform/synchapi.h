// Kernel events and the waits on them.
#pragma once

#include "platform/winerror.h"

inline constexpr DWORD INFINITE = 0xFFFFFFFFu;
inline constexpr DWORD WAIT_OBJECT_0 = 0;
inline constexpr DWORD WAIT_TIMEOUT = 258;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;

struct SECURITY_ATTRIBUTES;

// An unnamed event (lpName must be null). Auto-reset events release one
// waiter and reset themselves.
HANDLE CreateEventW(SECURITY_ATTRIBUTES* lpEventAttributes, BOOL bManualReset, BOOL bInitialState, LPCWSTR lpName);
BOOL SetEvent(HANDLE hEvent);
BOOL ResetEvent(HANDLE hEvent);
// WAIT_OBJECT_0, WAIT_TIMEOUT, or WAIT_FAILED for a bad handle.
DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
BOOL CloseHandle(HANDLE hObject);

// The calling thread's last error (set by the calls of the platform stand-ins).
DWORD GetLastError();
void SetLastError(DWORD dwErrCode);
