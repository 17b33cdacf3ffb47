#include "platform/guiddef.h"

#include <cstdio>

std::optional<GUID> ParseGuid(std::string_view text) noexcept { return guid_detail::Parse(text); }

std::optional<GUID> ParseGuid(std::u16string_view text) noexcept { return guid_detail::Parse(text); }

std::string GuidToString(REFGUID g)
{
    char buf[39];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                  g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return buf;
}

std::u16string GuidToWideString(REFGUID guid)
{
    const std::string narrow = GuidToString(guid);
    return std::u16string(narrow.begin(), narrow.end());
}
