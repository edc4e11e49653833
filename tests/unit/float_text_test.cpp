// Float and decimal text conversion: digit generation, the language's layout of float
// text, correctly rounded reading and the special texts.
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "runtime/float_text.h"

namespace kel::rt {
namespace {

double parse(const std::string& s, i32* left = nullptr, i32 adjust = 0) {
    return parse_float(s.data(), s.data() + s.size(), adjust, left);
}

u64 bits(double d) {
    u64 b;
    std::memcpy(&b, &d, 8);
    return b;
}

TEST(FloatText, FormLayout) {
    struct Case {
        double v;
        i32 precision;
        bool keep_point;
        const char* want;
    };
    const Case cases[] = {
        {1.0, 0, true, "1.0"},
        {0.1, 0, true, "0.1"},
        {123.456, 0, true, "123.456"},
        {1e16, 0, true, "10000000000000000.0"},
        {1e17, 0, true, "1.0e17"},
        {1.5e17, 0, true, "1.5e17"},
        {1e-6, 0, true, "0.000001"},
        {1e-7, 0, true, "0.0000001"},
        {1e-8, 0, true, "1.0e-8"},
        {-2.5e-10, 0, true, "-2.5e-10"},
        {1.5e300, 0, true, "1.5e300"},
        {1.0, 0, false, "1"},
        {1e17, 0, false, "1e17"},
        {0.1 + 0.2, 0, true, "0.30000000000000004"},
        {0.1 + 0.2, 6, true, "0.3"},
        {2.0, 6, false, "2"},
        {2.0, 6, true, "2.0"},
        {123456.789, 4, true, "123500.0"},
        {-0.5, 0, true, "-0.5"},
        {1.7976931348623157e308, 0, true, "1.7976931348623157e308"},
        {4.9406564584124654e-324, 0, true, "5.0e-324"},
        {12345678901234567890.0, 0, true, "1.2345678901234567e19"},
    };
    for (const Case& c : cases)
        EXPECT_STREQ(form_float(c.v, c.precision, c.keep_point), c.want) << c.v << " precision " << c.precision;
}

TEST(FloatText, SpecialValuesAndZeros) {
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_STREQ(form_float(inf, 0, true), "1.#INF");
    EXPECT_STREQ(form_float(-inf, 0, true), "-1.#INF");
    EXPECT_STREQ(form_float(std::nan(""), 0, true), "1.#NaN");
    EXPECT_STREQ(form_float(-std::nan(""), 0, true), "1.#NaN");
    EXPECT_STREQ(form_float(0.0, 0, true), "0.0");
    EXPECT_STREQ(form_float(-0.0, 0, true), "-0.0");
    EXPECT_STREQ(form_float(0.0, 0, false), "0");
    EXPECT_STREQ(form_float(-0.0, 0, false), "-0");

    i32 e, n;
    bool negative;
    float_to_digits(-inf, 0, &e, &negative, &n, false);
    EXPECT_EQ(e, 9999);
    EXPECT_TRUE(negative);
    float_to_digits(-0.0, 0, &e, &negative, &n, false);
    EXPECT_EQ(e, 9998);
    EXPECT_TRUE(negative);
}

TEST(FloatText, DigitsAndExponent) {
    i32 e, n;
    bool negative;
    const char* d = float_to_digits(-123.5, 0, &e, &negative, &n, false);
    EXPECT_STREQ(d, "1235");
    EXPECT_EQ(e, 3);
    EXPECT_EQ(n, 4);
    EXPECT_TRUE(negative);
    EXPECT_EQ(d[-1], '-');  // a negative value's text starts one character earlier
    d = float_to_digits(1.0, 0, &e, &negative, &n, false);
    EXPECT_STREQ(d, "1");
    EXPECT_EQ(e, 1);
    // Fixed significant digits drop trailing zeros after rounding.
    d = float_to_digits(0.12996, 3, &e, &negative, &n, false);
    EXPECT_STREQ(d, "13");
    EXPECT_EQ(e, 0);
}

TEST(FloatText, ShortestDigitsRoundTrip) {
    const double values[] = {0.1, 1.0 / 3, 2.0 / 3, 1e23, 5e-324, 2.2250738585072014e-308, 123456789.125,
                             9007199254740993.0, 0.30000000000000004, 1.7976931348623157e308};
    for (double v : values) {
        for (double x : {v, -v}) {
            const char* text = form_float(x, 0, true);
            i32 left = -1;
            double back = parse(text, &left);
            EXPECT_EQ(bits(back), bits(x)) << text;
            EXPECT_EQ(left, 0) << text;
        }
    }
}

TEST(FloatText, ParseCorrectlyRounded) {
    EXPECT_EQ(parse("1.7976931348623157e308"), 1.7976931348623157e308);
    EXPECT_EQ(parse("1e309"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(parse("-1e309"), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(parse("4.9e-324"), std::numeric_limits<double>::denorm_min());
    EXPECT_EQ(parse("2.2250738585072011e-308"), 2.2250738585072011e-308);
    EXPECT_EQ(parse("1e-400"), 0.0);
    EXPECT_EQ(parse("0.1"), 0.1);
    EXPECT_EQ(parse("+12.5e-1"), 1.25);
    EXPECT_EQ(parse(".5"), 0.5);
    EXPECT_EQ(parse("5."), 5.0);
    EXPECT_EQ(parse("000123.4500"), 123.45);
    EXPECT_EQ(parse("0.000000000000000000000000000001"), 1e-30);
    // A halfway case that a naive reading rounds the wrong way.
    EXPECT_EQ(parse("9007199254740993"), 9007199254740992.0);
    EXPECT_EQ(parse("9007199254740993.0000000000000000000000001"), 9007199254740994.0);
    // Many digits: correct rounding does not depend on the length of the text.
    std::string long_text = "0." + std::string(400, '3');
    EXPECT_EQ(parse(long_text), 1.0 / 3);
    std::string big = "1" + std::string(308, '0');
    EXPECT_EQ(parse(big), 1e308);
}

TEST(FloatText, ParseExponentAdjustment) {
    EXPECT_EQ(parse("15", nullptr, -1), 1.5);
    EXPECT_EQ(parse("1.5e3", nullptr, 2), 150000.0);
    EXPECT_EQ(parse("1", nullptr, 400), std::numeric_limits<double>::infinity());
}

TEST(FloatText, ParseZerosAndSigns) {
    // "-0" reads as +0.0 (stored texts rely on it), "-0.0" as -0.0, so a molded -0.0
    // reads back exactly.
    EXPECT_EQ(bits(parse("-0")), bits(0.0));
    EXPECT_EQ(bits(parse("-00")), bits(0.0));
    EXPECT_EQ(bits(parse("-0.0")), bits(-0.0));
    EXPECT_EQ(bits(parse(form_float(-0.0, 0, true))), bits(-0.0));
    EXPECT_EQ(bits(parse("0e5")), bits(0.0));
    EXPECT_EQ(bits(parse("-0e5")), bits(-0.0));
    // A negative value that underflows reads as +0.0.
    EXPECT_EQ(bits(parse("-1e-400")), bits(0.0));
}

TEST(FloatText, ParseSpecialTexts) {
    const double inf = std::numeric_limits<double>::infinity();
    i32 left = -1;
    EXPECT_EQ(parse("1.#INF", &left), inf);
    EXPECT_EQ(left, 0);
    EXPECT_EQ(parse("-1.#INF", &left), -inf);
    EXPECT_EQ(left, 0);
    double nan = parse("1.#NaN", &left);
    EXPECT_TRUE(std::isnan(nan));
    EXPECT_FALSE(std::signbit(nan));
    EXPECT_EQ(left, 0);
    EXPECT_TRUE(std::isnan(parse("-1.#nan")));
    EXPECT_FALSE(std::signbit(parse("-1.#nan")));
    EXPECT_EQ(parse("1.#i", &left), inf);
    // Two digits before the point: no special text.
    EXPECT_EQ(parse("12.#INF", &left), 12.0);
    EXPECT_EQ(left, 4);
}

TEST(FloatText, ParseStopsWhereTheNumberEnds) {
    struct Case {
        const char* text;
        double value;
        i32 left;
    };
    const Case cases[] = {
        {"12abc", 12.0, 3}, {"1e", 1.0, 1}, {"1e+", 1.0, 2}, {"1ex", 1.0, 2}, {"1.5e2x", 150.0, 1},
        {"abc", 0.0, 3},    {"", 0.0, 0},   {".", 0.0, 1},   {"-", 0.0, 1},   {"1,5", 1.0, 2},
    };
    for (const Case& c : cases) {
        i32 left = -1;
        EXPECT_EQ(parse(c.text, &left), c.value) << c.text;
        EXPECT_EQ(left, c.left) << c.text;
    }
}

TEST(FloatText, AngleToRadians) {
    const double pi = 3.141592653589793;
    for (i32 kind : {0, 1, 2}) EXPECT_DOUBLE_EQ(angle_to_radians(270, kind), -pi / 2) << kind;
    EXPECT_DOUBLE_EQ(angle_to_radians(135, 2), 45 * pi / 180);
    EXPECT_DOUBLE_EQ(angle_to_radians(135, 0), -45 * pi / 180);
    EXPECT_DOUBLE_EQ(angle_to_radians(135, 1), 135 * pi / 180);
    EXPECT_EQ(angle_to_radians(720, 1), 0.0);
    EXPECT_DOUBLE_EQ(angle_to_radians(-135, 2), -45 * pi / 180);
}

}  // namespace
}  // namespace kel::rt
