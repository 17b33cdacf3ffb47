// Conversion between UTF-16 and 8-bit code pages.
#pragma once

#include <string>
#include <string_view>

#include "platform/winerror.h"

inline constexpr UINT CP_ACP = 0;
inline constexpr UINT CP_UTF8 = 65001;

// CP_UTF8 and CP_ACP (which is UTF-8 here). cchWideChar 0 asks for the size.
int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte, LPWSTR lpWideCharStr, int cchWideChar);
int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar, LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar, BOOL* lpUsedDefaultChar);

// Convenience forms; invalid sequences become U+FFFD.
std::u16string Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::u16string_view text);

// Ordinal comparison, code unit by code unit; bIgnoreCase folds the ASCII
// letters (other characters compare exactly). A count of -1 means the
// string is terminated. Answers CSTR_LESS_THAN, CSTR_EQUAL or
// CSTR_GREATER_THAN; 0 with ERROR_INVALID_PARAMETER for a null string or a
// count below -1.
inline constexpr int CSTR_LESS_THAN = 1;
inline constexpr int CSTR_EQUAL = 2;
inline constexpr int CSTR_GREATER_THAN = 3;
int CompareStringOrdinal(LPCWSTR lpString1, int cchCount1, LPCWSTR lpString2, int cchCount2, BOOL bIgnoreCase);
