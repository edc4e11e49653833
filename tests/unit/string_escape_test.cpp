// The caret escape shared by string and char! mold, and the hexadecimal helpers.
#include <string>

#include "datatypes/string.h"
#include "support.h"

namespace kel {
namespace {

using namespace dt;

std::u32string text_of(const Cell* s) {
    std::u32string r;
    for (u32 i = 0, n = string_length(s); i < n; ++i) r += char32_t(string_char_at(s, i));
    return r;
}

class StringEscape : public test::RuntimeTest {};

TEST_F(StringEscape, CaretTable) {
    struct Case {
        u32 cp;
        bool all;
        std::u32string want;
    };
    const Case cases[] = {
        {0, false, U"^@"},      {1, false, U"^A"},      {8, false, U"^H"},      {9, false, U"^-"},
        {10, false, U"^/"},     {11, false, U"^K"},     {26, false, U"^Z"},     {27, false, U"^["},
        {28, false, U"^\\"},    {29, false, U"^]"},     {30, false, U"^(1E)"},  {31, false, U"^_"},
        {'"', false, U"^\""},   {'^', false, U"^^"},    {127, false, U"^~"},    {128, false, U"^(80)"},
        {159, false, U"^(9F)"}, {160, false, U"\u00A0"}, {233, false, U"\u00E9"}, {233, true, U"^(E9)"},
        {0x20AC, true, U"^(20AC)"}, {0x1F600, true, U"^(1F600)"}, {'a', true, U"a"}, {'{', false, U"{"},
        {'}', false, U"}"},     {' ', false, U" "},
    };
    for (const Case& c : cases) {
        Cell* out = push_string(8);
        append_char_escape(out, c.cp, c.all);
        EXPECT_EQ(text_of(out), c.want) << "code point " << c.cp << (c.all ? " /all" : "");
    }
}

TEST(IntToHex, StripAndFill) {
    struct Case {
        i32 v;
        bool strip;
        const char* want;
    };
    const Case cases[] = {
        {30, true, "1E"},          {0, true, "00"},           {-1, false, "FFFFFFFF"}, {30, false, "0000001E"},
        {0, false, "00000000"},    {0x7FFFFFFF, true, "7FFFFFFF"}, {i32(0x80000000), false, "80000000"},
        {0x10FFFF, true, "10FFFF"}, {-2, false, "FFFFFFFE"},  {255, true, "FF"},
    };
    for (const Case& c : cases) EXPECT_STREQ(int_to_hex(c.v, c.strip), c.want) << c.v;
    EXPECT_STREQ(byte_to_hex(0x3A7), "A7");
}

}  // namespace
}  // namespace kel
