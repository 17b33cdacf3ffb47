// The shell's special folders and folder creation. The folders live under
// the state root (state_root.h), so tests and a user's machine never mix:
// common application data "ProgramData", the user's "Users/<name>/AppData/
// Roaming" and ".../Local", the profile "Users/<name>", "Windows" and
// "Windows/System32".
#pragma once

#include "platform/winerror.h"

inline constexpr int CSIDL_APPDATA = 0x001A;
inline constexpr int CSIDL_LOCAL_APPDATA = 0x001C;
inline constexpr int CSIDL_COMMON_APPDATA = 0x0023;
inline constexpr int CSIDL_WINDOWS = 0x0024;
inline constexpr int CSIDL_SYSTEM = 0x0025;
inline constexpr int CSIDL_PROFILE = 0x0028;
inline constexpr int CSIDL_FLAG_CREATE = 0x8000;
inline constexpr DWORD MAX_PATH = 260;

// The folder into pszPath (MAX_PATH characters); CSIDL_FLAG_CREATE in csidl
// makes it when missing. E_INVALIDARG for other folders, S_FALSE when the
// folder does not exist (and was not to be made).
HRESULT SHGetFolderPathW(HWND hwnd, int csidl, HANDLE hToken, DWORD dwFlags, LPWSTR pszPath);
// Makes the folder and its missing parents: ERROR_SUCCESS,
// ERROR_ALREADY_EXISTS (ERROR_FILE_EXISTS when a file is there),
// ERROR_BAD_PATHNAME for an empty or relative path, ERROR_PATH_NOT_FOUND when
// it cannot be made (a parent is a file, or not ours). The security is not
// applied.
int SHCreateDirectoryExW(HWND hwnd, LPCWSTR pszPath, const void* psa);
