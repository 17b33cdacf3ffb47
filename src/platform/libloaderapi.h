// Loading libraries by name and finding their exports.
#pragma once

#include "platform/winerror.h"

inline constexpr DWORD DLL_PROCESS_DETACH = 0;
inline constexpr DWORD DLL_PROCESS_ATTACH = 1;
inline constexpr DWORD DLL_THREAD_ATTACH = 2;
inline constexpr DWORD DLL_THREAD_DETACH = 3;

using FARPROC = void (*)();

// Loads a shared library (a path, or a name the dynamic loader searches for).
// Null on failure, with the loader's reason in GetLoadErrorText.
HMODULE LoadLibraryW(LPCWSTR lpLibFileName);
FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
BOOL FreeLibrary(HMODULE hLibModule);
BOOL DisableThreadLibraryCalls(HMODULE hLibModule);
// The file of a loaded library (a null module: the program), as a full path:
// copied with a terminator, cut to nSize - 1 characters with
// ERROR_INSUFFICIENT_BUFFER (answering nSize); 0 on failure.
DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize);

inline constexpr DWORD GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT = 0x2;
inline constexpr DWORD GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS = 0x4;
// The library that holds an address (FROM_ADDRESS: lpModuleName is the
// address); only that form is served. Without UNCHANGED_REFCOUNT the caller
// frees the handle with FreeLibrary.
BOOL GetModuleHandleExW(DWORD dwFlags, LPCWSTR lpModuleName, HMODULE* phModule);

// The dynamic loader's text for the last failed load on this thread.
const char* GetLoadErrorText();

// A library's entry point, run by the loader on attach and detach.
#define ZNTR_DLL_EXPORT extern "C" __attribute__((visibility("default")))
