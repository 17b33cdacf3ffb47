// Base services: the private-profile (INI) functions and the user.
#pragma once

#include "platform/winerror.h"

// ---- Private-profile (INI) files ----------------------------------------------
//
// A file name without a folder is taken from the Windows folder, here the
// state root's "Windows" folder. Sections and keys compare without regard to
// ASCII case; blanks around names and values are dropped, and one pair of
// quotes around a value read. Files that start with FF FE are UTF-16LE and
// stay so when written; other files are read as UTF-8 (Latin-1 where they
// are not valid UTF-8) and written as UTF-8. A write replaces the whole file
// (same permission bits) under a lock, so writers in several processes lose
// nothing.

// The value of key in section, else lpDefault (trailing blanks dropped):
// copied with a terminator, cut to nSize - 1 characters; answers the
// characters copied. A null section lists the section names, a null key the
// section's keys: each with its terminator, the list ending with one more;
// a list cut short answers nSize - 2.
DWORD GetPrivateProfileStringW(LPCWSTR lpAppName, LPCWSTR lpKeyName, LPCWSTR lpDefault, LPWSTR lpReturnedString,
                               DWORD nSize, LPCWSTR lpFileName);
// The value as a number (blanks, a sign, decimal or 0x digits up to the first
// other character); nDefault when the key is absent or holds no number.
UINT GetPrivateProfileIntW(LPCWSTR lpAppName, LPCWSTR lpKeyName, INT nDefault, LPCWSTR lpFileName);
// Sets key to lpString, creating the file and the section; a null lpString
// deletes the key, a null key the whole section.
BOOL WritePrivateProfileStringW(LPCWSTR lpAppName, LPCWSTR lpKeyName, LPCWSTR lpString, LPCWSTR lpFileName);
// The section names, as the null-section form of GetPrivateProfileStringW.
DWORD GetPrivateProfileSectionNamesW(LPWSTR lpszReturnBuffer, DWORD nSize, LPCWSTR lpFileName);
// The section's lines "key=value", each with its terminator, the list ending
// with one more; cut short it answers nSize - 2.
DWORD GetPrivateProfileSectionW(LPCWSTR lpAppName, LPWSTR lpReturnedString, DWORD nSize, LPCWSTR lpFileName);

// ---- The user -------------------------------------------------------------------

// The name of the process's user (its effective user), with its terminator:
// *pcbBuffer holds the room in characters and answers the characters copied
// with the terminator; when it is too small, FALSE with
// ERROR_INSUFFICIENT_BUFFER and the size needed (with the terminator).
BOOL GetUserNameW(LPWSTR lpBuffer, LPDWORD pcbBuffer);
