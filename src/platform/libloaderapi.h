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
// The dynamic loader's text for the last failed load on this thread.
const char* GetLoadErrorText();

// A library's entry point, run by the loader on attach and detach.
#define ZNTR_DLL_EXPORT extern "C" __attribute__((visibility("default")))
