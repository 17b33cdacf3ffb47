#include "printer_data.h"

#include <charconv>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "platform/stringapiset.h"

namespace {

bool ParseHex(std::string_view text, std::vector<BYTE>& out)
{
    if (text.size() % 2)
        return false;
    out.clear();
    for (std::size_t i = 0; i < text.size(); i += 2) {
        unsigned value = 0;
        const auto [end, ec] = std::from_chars(text.data() + i, text.data() + i + 2, value, 16);
        if (ec != std::errc() || end != text.data() + i + 2)
            return false;
        out.push_back(static_cast<BYTE>(value));
    }
    return true;
}

bool ParseDword(std::string_view text, DWORD& out)
{
    int base = 10;
    if (text.starts_with("0x") || text.starts_with("0X")) {
        base = 16;
        text.remove_prefix(2);
    }
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out, base);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

} // namespace

std::optional<PrinterDataValue> ParsePrinterDataAssignment(const std::string& text, std::string* why)
{
    const auto eq = text.find('=');
    if (eq == std::string::npos || eq == 0) {
        *why = "a printer data value is NAME=dword:NUMBER, NAME=binary:HEX, NAME=binary@FILE or NAME=string:TEXT";
        return std::nullopt;
    }
    PrinterDataValue v;
    v.name = Utf8ToWide(text.substr(0, eq));
    const std::string_view rest = std::string_view(text).substr(eq + 1);
    if (rest.starts_with("dword:")) {
        DWORD number = 0;
        if (!ParseDword(rest.substr(6), number)) {
            *why = "not a 32-bit number: " + std::string(rest.substr(6));
            return std::nullopt;
        }
        v.type = REG_DWORD;
        v.bytes = {static_cast<BYTE>(number), static_cast<BYTE>(number >> 8), static_cast<BYTE>(number >> 16),
                   static_cast<BYTE>(number >> 24)};
    } else if (rest.starts_with("binary:")) {
        v.type = REG_BINARY;
        if (!ParseHex(rest.substr(7), v.bytes)) {
            *why = "not hexadecimal bytes: " + std::string(rest.substr(7));
            return std::nullopt;
        }
    } else if (rest.starts_with("binary@")) {
        v.type = REG_BINARY;
        const std::string file(rest.substr(7));
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            *why = "cannot read " + file;
            return std::nullopt;
        }
        v.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    } else if (rest.starts_with("string:")) {
        v.type = REG_SZ;
        std::u16string wide = Utf8ToWide(rest.substr(7));
        wide.push_back(u'\0');  // stored with its terminator
        const auto* p = reinterpret_cast<const BYTE*>(wide.data());
        v.bytes.assign(p, p + wide.size() * sizeof(char16_t));
    } else {
        *why = "unknown value type in " + text + " (dword:, binary:, binary@ or string:)";
        return std::nullopt;
    }
    return v;
}

std::string FormatPrinterDataValue(const PrinterDataValue& v)
{
    std::string out = WideToUtf8(v.name) + "=";
    if (v.type == REG_DWORD && v.bytes.size() == 4) {
        const DWORD number = v.bytes[0] | (v.bytes[1] << 8) | (v.bytes[2] << 16) | (static_cast<DWORD>(v.bytes[3]) << 24);
        return out + "dword:" + std::to_string(number);
    }
    if (v.type == REG_SZ) {
        std::u16string wide(v.bytes.size() / 2, u'\0');
        for (std::size_t i = 0; i < wide.size(); ++i)
            wide[i] = static_cast<char16_t>(v.bytes[2 * i] | (v.bytes[2 * i + 1] << 8));
        if (!wide.empty() && wide.back() == u'\0')
            wide.pop_back();
        return out + "string:" + WideToUtf8(wide);
    }
    out += "binary:";
    for (BYTE b : v.bytes) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", b);
        out += hex;
    }
    return out;
}
