// Case mapping tables and display width.
#include "datatypes/string.h"
#include "runtime/casefold.h"
#include "support.h"

namespace kel {
namespace {

using namespace rt;
using dt::change_case;

// The generated tables: the simple case mappings and width intervals of Unicode 14.0.
TEST(CaseTables, CountsAndBounds) {
    EXPECT_EQ(g_upper_pairs_count, 1190u);
    EXPECT_EQ(g_lower_pairs_count, 1173u);
    EXPECT_EQ(g_upper_pairs_astral_count, 260u);
    EXPECT_EQ(g_lower_pairs_astral_count, 260u);
    EXPECT_EQ(g_zero_width_ranges_count, 339u);
    EXPECT_EQ(g_wide_ranges_count, 122u);
    EXPECT_EQ(g_ambiguous_ranges_count, 176u);

    auto pair_eq = [](const CodePair& p, u32 a, u32 b) { return p.from == a && p.to == b; };
    EXPECT_TRUE(pair_eq(g_upper_pairs[0], 0x61, 0x41));
    EXPECT_TRUE(pair_eq(g_upper_pairs[g_upper_pairs_count - 1], 0xFF5A, 0xFF3A));
    EXPECT_TRUE(pair_eq(g_lower_pairs[0], 0x41, 0x61));
    EXPECT_TRUE(pair_eq(g_lower_pairs[g_lower_pairs_count - 1], 0xFF3A, 0xFF5A));
    EXPECT_TRUE(pair_eq(g_upper_pairs_astral[g_upper_pairs_astral_count - 1], 0x1E943, 0x1E921));
    EXPECT_TRUE(pair_eq(g_lower_pairs_astral[0], 0x10400, 0x10428));
    EXPECT_TRUE(pair_eq(g_lower_pairs_astral[g_lower_pairs_astral_count - 1], 0x1E921, 0x1E943));

    auto range_eq = [](const CodeRange& r, u32 a, u32 b) { return r.first == a && r.last == b; };
    EXPECT_TRUE(range_eq(g_zero_width_ranges[0], 0x300, 0x36F));
    EXPECT_TRUE(range_eq(g_zero_width_ranges[1], 0x483, 0x489));
    EXPECT_TRUE(range_eq(g_zero_width_ranges[g_zero_width_ranges_count - 1], 0xE0100, 0xE01EF));
    EXPECT_TRUE(range_eq(g_zero_width_ranges[g_zero_width_ranges_count - 2], 0x1E944, 0x1E94A));
    EXPECT_TRUE(range_eq(g_wide_ranges[0], 0x1100, 0x115F));
    EXPECT_TRUE(range_eq(g_wide_ranges[g_wide_ranges_count - 3], 0x1FAF0, 0x1FAF6));
    EXPECT_TRUE(range_eq(g_wide_ranges[g_wide_ranges_count - 1], 0x30000, 0x3FFFD));
    EXPECT_EQ(g_ambiguous_ranges[0].first, 0xA1u);
    EXPECT_TRUE(range_eq(g_ambiguous_ranges[g_ambiguous_ranges_count - 1], 0x100000, 0x10FFFD));

    // Sorted and disjoint, as the binary search needs.
    for (auto [t, n] : {std::pair<const CodeRange*, u32>{g_zero_width_ranges, g_zero_width_ranges_count},
                        {g_wide_ranges, g_wide_ranges_count}, {g_ambiguous_ranges, g_ambiguous_ranges_count}})
        for (u32 i = 1; i < n; ++i) ASSERT_GT(t[i].first, t[i - 1].last);
}

TEST(CaseFold, Mappings) {
    struct Case {
        u32 cp;
        bool upper;
        u32 want;
    };
    const Case cases[] = {
        {'a', true, 'A'},        {'A', true, 'A'},         {'A', false, 'a'},       {0xFF, true, 0x178},
        {0x178, false, 0xFF},    {0xDF, true, 0xDF},       {0x130, false, 'i'},     {0x10428, true, 0x10400},
        {0x1E922, true, 0x1E900}, {0x1F600, true, 0x1F600}, {0x10400, false, 0x10428}, {0x10FFFF, true, 0x10FFFF},
        {0x10597, true, 0x10570}, {'1', true, '1'},        {0x3A3, false, 0x3C3},   {0x3C2, true, 0x3A3},
    };
    for (const Case& c : cases) EXPECT_EQ(case_fold_char(c.cp, c.upper), c.want) << std::hex << c.cp;
    EXPECT_EQ(other_case_char('a'), u32('A'));
    EXPECT_EQ(other_case_char('A'), u32('a'));
    EXPECT_EQ(upper_case_char(0xE9), 0xC9u);
}

TEST(CharWidth, Table) {
    struct Case {
        u32 cp;
        i32 w;
    };
    const Case cases[] = {
        {0, 0},      {9, 1},      {'A', 1},    {0x7F, 1},    {0x9F, 1},    {0x301, 0},   {0x4E00, 2},
        {0xFF01, 2}, {0x200B, 1}, {0xAD, 1},   {0x1160, 0},  {0x600, 0},   {0x898, 0},   {0x3000, 2},
        {0x1F600, 2}, {0x1FAF0, 2}, {0x1FAF7, 1}, {0x1E4EC, 1}, {0x20000, 2}, {0x2FFFD, 2}, {0xE0100, 0},
        {0x10FFFF, 1},
    };
    for (const Case& c : cases) EXPECT_EQ(char_width(c.cp), c.w) << std::hex << c.cp;
    EXPECT_EQ(char_width_cjk(0xA1), 2);
    EXPECT_EQ(char_width_cjk('A'), 1);
    EXPECT_EQ(char_width_cjk(0x4E00), 2);
}

class ChangeCase : public test::RuntimeTest {};

std::u32string text_of(const Cell* s) {
    std::u32string r;
    for (u32 i = 0, n = dt::string_length(s); i < n; ++i) r += char32_t(dt::string_char_at(s, i));
    return r;
}

TEST_F(ChangeCase, StringsAndParts) {
    Cell* s = dt::push_string(8);
    dt::append_c_string(s, "abcdef");
    Cell part;
    set_cell(&part, T_INTEGER, 0, 3);
    change_case(s, &part, true);
    EXPECT_EQ(text_of(s), U"ABCdef");
    change_case(s, nullptr, false);
    EXPECT_EQ(text_of(s), U"abcdef");

    // A position in the same string counts up to it; a negative count changes nothing.
    Cell pos = *s;
    pos.data1 = 2;
    change_case(s, &pos, true);
    EXPECT_EQ(text_of(s), U"ABcdef");
    s->data1 = 4;
    pos.data1 = 1;
    change_case(s, &pos, true);
    s->data1 = 0;
    EXPECT_EQ(text_of(s), U"ABcdef");

    // ÿ uppercases to U+0178, which needs two bytes.
    Cell* y = dt::push_string(2);
    dt::string_poke_char(y, 0, 0xFF);
    ASSERT_EQ(rt::buffer_of(series_node(y))->unit(), 1u);
    change_case(y, nullptr, true);
    EXPECT_EQ(rt::buffer_of(series_node(y))->unit(), 2u);
    EXPECT_EQ(text_of(y), U"\u0178");

    Cell ch;
    set_cell(&ch, T_CHAR, 0, 'q');
    change_case(&ch, nullptr, true);
    EXPECT_EQ(ch.data2, u32('Q'));
}

TEST_F(ChangeCase, ForeignPartRaises) {
    Cell* s = dt::push_string(8);
    dt::append_c_string(s, "abc");
    Cell* other = dt::push_string(8);
    dt::append_c_string(other, "abc");
    EXPECT_EQ(test::catch_error([&] { change_case(s, other, true); }), Err::script_invalid_refine_arg);
    Cell none;
    set_cell(&none, T_NONE);
    EXPECT_EQ(test::catch_error([&] { change_case(s, &none, true); }), Err::script_invalid_refine_arg);
}

// The one-byte string search looks for an ASCII first character as itself and, for a
// letter, its other case only: no other one-byte character may fold to ASCII.
TEST(CaseTables, OnlyAsciiFoldsToAsciiInOneByteText) {
    for (u32 c = 0; c < 256; ++c) {
        u32 f = case_fold_char(c, false);
        if (f >= 0x80) continue;
        u32 expected = c >= 'A' && c <= 'Z' ? c + 32 : c;
        EXPECT_EQ(f, expected) << c;
        EXPECT_LT(c, 0x80u) << c;
    }
}

}  // namespace
}  // namespace kel
