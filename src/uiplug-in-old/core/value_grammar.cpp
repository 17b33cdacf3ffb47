#include "uiplug-in-old/core/value_grammar.h"

#include <array>

namespace model_grammar {
namespace {

char16_t Upper(char16_t c) noexcept { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c; }

int HexDigit(char16_t c) noexcept
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    c = Upper(c);
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

bool IsBlank(char16_t c) noexcept { return c == u' ' || c == u'\t'; }

// One group of an option or finisher string: its name and a run of
// positions, each its own letter or "_" (a required position has no "_").
struct Group {
    std::u16string_view name;  // "TRAY." and the like
    std::u16string_view letters;
    std::array<std::uint32_t, 10> bits;
    std::uint32_t required;     // bit i: position i must hold its letter
    std::uint32_t onMalformed;  // ORed in, or the whole result (replaces)
    bool replaces;
};

constexpr Group kTray{u"TRAY.", u"12345AMPDF", {0x1, 0x2, 0x10, 0x20, 0x40, 0x80, 0x4, 0x8, 0x100, 0x200}, 0, 0xFF, false};
constexpr Group kStacker{u"STK.", u"UD", {0x10000, 0x20000}, 0, 0x30000, false};
constexpr Group kFinisher{u"FIN.", u"UD", {0x40000, 0x80000}, 0, 0xC0000, false};
constexpr Group kEjector{u"EJS", u"23L23PS", {0x1000000, 0x4000000, 0, 0x2000000, 0x8000000, 0x10000000, 0x40000000},
                         0x4, 0x5F000000, true};
constexpr Group kPunch{u"PUNCH.", u"234", {0x1, 0x2, 0x4}, 0, 0x1, true};
constexpr Group kFinisherTray{u"TRAY.", u"12345", {0x100, 0x200, 0x400, 0x800, 0x1000}, 0, 0x1A00, false};

// Walks the value to ";", a double quote or its end; characters that start
// no group are free text. A malformed group applies its mask and the walk
// goes on at the character that broke it.
template <std::size_t N>
std::uint32_t ScanGroups(std::u16string_view value, const std::array<const Group*, N>& groups) noexcept
{
    std::size_t end = 0;
    while (end < value.size() && value[end] != u';' && value[end] != u'"')
        ++end;
    std::uint32_t result = 0;
    std::size_t i = 0;
    while (i < end) {
        const Group* group = nullptr;
        for (const Group* g : groups)
            if (Upper(value[i]) == g->name[0])
                group = g;
        if (!group) {
            ++i;
            continue;
        }
        std::size_t at = i + 1;
        bool good = true;
        for (std::size_t k = 1; k < group->name.size() && good; ++k, ++at)
            good = at < end && Upper(value[at]) == group->name[k];
        std::uint32_t found = 0;
        for (std::size_t k = 0; k < group->letters.size() && good; ++k, ++at) {
            const bool required = (group->required >> k) & 1;
            if (at < end && !required && value[at] == u'_')
                continue;
            good = at < end && Upper(value[at]) == group->letters[k];
            if (good)
                found |= group->bits[k];
        }
        if (good) {
            result |= found;
            i = at;
            continue;
        }
        result = group->replaces ? group->onMalformed : result | found | group->onMalformed;
        i = at - 1 > i ? at - 1 : i + 1;  // the character that broke the group
    }
    return result;
}

}  // namespace

std::u16string_view CutComment(std::u16string_view value) noexcept
{
    const std::size_t semicolon = value.find(u';');
    return semicolon == std::u16string_view::npos ? value : value.substr(0, semicolon);
}

std::vector<std::u16string_view> Fields(std::u16string_view value, char16_t separator)
{
    value = CutComment(value);
    std::vector<std::u16string_view> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t next = value.find(separator, start);
        fields.push_back(value.substr(start, next == std::u16string_view::npos ? std::u16string_view::npos : next - start));
        if (next == std::u16string_view::npos)
            return fields;
        start = next + 1;
    }
}

std::uint32_t UnsignedField(std::u16string_view field) noexcept
{
    std::size_t i = 0;
    while (i < field.size() && IsBlank(field[i]))
        ++i;
    std::uint32_t result = 0;
    if (i + 1 < field.size() && field[i] == u'0' && (field[i + 1] == u'x' || field[i + 1] == u'X')) {
        for (i += 2; i < field.size(); ++i)
            if (const int digit = HexDigit(field[i]); digit >= 0)
                result = result * 16u + static_cast<std::uint32_t>(digit);
        return result;
    }
    for (; i < field.size(); ++i)
        if (field[i] >= u'0' && field[i] <= u'9')
            result = result * 10u + static_cast<std::uint32_t>(field[i] - u'0');
    return result;
}

std::int32_t SignedField(std::u16string_view field) noexcept
{
    const auto magnitude = static_cast<std::int32_t>(UnsignedField(field));
    return field.find(u'-') == std::u16string_view::npos ? magnitude
                                                         : static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(magnitude));
}

std::u16string QuotedField(std::u16string_view field)
{
    std::u16string text;
    const std::size_t open = field.find(u'"');
    if (open == std::u16string_view::npos)
        return text;
    for (std::size_t i = open + 1; i < field.size() && field[i] != u'"'; ++i) {
        if (field[i] == u'\\' && i + 1 < field.size() && Upper(field[i + 1]) == u'X') {
            unsigned code = 0;
            std::size_t digits = 0;
            while (digits < 2 && i + 2 + digits < field.size() && HexDigit(field[i + 2 + digits]) >= 0) {
                code = code * 16 + static_cast<unsigned>(HexDigit(field[i + 2 + digits]));
                ++digits;
            }
            if (digits > 0) {  // "\x" without a digit is written as it stands
                text.push_back(static_cast<char16_t>(code));
                i += 1 + digits;
                continue;
            }
        }
        text.push_back(field[i]);
    }
    return text;
}

std::optional<bool> YesNo(std::u16string_view value) noexcept
{
    for (std::size_t i = 0; i < value.size() && value[i] != u';'; ++i) {
        const char16_t c = Upper(value[i]);
        if (c == u'N')
            return i + 1 < value.size() && Upper(value[i + 1]) == u'O' ? std::optional<bool>(false) : std::nullopt;
        if (c == u'Y')
            return i + 2 < value.size() && Upper(value[i + 1]) == u'E' && Upper(value[i + 2]) == u'S'
                       ? std::optional<bool>(true)
                       : std::nullopt;
    }
    return std::nullopt;
}

namespace {
// The fields of a list: a separator at the value's end opens no further
// field, and a value that is only blanks or a comment has none.
std::vector<std::u16string_view> ListFields(std::u16string_view value)
{
    if (CutComment(value).find_first_not_of(u" \t") == std::u16string_view::npos)
        return {};
    std::vector<std::u16string_view> fields = Fields(value);
    const std::u16string_view last = fields.back();
    if (fields.size() > 1 && last.find_first_not_of(u" \t") == std::u16string_view::npos)
        fields.pop_back();
    return fields;
}
}  // namespace

namespace {
template <class Number, class Read>
std::vector<Number> ReadList(std::u16string_view value, std::size_t maxCount, Read read)
{
    std::vector<Number> list;
    for (std::u16string_view field : ListFields(value)) {
        if (list.size() == maxCount)
            break;
        list.push_back(read(field));
    }
    return list;
}
}  // namespace

std::vector<std::uint32_t> UnsignedList(std::u16string_view value, std::size_t maxCount)
{
    return ReadList<std::uint32_t>(value, maxCount, UnsignedField);
}

std::vector<std::int32_t> SignedList(std::u16string_view value, std::size_t maxCount)
{
    return ReadList<std::int32_t>(value, maxCount, SignedField);
}

std::uint32_t OptionMask(std::u16string_view value) noexcept
{
    return ScanGroups(value, std::array<const Group*, 4>{&kTray, &kStacker, &kFinisher, &kEjector});
}

std::uint16_t FinisherMask(std::u16string_view value) noexcept
{
    return static_cast<std::uint16_t>(ScanGroups(value, std::array<const Group*, 2>{&kPunch, &kFinisherTray}));
}

}  // namespace model_grammar
