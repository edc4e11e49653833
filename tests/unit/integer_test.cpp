// integer!: arithmetic with overflow promotion, division, power, rounding, conversions,
// text and comparison.
#include <cmath>

#include "datatypes/integer.h"
#include "datatypes/random.h"
#include "number_helpers.h"
#include "runtime/symbols.h"

namespace kel {
namespace {

using namespace test;
using rt::Err;

constexpr i32 MIN = i32(0x80000000u);
constexpr i32 MAX = 2147483647;

class Integer : public RuntimeTest {};

// An expected result: an integer!, a float! or an error.
struct Want {
    u32 type;
    double value;
    Err error = Err::count;
};
Want I(i64 v) { return {T_INTEGER, double(v)}; }
Want F(double v) { return {T_FLOAT, v}; }
Want E(Err e) { return {0, 0, e}; }

void expect_result(int action, Cell left, Cell right, const Want& want, const char* what) {
    if (want.error != Err::count) {
        EXPECT_EQ(stack_action_error(action, left, right), want.error) << what;
        return;
    }
    Cell r = run_stack_action(action, left, right);
    ASSERT_EQ(type_of(&r), want.type) << what;
    if (want.type == T_FLOAT) EXPECT_EQ(get_float(&r), want.value) << what;
    else EXPECT_EQ(double(i32(r.data2)), want.value) << what;
}

TEST_F(Integer, ArithmeticTable) {
    struct Case {
        int action;
        i32 a, b;
        Want want;
        const char* what;
    };
    const Case cases[] = {
        {A_ADD, 1, 2, I(3), "1 + 2"},
        {A_ADD, MAX, 1, F(2147483648.0), "max + 1 promotes"},
        {A_ADD, MIN, -1, F(-2147483649.0), "min + -1 promotes"},
        {A_ADD, MAX, MAX, F(4294967294.0), "max + max"},
        {A_ADD, MIN, MIN, F(-4294967296.0), "min + min"},
        {A_ADD, MAX, MIN, I(-1), "max + min"},
        {A_SUBTRACT, MIN, 1, F(-2147483649.0), "min - 1"},
        {A_SUBTRACT, 0, MIN, F(2147483648.0), "0 - min"},
        {A_SUBTRACT, -1, MIN, I(MAX), "-1 - min"},
        {A_SUBTRACT, 5, 7, I(-2), "5 - 7"},
        {A_MULTIPLY, 65536, 65536, F(4294967296.0), "65536 * 65536"},
        {A_MULTIPLY, 46341, 46341, F(2147488281.0), "46341 squared"},
        {A_MULTIPLY, MIN, -1, F(2147483648.0), "min * -1"},
        {A_MULTIPLY, MIN, 1, I(MIN), "min * 1"},
        {A_MULTIPLY, -46340, 46340, I(-2147395600), "fits"},
        {A_MULTIPLY, MAX, MAX, F(4611686014132420609.0), "max squared, rounded once"},
        {A_DIVIDE, 7, 2, F(3.5), "inexact division gives a float"},
        {A_DIVIDE, 6, 2, I(3), "exact division stays integer"},
        {A_DIVIDE, -6, 3, I(-2), "-6 / 3"},
        {A_DIVIDE, -7, 2, F(-3.5), "-7 / 2"},
        {A_DIVIDE, 1, 3, F(1.0 / 3), "1 / 3"},
        {A_DIVIDE, MIN, 1, I(MIN), "min / 1"},
        {A_DIVIDE, MIN, 2, I(MIN / 2), "min / 2"},
        {A_DIVIDE, MIN, -1, E(Err::math_overflow), "min / -1"},
        {A_DIVIDE, 1, 0, E(Err::math_zero_divide), "1 / 0"},
        {A_DIVIDE, 0, 0, E(Err::math_zero_divide), "0 / 0"},
        {A_REMAINDER, -7, 2, I(-1), "remainder takes the dividend's sign"},
        {A_REMAINDER, 7, -2, I(1), "7 // -2"},
        {A_REMAINDER, MIN, -1, E(Err::math_overflow), "min // -1"},
        {A_REMAINDER, 5, 0, E(Err::math_zero_divide), "5 // 0"},
        {A_REMAINDER, MIN, 3, I(MIN % 3), "min // 3"},
        {A_AND_T, 12, 10, I(8), "and~"},
        {A_OR_T, 12, 10, I(14), "or~"},
        {A_XOR_T, 12, 10, I(6), "xor~"},
        {A_AND_T, -1, MIN, I(MIN), "and~ on the sign bit"},
    };
    for (const Case& c : cases) expect_result(c.action, int_cell(c.a), int_cell(c.b), c.want, c.what);
}

TEST_F(Integer, MixedOperands) {
    // A char! right operand keeps the result integer!.
    Cell r = run_stack_action(A_ADD, int_cell(1), char_cell('a'));
    EXPECT_EQ(type_of(&r), T_INTEGER);
    EXPECT_EQ(i32(r.data2), 98);
    // A float! right operand goes through the float arithmetic.
    r = run_stack_action(A_ADD, int_cell(1), float_cell(0.5));
    EXPECT_EQ(type_of(&r), T_FLOAT);
    EXPECT_EQ(get_float(&r), 1.5);
    r = run_stack_action(A_MULTIPLY, int_cell(2), float_cell(0.5, T_PERCENT));
    EXPECT_EQ(type_of(&r), T_FLOAT);
    EXPECT_EQ(get_float(&r), 1.0);
    r = run_stack_action(A_ADD, int_cell(60), float_cell(1.5, T_TIME));
    EXPECT_EQ(type_of(&r), T_TIME);
    EXPECT_EQ(get_float(&r), 61.5);
    // Integer division by 0.0 is a float division: no error.
    r = run_stack_action(A_DIVIDE, int_cell(1), float_cell(0.0));
    EXPECT_EQ(get_float(&r), HUGE_VAL);
    // Bitwise codes on a float operand.
    EXPECT_EQ(stack_action_error(A_AND_T, int_cell(1), float_cell(1.0)), Err::script_cannot_use);
}

TEST_F(Integer, OperandsOfOtherTypes) {
    Cell pair;
    set_cell(&pair, T_PAIR, 1, 2);
    Cell tuple;
    set_cell(&tuple, T_TUPLE);
    Cell date;
    set_cell(&date, T_DATE);
    EXPECT_EQ(stack_action_error(A_DIVIDE, int_cell(1), pair), Err::script_not_related);
    EXPECT_EQ(stack_action_error(A_SUBTRACT, int_cell(1), tuple), Err::script_not_related);
    EXPECT_EQ(stack_action_error(A_DIVIDE, int_cell(1), tuple), Err::script_not_related);
    EXPECT_EQ(stack_action_error(A_MULTIPLY, int_cell(1), date), Err::script_not_related);
    EXPECT_EQ(stack_action_error(A_ADD, int_cell(1), none_cell()), Err::script_invalid_type);
    EXPECT_EQ(stack_action_error(A_ADD, int_cell(1), text_cell(U"1")), Err::script_invalid_type);
    EXPECT_EQ(stack_action_error(A_ADD, int_cell(1), logic_cell(true)), Err::script_invalid_type);
}

TEST_F(Integer, CoreWithoutResultCellTruncates) {
    EXPECT_EQ(dt::integer_do_math(7, 2, dt::OP_DIVIDE, nullptr), 3);
    EXPECT_EQ(dt::integer_do_math(-7, 2, dt::OP_DIVIDE, nullptr), -3);
    // A scratch cell shows an overflow by turning float!.
    Cell scratch;
    set_cell(&scratch, T_UNSET);
    dt::integer_do_math(MAX, 1, dt::OP_ADD, &scratch);
    EXPECT_EQ(type_of(&scratch), T_FLOAT);
    EXPECT_EQ(get_float(&scratch), 2147483648.0);
    set_cell(&scratch, T_UNSET);
    EXPECT_EQ(dt::integer_do_math(3, 4, dt::OP_MULTIPLY, &scratch), 12);
    EXPECT_EQ(type_of(&scratch), T_UNSET);
}

TEST_F(Integer, Power) {
    struct Case {
        i32 base;
        Cell exponent;
        Want want;
    };
    const Case cases[] = {
        {2, int_cell(30), I(1073741824)},
        {2, int_cell(31), F(2147483648.0)},
        {-2, int_cell(31), I(MIN)},
        {3, int_cell(40), F(std::pow(3.0, 40.0))},
        {7, int_cell(0), I(1)},
        {0, int_cell(0), I(1)},
        {-3, int_cell(3), I(-27)},
        {2, int_cell(-1), F(0.5)},
        {4, float_cell(0.5), F(2.0)},
        {65536, int_cell(2), F(4294967296.0)},
        {46341, int_cell(2), F(2147488281.0)},
        {1, int_cell(MAX), I(1)},
        {-1, int_cell(MAX), I(-1)},
    };
    for (const Case& c : cases) expect_result(A_POWER, int_cell(c.base), c.exponent, c.want, "power");
    EXPECT_EQ(stack_action_error(A_POWER, int_cell(2), text_cell(U"2")), Err::script_expect_arg);
    EXPECT_EQ(stack_action_error(A_POWER, int_cell(2), float_cell(0.5, T_PERCENT)), Err::script_expect_arg);
}

TEST_F(Integer, UnaryActions) {
    Cell v = int_cell(5);
    dt::handler<A_NEGATE>(T_INTEGER)(&v);
    EXPECT_EQ(i32(v.data2), -5);
    v = int_cell(MIN);
    EXPECT_EQ(catch_error([&] { dt::handler<A_NEGATE>(T_INTEGER)(&v); }), Err::math_overflow);
    EXPECT_EQ(stack_action_error(A_ABSOLUTE, int_cell(MIN), none_cell()), Err::math_overflow);
    EXPECT_EQ(i32(run_unary_action(A_ABSOLUTE, int_cell(-7)).data2), 7);
    EXPECT_EQ(i32(run_unary_action(A_ABSOLUTE, int_cell(MAX)).data2), MAX);
    v = int_cell(0);
    dt::handler<A_COMPLEMENT>(T_INTEGER)(&v);
    EXPECT_EQ(i32(v.data2), -1);
    for (i32 n : {0, 1, -1, 2, -2, MIN, MAX}) {
        Cell c = int_cell(n);
        EXPECT_EQ(dt::handler<A_EVEN_Q>(T_INTEGER)(&c), n % 2 == 0) << n;
        EXPECT_EQ(dt::handler<A_ODD_Q>(T_INTEGER)(&c), n % 2 != 0) << n;
    }
    EXPECT_EQ(dt::integer_sign(-9), -1);
    EXPECT_EQ(dt::integer_sign(0), 0);
    EXPECT_EQ(dt::integer_sign(MAX), 1);
}

TEST_F(Integer, Text) {
    struct Case {
        i32 v;
        const char* text;
    };
    for (Case c : {Case{0, "0"}, Case{7, "7"}, Case{-7, "-7"}, Case{MAX, "2147483647"}, Case{MIN, "-2147483648"},
                   Case{1000000, "1000000"}, Case{-10, "-10"}}) {
        EXPECT_STREQ(dt::integer_to_text(c.v), c.text);
        i32 left = 0;
        EXPECT_EQ(form_text(int_cell(c.v), &left, nullptr, 100), c.text);
        EXPECT_EQ(left, 100 - i32(strlen(c.text)));
        std::u32string molded = mold_text(int_cell(c.v));
        EXPECT_EQ(std::string(molded.begin(), molded.end()), c.text);
    }
}

// round/to n scale with each refinement.
enum Refine { NONE, EVEN, DOWN, HALF_DOWN, FLOOR, CEILING, HALF_CEILING };
Cell round_int(i32 n, Cell* scale, Refine r) {
    Cell v = int_cell(n);
    return *dt::handler<A_ROUND>(T_INTEGER)(&v, scale, r == EVEN, r == DOWN, r == HALF_DOWN, r == FLOOR,
                                            r == CEILING, r == HALF_CEILING);
}

TEST_F(Integer, RoundTable) {
    struct Case {
        i32 n;
        i32 scale;
        Refine refine;
        i32 want;
    };
    const Case cases[] = {
        {7, 0, NONE, 7},
        {15, 10, NONE, 20},
        {-15, 10, NONE, -20},
        {14, 10, NONE, 10},
        {16, 10, NONE, 20},
        {-14, 10, NONE, -10},
        {-16, 10, NONE, -20},
        {25, 10, EVEN, 20},
        {35, 10, EVEN, 40},
        {-25, 10, EVEN, -20},
        {26, 10, EVEN, 30},
        {15, 10, HALF_DOWN, 10},
        {-15, 10, HALF_DOWN, -10},
        {16, 10, HALF_DOWN, 20},
        {-11, 10, FLOOR, -20},
        {11, 10, FLOOR, 10},
        {-11, 10, CEILING, -10},
        {11, 10, CEILING, 20},
        {-15, 10, HALF_CEILING, -10},
        {15, 10, HALF_CEILING, 20},
        {19, 10, DOWN, 10},
        {-19, 10, DOWN, -10},
        {20, 10, FLOOR, 20},
        {7, -2, NONE, 8},  // the scale's sign does not matter
        {MAX, 10, FLOOR, 2147483640},
        {MAX, 10, DOWN, 2147483640},
        {2147483644, 10, NONE, 2147483640},
        {-2147483647, 2, FLOOR, MIN},  // -hi fits although hi does not
        {MIN, 10, NONE, MIN},          // the most negative integer is left as it is
    };
    for (const Case& c : cases) {
        Cell scale = int_cell(c.scale);
        Cell r = round_int(c.n, &scale, c.refine);
        EXPECT_EQ(type_of(&r), T_INTEGER);
        EXPECT_EQ(i32(r.data2), c.want) << c.n << " to " << c.scale << " refinement " << c.refine;
    }
    Cell r = round_int(5, nullptr, NONE);
    EXPECT_EQ(i32(r.data2), 5);
}

TEST_F(Integer, RoundOverflowOnlyWhereTheLargerBoundIsUsed) {
    struct Case {
        i32 n;
        i32 scale;
        Refine refine;
    };
    for (Case c : {Case{MAX, 10, CEILING}, Case{MAX, 10, NONE}, Case{2147483645, 10, NONE},
                   Case{-2147483647, 10, FLOOR}, Case{MAX, 2, HALF_CEILING}}) {
        Cell scale = int_cell(c.scale);
        EXPECT_EQ(catch_error([&] { round_int(c.n, &scale, c.refine); }), Err::math_overflow)
            << c.n << " refinement " << c.refine;
    }
    Cell scale = int_cell(MIN);
    EXPECT_EQ(catch_error([&] { round_int(5, &scale, NONE); }), Err::math_overflow);
    Cell money;
    set_cell(&money, T_MONEY);
    EXPECT_EQ(catch_error([&] { round_int(5, &money, NONE); }), Err::script_not_related);
}

TEST_F(Integer, RoundWithFloatScaleGoesToFloats) {
    Cell scale = float_cell(0.5);
    Cell r = round_int(7, &scale, NONE);
    EXPECT_EQ(type_of(&r), T_FLOAT);
    EXPECT_EQ(get_float(&r), 7.0);
    scale = float_cell(2.5);
    r = round_int(7, &scale, NONE);
    EXPECT_EQ(type_of(&r), T_FLOAT);
    EXPECT_EQ(get_float(&r), 7.5);
}

TEST_F(Integer, ToFromTextAndNumbers) {
    struct Case {
        Cell spec;
        i32 want;
    };
    const Case cases[] = {
        {text_cell(U"42"), 42},
        {text_cell(U"-2147483648"), MIN},
        {text_cell(U"1'000"), 1000},
        {text_cell(U"12", T_FILE), 12},
        {text_cell(U"+7", T_URL), 7},
        {char_cell('a'), 97},
        {float_cell(2.9), 2},
        {float_cell(-2.9), -2},
        {float_cell(2147483647.0), MAX},
        {float_cell(-2147483648.0), MIN},
        {float_cell(0.5, T_PERCENT), 0},
        {float_cell(1.5, T_TIME), 2},
        {float_cell(-1.7, T_TIME), -2},
        {float_cell(-1.5, T_TIME), -2},
        {float_cell(2.4, T_TIME), 2},
        {binary_cell({1, 2}), 258},
        {binary_cell({1, 2, 3, 4}), 16909060},
        {binary_cell({1, 2, 3, 4, 5}), 16909060},
        {binary_cell({0xFF, 0xFF, 0xFF, 0xFF}), -1},
        {binary_cell({}), 0},
        {int_cell(-5), -5},
    };
    for (const Case& c : cases) {
        Cell r = make_value(A_TO, T_INTEGER, c.spec);
        EXPECT_EQ(type_of(&r), T_INTEGER);
        EXPECT_EQ(i32(r.data2), c.want) << "spec type " << int(type_of(&c.spec));
    }
}

TEST_F(Integer, ConversionErrors) {
    struct Case {
        Cell spec;
        Err error;
    };
    const Case cases[] = {
        {text_cell(U"abc"), Err::script_bad_to_arg},
        {text_cell(U"12a"), Err::script_bad_to_arg},
        {text_cell(U""), Err::script_bad_to_arg},
        {text_cell(U"2147483648"), Err::script_bad_to_arg},
        {float_cell(1e10), Err::script_type_limit},
        {float_cell(-2147483649.0), Err::script_type_limit},
        {float_cell(std::nan("")), Err::script_type_limit},
        {float_cell(HUGE_VAL), Err::script_type_limit},
        {float_cell(3e9, T_TIME), Err::script_type_limit},
        {none_cell(), Err::script_bad_to_arg},
        {logic_cell(true), Err::script_bad_to_arg},
        {block_cell({int_cell(1)}), Err::script_bad_to_arg},
    };
    for (const Case& c : cases)
        EXPECT_EQ(make_error(A_TO, T_INTEGER, c.spec), c.error) << "spec type " << int(type_of(&c.spec));
}

TEST_F(Integer, MakeFromLogic) {
    EXPECT_EQ(i32(make_value(A_MAKE, T_INTEGER, logic_cell(true)).data2), 1);
    EXPECT_EQ(i32(make_value(A_MAKE, T_INTEGER, logic_cell(false)).data2), 0);
    EXPECT_EQ(i32(make_value(A_MAKE, T_INTEGER, text_cell(U"9")).data2), 9);
    EXPECT_EQ(make_error(A_TO, T_INTEGER, logic_cell(true)), Err::script_bad_to_arg);
}

TEST_F(Integer, HexText) {
    Cell issue = none_cell();
    auto hex = [&](const char* s) { return dt::integer_from_hex_text(reinterpret_cast<const u8*>(s), u32(strlen(s)), &issue); };
    EXPECT_EQ(hex("FF"), 255);
    EXPECT_EQ(hex("ff"), 255);
    EXPECT_EQ(hex("FFFFFFFF"), -1);
    EXPECT_EQ(hex("7fffffff"), MAX);
    for (const char* bad : {"", "123456789", "G1", "1 ", "\xC1", "-1"})
        EXPECT_EQ(catch_error([&] { hex(bad); }), Err::script_invalid_data) << bad;
}

TEST_F(Integer, ToFromIssue) {
    auto issue = [](const char* name) {
        Cell c;
        set_cell(&c, T_ISSUE, 0, rt::make_symbol(name), u32(-1));
        return c;
    };
    EXPECT_EQ(i32(make_value(A_TO, T_INTEGER, issue("FF")).data2), 255);
    EXPECT_EQ(i32(make_value(A_TO, T_INTEGER, issue("deadBEEF")).data2), i32(0xDEADBEEFu));
    EXPECT_EQ(make_error(A_TO, T_INTEGER, issue("123456789")), Err::script_invalid_data);
    EXPECT_EQ(make_error(A_TO, T_INTEGER, issue("x1")), Err::script_invalid_data);
    // Bytes above 127 are no hexadecimal digits (U+00C1 is not "A").
    EXPECT_EQ(make_error(A_TO, T_INTEGER, issue("\xC3\x81")), Err::script_invalid_data);
}

TEST_F(Integer, Compare) {
    struct Case {
        Cell a, b;
        i32 op;
        i32 want;
    };
    const Case cases[] = {
        {int_cell(1), int_cell(2), 3, -1},
        {int_cell(MIN), int_cell(MAX), 3, -1},
        {int_cell(97), char_cell('a'), 0, 0},
        {int_cell(97), char_cell('a'), 2, 1},  // strict equality needs the same type
        {int_cell(1), float_cell(1.0), 0, 0},
        {int_cell(1), float_cell(1.0), 2, 1},
        {int_cell(1), float_cell(1.0), 9, 1},
        {int_cell(1), float_cell(1.5), 3, -1},
        {int_cell(2), float_cell(1.5), 5, 1},
        {int_cell(1), float_cell(std::nan("")), 3, 1},  // every ordering with NaN is false
        {int_cell(1), float_cell(std::nan("")), 5, -1},
        {int_cell(1), text_cell(U"1"), 0, -2},
        {int_cell(1), none_cell(), 3, -2},
    };
    for (const Case& c : cases) EXPECT_EQ(compare_op(c.a, c.b, c.op), c.want) << "op " << c.op;
}

TEST_F(Integer, Random) {
    auto random = dt::handler<A_RANDOM>(T_INTEGER);
    for (i32 n : {1, 6, -6, MAX, MIN}) {
        for (int i = 0; i < 50; ++i) {
            Cell v = int_cell(n);
            random(&v, false, false, false);
            i32 r = i32(v.data2);
            if (n > 0) EXPECT_TRUE(r >= 1 && r <= n) << n << " gave " << r;
            else EXPECT_TRUE(r <= -1 && (n == MIN || r >= n)) << n << " gave " << r;
        }
    }
    Cell zero = int_cell(0);
    random(&zero, false, true, false);
    EXPECT_EQ(i32(zero.data2), 0);
    // Seeding gives a repeatable sequence and an unset result.
    Cell seed = int_cell(42);
    random(&seed, true, false, false);
    EXPECT_EQ(type_of(&seed), T_UNSET);
    Cell a = int_cell(1000000);
    random(&a, false, false, false);
    seed = int_cell(42);
    random(&seed, true, false, false);
    Cell b = int_cell(1000000);
    random(&b, false, false, false);
    EXPECT_EQ(a.data2, b.data2);
}

TEST_F(Integer, CellHelpers) {
    Node block = rt::alloc_cells(2);
    dt::ks_append_integer(block, 5);
    dt::ks_append_integer(block, -5);
    EXPECT_EQ(rt::series_length(block), 2u);
    EXPECT_EQ(i32(rt::cells_of(rt::buffer_of(block))[1].data2), -5);
    Cell* pushed = dt::push_integer(9);
    EXPECT_EQ(type_of(pushed), T_INTEGER);
    dt::box_integer(11);
    EXPECT_EQ(dt::result_integer(), 11);
    EXPECT_EQ(dt::result_integer_or_zero(), 11);
    set_cell(rt::g_args.base, T_NONE);
    EXPECT_EQ(dt::result_integer_or_zero(), 0);
}

}  // namespace
}  // namespace kel

namespace kel {
namespace {

// An operation code outside 0..7 cannot come from the language: it is fatal runtime error 101.
TEST(IntegerDeathTest, UnknownOperationCodeIsFatal) {
    EXPECT_EXIT(dt::integer_do_math(1, 2, 8, nullptr), ::testing::ExitedWithCode(101), "");
}

}  // namespace
}  // namespace kel
