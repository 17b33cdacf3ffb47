// The user-interface library's resource pieces: string resources and the
// resource type and name forms.
#pragma once

#include "platform/winerror.h"

// A resource name or type given as a number.
inline LPCWSTR MAKEINTRESOURCEW(unsigned id) noexcept
{
    return reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(static_cast<WORD>(id)));
}
inline bool IS_INTRESOURCE(LPCWSTR name) noexcept { return (reinterpret_cast<ULONG_PTR>(name) >> 16) == 0; }

inline const LPCWSTR RT_BITMAP = MAKEINTRESOURCEW(2);
inline const LPCWSTR RT_DIALOG = MAKEINTRESOURCEW(5);
inline const LPCWSTR RT_STRING = MAKEINTRESOURCEW(6);
inline const LPCWSTR RT_RCDATA = MAKEINTRESOURCEW(10);

// String uID of the module: copied with a terminator, cut to cchBufferMax - 1
// characters; answers the characters copied (0 when there is no such string,
// or it is empty, with an empty buffer). cchBufferMax 0: *lpBuffer becomes a
// read-only pointer to the string in the module (not terminated; null when
// there is no string), valid while the module is loaded, and the string's
// length is answered. The string table block (strings uID / 16 * 16 to
// uID / 16 * 16 + 15) is taken whole in the user's default language, else in
// its neutral form, else language neutral, else the first the module has.
// A module that is no resource library has no strings
// (ERROR_RESOURCE_DATA_NOT_FOUND); a missing string sets
// ERROR_RESOURCE_NAME_NOT_FOUND.
int LoadStringW(HINSTANCE hInstance, UINT uID, LPWSTR lpBuffer, int cchBufferMax);
