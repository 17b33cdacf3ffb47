// National language support: the user's default locale and what it says.
//
// The user's locale comes from the environment as the C library reads it
// (LC_ALL, then LANG; an empty variable counts as unset), read on every call:
// "language_TERRITORY" with any ".codeset" or "@modifier" dropped, mapped
// onto the platform's locale ids through a table of the locales in use. The
// locale of that language and territory wins; a territory the table lacks
// gives the language's first locale (fr_BE: French (France)). "C", "POSIX",
// an empty or unknown value gives English (United States), 1033, as a system
// installed without a choice would. A test may set the locale for the process
// instead. The system's locale is the user's.
#pragma once

#include "platform/winerror.h"

inline constexpr LCID LOCALE_USER_DEFAULT = 0x0400;
inline constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;

// What GetLocaleInfoW answers.
inline constexpr LCTYPE LOCALE_SENGLANGUAGE = 0x1001;     // "German"
inline constexpr LCTYPE LOCALE_SABBREVLANGNAME = 0x0003;  // "DEU": the three-letter abbreviation
inline constexpr LCTYPE LOCALE_ICOUNTRY = 0x0005;         // "49": the country's telephone code, decimal
inline constexpr LCTYPE LOCALE_IMEASURE = 0x000D;         // "0" metric, "1" U.S.
inline constexpr LCTYPE LOCALE_SISO639LANGNAME = 0x0059;  // "de"
inline constexpr LCTYPE LOCALE_SISO3166CTRYNAME = 0x005A; // "DE"

LCID GetUserDefaultLCID();
LANGID GetUserDefaultLangID();
LCID GetSystemDefaultLCID();

// The value with its terminator; cchData 0 asks for the length needed (with
// the terminator). 0 with ERROR_INVALID_PARAMETER for a locale or type not
// known, ERROR_INSUFFICIENT_BUFFER when the buffer is too small.
// LOCALE_USER_DEFAULT and LOCALE_SYSTEM_DEFAULT (and 0) stand for the user's
// locale; a language id alone (sort order 0) is the locale of that id; a
// neutral language (sublanguage 0) is its default locale, the one with
// SUBLANG_DEFAULT. A locale outside the table answers 0 with
// ERROR_INVALID_PARAMETER: the platform knows nothing about it. The values
// are ASCII; LOCALE_IMEASURE is "1" for the United States only.
int GetLocaleInfoW(LCID Locale, LCTYPE LCType, LPWSTR lpLCData, int cchData);

// Tests: the user's locale for this process from now on (0: back to the
// environment); any id is taken as it is. Safe to call while other threads
// ask for the locale.
void SetUserDefaultLCIDForTesting(LCID lcid);
