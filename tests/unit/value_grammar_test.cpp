// The value grammar of the model description files: fields, numbers, quoted
// strings, Yes/No, option strings and finisher strings.
#include <gtest/gtest.h>

#include "uiplug-in-old/core/value_grammar.h"

namespace g = model_grammar;

TEST(ValueGrammar, NumberFields)
{
    struct Case {
        std::u16string_view field;
        std::uint32_t unsignedValue;
        std::int32_t signedValue;
    };
    const Case cases[] = {
        {u"12", 12, 12},         {u" 0x1F", 31, 31},     {u"0X1f", 31, 31},      {u"\t0xff ", 255, 255},
        {u"1 2", 12, 12},        {u"", 0, 0},            {u"abc", 0, 0},         {u" -3 ", 3, -3},
        {u"3-", 3, -3},          {u"x0x10", 10, 10},     {u"0x", 0, 0},          {u"0xG1", 1, 1},
        {u"4294967296", 0, 0},   {u"65537", 65537, 65537},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(g::UnsignedField(c.field), c.unsignedValue) << std::string(c.field.begin(), c.field.end());
        EXPECT_EQ(g::SignedField(c.field), c.signedValue) << std::string(c.field.begin(), c.field.end());
    }
}

TEST(ValueGrammar, ListsStopAtTheCommentAndTheirLength)
{
    EXPECT_EQ(g::UnsignedList(u"12, 0x1F, -3 ; 7, 8", 64), (std::vector<std::uint32_t>{12, 31, 3}));
    EXPECT_EQ(g::SignedList(u"12, 0x1F, -3 ; 7, 8", 64), (std::vector<std::int32_t>{12, 31, -3}));
    EXPECT_EQ(g::SignedList(u"3,2,1,0,9", 4), (std::vector<std::int32_t>{3, 2, 1, 0}));
    // Empty fields inside read as 0; a separator at the end opens none.
    EXPECT_EQ(g::UnsignedList(u"1,,2, ", 64), (std::vector<std::uint32_t>{1, 0, 2}));
    EXPECT_EQ(g::UnsignedList(u" ; none", 64), (std::vector<std::uint32_t>{}));
    EXPECT_EQ(g::UnsignedList(u",", 64), (std::vector<std::uint32_t>{0}));
    EXPECT_EQ(g::Fields(u"a;b,c"), (std::vector<std::u16string_view>{u"a"}));
}

TEST(ValueGrammar, QuotedStrings)
{
    struct Case {
        std::u16string_view field;
        std::u16string text;
    };
    const Case cases[] = {
        {u"\"\\x41\"", u"A"},
        {u" \"A4\"", u"A4"},
        {u"junk\"ab", u"ab"},
        {u"\"\\x1BPZ01\"", u"\x1BPZ01"},
        {u"\"\\X4g\"", u"\x04g"},
        {u"\"C:\\xyz\"", u"C:\\xyz"},
        {u"no quote", u""},
        {u"\"a\" tail", u"a"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(g::QuotedField(c.field), c.text) << std::string(c.field.begin(), c.field.end());
    // A comma ends the field even inside the quotes; the comma is written \x2C.
    const std::vector<std::u16string_view> fields = g::Fields(u"\"a,b\", \"a\\x2Cb\", 1");
    ASSERT_EQ(fields.size(), 4u);
    EXPECT_EQ(g::QuotedField(fields[0]), u"a");
    EXPECT_EQ(g::QuotedField(fields[1]), u"");
    EXPECT_EQ(g::QuotedField(fields[2]), u"a,b");
    EXPECT_EQ(g::SignedField(fields[3]), 1);
}

TEST(ValueGrammar, YesNo)
{
    struct Case {
        std::u16string_view value;
        std::optional<bool> answer;
    };
    const Case cases[] = {
        {u"Yes", true},   {u"yes", true},     {u"YES ; x", true}, {u"  yEs", true},       {u"No", false},
        {u"NO", false},   {u"Nonsense", false}, {u"Maybe", std::nullopt}, {u"", std::nullopt}, {u"Y", std::nullopt},
        {u"Yeah", std::nullopt}, {u"N", std::nullopt}, {u"1", std::nullopt}, {u"; Yes", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(g::YesNo(c.value), c.answer) << std::string(c.value.begin(), c.value.end());
}

TEST(ValueGrammar, OptionStrings)
{
    struct Case {
        std::u16string_view value;
        std::uint32_t mask;
    };
    const Case cases[] = {
        // Every source but F and every output path.
        {u"TRAY.12345AMPD_ + STK.UD + FIN.UD + EJS23L23PS", 0x5F0F01FF},
        {u"TRAY.1_3___M___ + STK.U_", 0x10015},
        // Nine positions: "M" stands where "A" belongs, so the group is malformed.
        {u"TRAY.1_3__M___ + STK.U_", 0x100FF},
        {u"TRAY.1x", 0xFF},
        {u"tray.1____aM___", 0x85},
        {u"TRAX.1____AM___ + FIN.U_", 0x400FF},
        {u"STK.UX + FIN.__", 0x30000},
        {u"TRAY.__________ + STK.__ + FIN.__ + EJS__L____", 0},
        // A malformed EJS group discards what came before it.
        {u"TRAY.12345AM_D_ + STK.UD + EJS2_x", 0x5F000000},
        {u"EJS23_23P_", 0x5F000000},
        {u"EJS23L23PS + STK.U_", 0x5F010000},
        {u"TRAY.1____AM___\" + STK.UD", 0x85},
        {u"TRAY.__________ ; STK.UD", 0},
        {u"TRAY.1", 0xFF},
        {u"", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(g::OptionMask(c.value), c.mask) << std::string(c.value.begin(), c.value.end());
}

TEST(ValueGrammar, FinisherStrings)
{
    struct Case {
        std::u16string_view value;
        std::uint16_t mask;
    };
    const Case cases[] = {
        {u"PUNCH.2__ + TRAY._2_45", 0x1A01},
        {u"PUNCH.23_ + TRAY.12___", 0x0303},
        {u"PUNCH.___ + TRAY._____", 0},
        // A malformed PUNCH group makes the whole result 0x1; a malformed TRAY ORs 0x1A00.
        {u"TRAY.1____ + PUNCH.2x_", 0x1},
        {u"PUNCH.2x_ + TRAY.1____", 0x101},
        {u"TRAY.1x", 0x1B00},
        {u"punch.234 + tray.12345", 0x1F07},
    };
    for (const Case& c : cases)
        EXPECT_EQ(g::FinisherMask(c.value), c.mask) << std::string(c.value.begin(), c.value.end());
}
