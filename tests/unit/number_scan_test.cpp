// Text-to-number scanning over 1-, 2- and 4-byte units.
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "lexer/number_scan.h"

namespace kel::lex {
namespace {

// The same text in each unit width.
template <class Unit>
std::vector<Unit> units(const std::u32string& s) {
    return std::vector<Unit>(s.begin(), s.end());
}

template <class Fn>
void for_each_width(const std::u32string& text, Fn check) {
    auto u1 = units<u8>(text);
    auto u2 = units<u16>(text);
    auto u4 = units<u32>(text);
    check(u1.data(), 1u);
    check(u2.data(), 2u);
    check(u4.data(), 4u);
}

TEST(NumberScan, Integers) {
    struct Case {
        std::u32string text;
        i32 value;  // when the scan succeeds, or the digits read before the failure
        i32 status;
    };
    const Case cases[] = {
        {U"0", 0, 0},
        {U"42", 42, 0},
        {U"+42", 42, 0},
        {U"-42", -42, 0},
        {U"1'000'000", 1000000, 0},
        {U"-'1'2", -12, 0},
        {U"2147483647", 2147483647, 0},
        {U"-2147483648", i32(0x80000000u), 0},
        {U"12a", 12, SCAN_FAILED},
        {U"1 2", 1, SCAN_FAILED},
        {U"1.5", 1, SCAN_FAILED},
        {U"", 0, SCAN_FAILED},
        {U"-", 0, SCAN_FAILED},
        {U"'", 0, SCAN_FAILED},
        {U"12\u0661", 12, SCAN_FAILED},  // a digit of another script is no decimal digit
    };
    for (const Case& c : cases) {
        for_each_width(c.text, [&](const void* p, u32 unit) {
            i32 status = 0;
            i32 v = scan_integer(p, u32(c.text.size()), unit, &status);
            EXPECT_EQ(status, c.status) << "case " << c.value << " unit " << unit;
            EXPECT_EQ(v, c.value) << "unit " << unit;
        });
    }
}

TEST(NumberScan, IntegerOverflow) {
    for (const char32_t* t : {U"2147483648", U"-2147483649", U"99999999999999999999", U"1'0000'0000'00"}) {
        std::u32string text(t);
        for_each_width(text, [&](const void* p, u32 unit) {
            i32 status = 0;
            scan_integer(p, u32(text.size()), unit, &status);
            EXPECT_EQ(status, SCAN_OVERFLOW) << unit;
        });
    }
}

TEST(NumberScan, Floats) {
    struct Case {
        std::u32string text;
        double value;
    };
    const Case cases[] = {
        {U"3,5", 3.5},     {U"3.5", 3.5},         {U"-1.25e2", -125.0}, {U"1'000.5", 1000.5},
        {U".5", 0.5},      {U"5.", 5.0},          {U"1e-3", 0.001},     {U"+2", 2.0},
        {U"1.5'5", 1.55},  {U"0.1", 0.1},         {U"1E+2", 100.0},     {U"1'", 1.0},
    };
    for (const Case& c : cases) {
        for_each_width(c.text, [&](const void* p, u32 unit) {
            i32 status = 0;
            EXPECT_EQ(scan_float(p, u32(c.text.size()), unit, &status), c.value) << unit;
            EXPECT_EQ(status, 0);
        });
    }
}

TEST(NumberScan, FloatFailures) {
    const std::u32string bad[] = {U"1.5.", U"abc", U"", U"-", U".", U"-.", U"1e", U"1e+", U"1''0",
                                  U"'1", U"1.#INF", U"1 ", U"1.5\u00e9", U"1e5.0", U".'5"};
    for (const auto& text : bad) {
        for_each_width(text, [&](const void* p, u32 unit) {
            i32 status = 0;
            double v = scan_float(p, u32(text.size()), unit, &status);
            EXPECT_EQ(status, SCAN_FAILED) << std::string(text.begin(), text.end()) << " unit " << unit;
            EXPECT_TRUE(std::isnan(v));
        });
    }
}

TEST(NumberScan, FloatLengthLimit) {
    std::u32string ok = U"1." + std::u32string(310, U'0');
    std::u32string too_long = U"1." + std::u32string(311, U'0');
    i32 status = 0;
    EXPECT_EQ(scan_float(units<u32>(ok).data(), u32(ok.size()), 4, &status), 1.0);
    EXPECT_EQ(status, 0);
    scan_float(units<u32>(too_long).data(), u32(too_long.size()), 4, &status);
    EXPECT_EQ(status, SCAN_FAILED);
}

TEST(NumberScan, DecimalTextCheck) {
    for (const char* ok : {"1", "-1", "+-1", "1.", ".5", "1.5e10", "1'000.5", "1.5'5", "1e-5", "."})
        EXPECT_TRUE(check_decimal_text(ok, u32(strlen(ok)))) << ok;
    for (const char* bad : {"", "-", "1e", "1e-", "1..5", "1.5.", "'1", "1''", "a", "1.e5", "1e5'"})
        EXPECT_FALSE(check_decimal_text(bad, u32(strlen(bad)))) << bad;
}

}  // namespace
}  // namespace kel::lex
