// The grammar of the model description files' values: a value is cut at its
// first ";" (the rest of the line is a comment) and into fields at ","; a
// field reads as an unsigned or signed number, a quoted string or Yes/No.
// Option strings and the finisher string are their own small languages.
//
// Everything here is a pure function of the text: nothing fails, a field
// that holds no number reads as 0 and a malformed group gives its fixed mask.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace model_grammar {

// The value up to its first ";".
std::u16string_view CutComment(std::u16string_view value) noexcept;
// The value (comment cut) in fields at separator; an empty value is one empty field.
std::vector<std::u16string_view> Fields(std::u16string_view value, char16_t separator = u',');

// Decimal digits accumulate; after leading blanks, "0x"/"0X" switches to
// hexadecimal; every other character is skipped. Wraps at 32 bits.
std::uint32_t UnsignedField(std::u16string_view field) noexcept;
// As UnsignedField; a "-" anywhere makes the result negative.
std::int32_t SignedField(std::u16string_view field) noexcept;
// The text between the first double quote and the next (or the field's
// end), with "\x" / "\X" and up to two hexadecimal digits standing for one
// character of that code ("\x" without a digit stays as written). A field
// without a quote reads as empty.
std::u16string QuotedField(std::u16string_view field);
// Yes, No, or neither (nullopt): scanned to the first N/n or Y/y; "No" and
// "Yes" in any case count, anything else is neither.
std::optional<bool> YesNo(std::u16string_view value) noexcept;

// At most maxCount fields of the value, each read as a number; none for a
// value of blanks or a comment only.
std::vector<std::uint32_t> UnsignedList(std::u16string_view value, std::size_t maxCount);
std::vector<std::int32_t> SignedList(std::u16string_view value, std::size_t maxCount);

// The sources and output paths an option string allows
// ("TRAY.12345AMPDF + STK.UD + FIN.UD + EJS23L23PS", "_" for an absent item).
std::uint32_t OptionMask(std::u16string_view value) noexcept;
// The finisher mask of a finisher string ("PUNCH.234 + TRAY.12345").
std::uint16_t FinisherMask(std::u16string_view value) noexcept;

}  // namespace model_grammar
