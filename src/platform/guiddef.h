// GUID, IID and CLSID: value type, compile-time parsing and the registry string form.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "platform/windef.h"

struct GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];

    friend constexpr bool operator==(const GUID& a, const GUID& b) noexcept
    {
        if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3)
            return false;
        for (int i = 0; i < 8; ++i)
            if (a.Data4[i] != b.Data4[i])
                return false;
        return true;
    }
};

using IID = GUID;
using CLSID = GUID;
using UUID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

inline constexpr GUID GUID_NULL{};

constexpr bool IsEqualGUID(REFGUID a, REFGUID b) noexcept { return a == b; }
constexpr bool IsEqualIID(REFIID a, REFIID b) noexcept { return a == b; }
constexpr bool IsEqualCLSID(REFCLSID a, REFCLSID b) noexcept { return a == b; }

namespace guid_detail {

constexpr int HexValue(char c) noexcept
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Parses "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX", with or without braces.
template <class Char>
constexpr std::optional<GUID> Parse(std::basic_string_view<Char> text) noexcept
{
    if (text.size() == 38) {
        if (text.front() != Char('{') || text.back() != Char('}'))
            return std::nullopt;
        text = text.substr(1, 36);
    }
    if (text.size() != 36)
        return std::nullopt;
    constexpr std::array<int, 4> dashes{8, 13, 18, 23};
    for (int d : dashes)
        if (text[static_cast<std::size_t>(d)] != Char('-'))
            return std::nullopt;
    std::array<int, 32> digits{};
    std::size_t n = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i == 8 || i == 13 || i == 18 || i == 23)
            continue;
        const auto c = text[i];
        if (c > 0x7f)
            return std::nullopt;
        const int v = HexValue(static_cast<char>(c));
        if (v < 0)
            return std::nullopt;
        digits[n++] = v;
    }
    auto take = [&](std::size_t from, std::size_t count) {
        unsigned long long value = 0;
        for (std::size_t i = 0; i < count; ++i)
            value = value * 16 + static_cast<unsigned>(digits[from + i]);
        return value;
    };
    GUID g{};
    g.Data1 = static_cast<DWORD>(take(0, 8));
    g.Data2 = static_cast<WORD>(take(8, 4));
    g.Data3 = static_cast<WORD>(take(12, 4));
    for (std::size_t i = 0; i < 8; ++i)
        g.Data4[i] = static_cast<BYTE>(take(16 + 2 * i, 2));
    return g;
}

} // namespace guid_detail

// A GUID from its text at compile time; a malformed literal does not compile.
consteval GUID MakeGuid(const char* text)
{
    std::size_t len = 0;
    while (text[len] != '\0')
        ++len;
    const auto g = guid_detail::Parse(std::string_view(text, len));
    if (!g)
        throw "malformed GUID literal";
    return *g;
}

// Parses the registry form "{XXXXXXXX-...}" (braces optional); nullopt when malformed.
std::optional<GUID> ParseGuid(std::string_view text) noexcept;
std::optional<GUID> ParseGuid(std::u16string_view text) noexcept;

// The registry form: braces, upper-case hexadecimal.
std::string GuidToString(REFGUID guid);
std::u16string GuidToWideString(REFGUID guid);
