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

// ---- Resource libraries ----------------------------------------------------------
//
// A resource library is a file in the platform's resource library format
// (made by zntr-rc from a readable source, see tools/zntr_rc.cpp): numbered
// resources of numbered types, each in one or more languages. LoadLibraryW
// and LoadLibraryExW load such a file (known by its magic; a name may join
// folders with "\") as a module that has resources and no exports: it is
// read whole at load, a corrupt one is refused with ERROR_BAD_EXE_FORMAT,
// the same file loaded twice is one module with two references.
// GetProcAddress answers null (ERROR_PROC_NOT_FOUND), GetModuleFileNameW the
// file's full path, and FreeLibrary frees it like any library (a freed
// handle: FALSE, ERROR_INVALID_HANDLE). Shared libraries have no resources
// here (ERROR_RESOURCE_DATA_NOT_FOUND).

inline constexpr DWORD LOAD_LIBRARY_AS_DATAFILE = 0x00000002;
// A shared library, or a resource library; LOAD_LIBRARY_AS_DATAFILE accepts
// only a resource library (ERROR_BAD_EXE_FORMAT for anything else). hFile
// must be null.
HMODULE LoadLibraryExW(LPCWSTR lpLibFileName, HANDLE hFile, DWORD dwFlags);

using HRSRC = struct HRSRC__*;
// Resources are found by number only (MAKEINTRESOURCEW); a name given as a
// string is not found (ERROR_RESOURCE_NAME_NOT_FOUND), nor is a type given as
// one (ERROR_RESOURCE_TYPE_NOT_FOUND). FindResourceExW takes the exact
// language (ERROR_RESOURCE_LANG_NOT_FOUND when the resource exists in others
// only); the language-neutral id 0 searches as FindResourceW does: the
// user's default language, its neutral form, language neutral, else the
// first language the module has (the lowest id).
HRSRC FindResourceW(HMODULE hModule, LPCWSTR lpName, LPCWSTR lpType);
HRSRC FindResourceExW(HMODULE hModule, LPCWSTR lpType, LPCWSTR lpName, WORD wLanguage);
// The resource's bytes (read-only) stay valid while the module is loaded.
// LoadResource and SizeofResource check that hResInfo is one of hModule's
// resources (ERROR_INVALID_PARAMETER otherwise); LockResource answers the
// bytes LoadResource gave.
HGLOBAL LoadResource(HMODULE hModule, HRSRC hResInfo);
LPVOID LockResource(HGLOBAL hResData);
DWORD SizeofResource(HMODULE hModule, HRSRC hResInfo);
