// Basic Windows scalar types, handles and interlocked counters.
#pragma once

#include <cstddef>
#include <cstdint>

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = unsigned int;
using INT = int;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using SHORT = std::int16_t;
using USHORT = std::uint16_t;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;
using CHAR = char;
using FLOAT = float;
using DOUBLE = double;
using BOOL = int;
using INT_PTR = std::intptr_t;
using UINT_PTR = std::uintptr_t;
using LONG_PTR = std::intptr_t;
using ULONG_PTR = std::uintptr_t;
using SIZE_T = std::size_t;
using INT16 = std::int16_t;
using UINT16 = std::uint16_t;
using INT32 = std::int32_t;
using UINT32 = std::uint32_t;

// Wide characters are UTF-16 code units on every platform, as stored records need.
using WCHAR = char16_t;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using LPSTR = char*;
using LPCSTR = const char*;
using LPVOID = void*;
using LPCVOID = const void*;
using LPBYTE = BYTE*;
using LPDWORD = DWORD*;

using HANDLE = void*;
using HMODULE = void*;
using HWND = struct HWND__*;
using HINSTANCE = void*;
using HGLOBAL = void*;

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;

// 100-nanosecond intervals since 1601-01-01 (UTC).
struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

union LARGE_INTEGER {
    LONGLONG QuadPart;
};

union ULARGE_INTEGER {
    ULONGLONG QuadPart;
};

// Interlocked operations on 32-bit counters: sequentially consistent, return the new value.
inline LONG InterlockedIncrement(LONG volatile* addend) noexcept
{
    return __atomic_add_fetch(addend, 1, __ATOMIC_SEQ_CST);
}

inline LONG InterlockedDecrement(LONG volatile* addend) noexcept
{
    return __atomic_sub_fetch(addend, 1, __ATOMIC_SEQ_CST);
}

inline LONG InterlockedExchange(LONG volatile* target, LONG value) noexcept
{
    return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}

inline LONG InterlockedCompareExchange(LONG volatile* destination, LONG exchange, LONG comparand) noexcept
{
    __atomic_compare_exchange_n(destination, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return comparand;
}

// The generic access rights (files, registry keys, access entries).
inline constexpr DWORD GENERIC_READ = 0x80000000u;
inline constexpr DWORD GENERIC_WRITE = 0x40000000u;
inline constexpr DWORD GENERIC_EXECUTE = 0x20000000u;
inline constexpr DWORD GENERIC_ALL = 0x10000000u;

// Languages and locales: a language id is a primary language (low 10 bits)
// and a sublanguage (high 6 bits); a locale id adds a sort order above it.
using LANGID = WORD;
using LCID = DWORD;
using LCTYPE = DWORD;
inline constexpr LANGID MAKELANGID(unsigned primary, unsigned sub) noexcept
{
    return static_cast<LANGID>((sub << 10) | primary);
}
inline constexpr unsigned PRIMARYLANGID(LANGID lang) noexcept { return lang & 0x3FFu; }
inline constexpr unsigned SUBLANGID(LANGID lang) noexcept { return lang >> 10; }
inline constexpr LCID MAKELCID(LANGID lang, unsigned sort) noexcept { return (static_cast<LCID>(sort) << 16) | lang; }
inline constexpr LANGID LANGIDFROMLCID(LCID lcid) noexcept { return static_cast<LANGID>(lcid & 0xFFFFu); }
inline constexpr unsigned LANG_NEUTRAL = 0x00;
inline constexpr unsigned LANG_ENGLISH = 0x09;
inline constexpr unsigned SUBLANG_NEUTRAL = 0x00;
inline constexpr unsigned SUBLANG_DEFAULT = 0x01;
inline constexpr unsigned SORT_DEFAULT = 0x0;
