// float! and the mixed-number arithmetic: result types, tolerant equality, the float text
// writer, rounding and conversions.
#include <cmath>
#include <limits>

#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "evaluator/actions.h"
#include "number_helpers.h"

namespace kel {
namespace {

using namespace test;
using rt::Err;

const double INF = std::numeric_limits<double>::infinity();
const double NaN = std::nan("");

class Float : public RuntimeTest {
protected:
    void TearDown() override { dt::g_float_pretty_print = true; }
};

TEST_F(Float, ResultTypesOfMixedOperands) {
    struct Case {
        int action;
        Cell a, b;
        u32 type;
        double value;
        const char* what;
    };
    const Case cases[] = {
        {A_MULTIPLY, float_cell(0.5, T_PERCENT), int_cell(2), T_PERCENT, 1.0, "50% * 2 keeps percent!"},
        {A_MULTIPLY, int_cell(2), float_cell(0.5, T_PERCENT), T_FLOAT, 1.0, "2 * 50% is float!"},
        {A_ADD, float_cell(0.5, T_PERCENT), float_cell(0.25, T_PERCENT), T_PERCENT, 0.75, "percent + percent"},
        {A_ADD, float_cell(0.5, T_PERCENT), float_cell(1.0), T_PERCENT, 1.5, "percent + float"},
        {A_ADD, float_cell(1.0), float_cell(0.5, T_PERCENT), T_FLOAT, 1.5, "float + percent"},
        {A_ADD, float_cell(3600, T_TIME), float_cell(1.5), T_TIME, 3601.5, "time + float"},
        {A_ADD, float_cell(1.5), float_cell(3600, T_TIME), T_TIME, 3601.5, "float + time"},
        {A_ADD, float_cell(3600, T_TIME), float_cell(60, T_TIME), T_TIME, 3660, "time + time"},
        {A_MULTIPLY, float_cell(0.5, T_PERCENT), float_cell(60, T_TIME), T_TIME, 30, "percent * time"},
        {A_ADD, float_cell(1.5), char_cell('a'), T_FLOAT, 98.5, "float + char"},
        {A_ADD, float_cell(1.5), int_cell(2), T_FLOAT, 3.5, "float + integer"},
        {A_DIVIDE, float_cell(1.0), float_cell(0.0), T_FLOAT, INF, "division by zero gives infinity"},
        {A_DIVIDE, float_cell(-1.0), int_cell(0), T_FLOAT, -INF, "negative by zero"},
        {A_SUBTRACT, float_cell(0.5), float_cell(0.25), T_FLOAT, 0.25, "subtract"},
    };
    for (const Case& c : cases) {
        Cell r = run_stack_action(c.action, c.a, c.b);
        EXPECT_EQ(type_of(&r), c.type) << c.what;
        EXPECT_EQ(get_float(&r), c.value) << c.what;
    }
    Cell nan = run_stack_action(A_DIVIDE, float_cell(0.0), float_cell(0.0));
    EXPECT_TRUE(std::isnan(get_float(&nan)));
}

TEST_F(Float, RefusedOperands) {
    Cell pair;
    set_cell(&pair, T_PAIR, 1, 2);
    struct Case {
        int action;
        Cell a, b;
        Err error;
    };
    const Case cases[] = {
        {A_ADD, float_cell(60, T_TIME), char_cell('a'), Err::script_invalid_type},
        {A_ADD, float_cell(0.5, T_PERCENT), char_cell('a'), Err::script_invalid_type},
        {A_ADD, float_cell(1.0), none_cell(), Err::script_invalid_type},
        {A_ADD, float_cell(1.0), text_cell(U"1"), Err::script_invalid_type},
        {A_SUBTRACT, float_cell(1.0), pair, Err::script_not_related},
        {A_DIVIDE, float_cell(1.0), pair, Err::script_not_related},
        {A_SUBTRACT, float_cell(60, T_TIME), pair, Err::script_invalid_type},
    };
    for (const Case& c : cases) EXPECT_EQ(stack_action_error(c.action, c.a, c.b), c.error);
    EXPECT_EQ(catch_error([] { dt::float_math_op(1, 2, dt::OP_XOR); }), Err::script_cannot_use);
}

TEST_F(Float, Remainder) {
    struct Case {
        double x, y, want;  // NaN: a NaN is expected
    };
    const Case cases[] = {
        {5.5, 2, 1.5}, {-5.5, 2, -1.5}, {5.5, INF, 5.5}, {5.5, -INF, 5.5}, {5.5, 0.0, NaN},
        {INF, 2, NaN}, {INF, INF, NaN}, {1, NaN, NaN},   {7, 2.5, 2.0},
    };
    for (const Case& c : cases) {
        Cell r = run_stack_action(A_REMAINDER, float_cell(c.x), float_cell(c.y));
        if (std::isnan(c.want)) EXPECT_TRUE(std::isnan(get_float(&r))) << c.x << " // " << c.y;
        else EXPECT_EQ(get_float(&r), c.want) << c.x << " // " << c.y;
    }
}

TEST_F(Float, TolerantEquality) {
    EXPECT_TRUE(dt::float_almost_equal_q(0.1 + 0.2, 0.3));
    EXPECT_TRUE(dt::float_almost_equal_q(0.0, -0.0));
    EXPECT_TRUE(dt::float_almost_equal_q(1e-17, 2e-17));  // absolute tolerance near zero
    EXPECT_FALSE(dt::float_almost_equal_q(NaN, NaN));
    EXPECT_TRUE(dt::float_almost_equal_q(INF, INF));
    EXPECT_FALSE(dt::float_almost_equal_q(INF, -INF));
    EXPECT_FALSE(dt::float_almost_equal_q(1.0, 1.0000001));
    // Ten units in the last place, not eleven.
    double x = 1000.0, y = 1000.0;
    for (int i = 0; i < 10; ++i) y = std::nextafter(y, 2000.0);
    EXPECT_TRUE(dt::float_almost_equal_q(x, y));
    EXPECT_TRUE(dt::float_almost_equal_q(-x, -y));
    EXPECT_FALSE(dt::float_almost_equal_q(x, std::nextafter(y, 2000.0)));
    // Across zero the keys are adjacent: the smallest subnormals of both signs are close.
    double tiny = std::numeric_limits<double>::denorm_min();
    EXPECT_TRUE(dt::float_almost_equal_q(tiny, -tiny));
    EXPECT_FALSE(dt::float_almost_equal_q(1e300, -1e300));
}

TEST_F(Float, Float32Equality) {
    EXPECT_TRUE(dt::float32_almost_equal_q(0.1f + 0.2f, 0.3f));
    EXPECT_FALSE(dt::float32_almost_equal_q(std::nanf(""), std::nanf("")));
    EXPECT_TRUE(dt::float32_almost_equal_q(0.0f, -0.0f));
    float a = 1.0f, b = a;
    for (int i = 0; i < 10; ++i) b = std::nextafter(b, 2.0f);
    EXPECT_TRUE(dt::float32_almost_equal_q(a, b));
    EXPECT_FALSE(dt::float32_almost_equal_q(a, std::nextafter(b, 2.0f)));
    EXPECT_TRUE(dt::float32_almost_equal_q(INFINITY, INFINITY));
    EXPECT_FALSE(dt::float32_almost_equal_q(INFINITY, -INFINITY));
    EXPECT_FALSE(dt::float32_almost_equal_q(1.0f, -1.0f));
}

TEST_F(Float, Compare) {
    struct Case {
        Cell a, b;
        i32 op;
        i32 want;
    };
    const Case cases[] = {
        {float_cell(0.1 + 0.2), float_cell(0.3), 0, 0},
        {float_cell(0.1 + 0.2), float_cell(0.3), 1, 0},
        {float_cell(0.1 + 0.2), float_cell(0.3), 2, 1},
        {float_cell(0.0), float_cell(-0.0), 0, 0},
        {float_cell(0.0), float_cell(-0.0), 2, 0},
        {float_cell(0.0), float_cell(-0.0), 9, 1},
        {float_cell(1.5), float_cell(1.5), 9, 0},
        {float_cell(NaN), float_cell(NaN), 0, 1},
        {float_cell(NaN), float_cell(NaN), 2, 1},
        {float_cell(NaN), float_cell(1.0), 3, 1},
        {float_cell(NaN), float_cell(1.0), 4, 1},
        {float_cell(NaN), float_cell(1.0), 5, -1},
        {float_cell(NaN), float_cell(1.0), 6, -1},
        {float_cell(1.0), float_cell(NaN), 3, 1},
        {float_cell(1.0), float_cell(2.0), 3, -1},
        {float_cell(3.0), float_cell(2.0), 5, 1},
        {float_cell(1.0), int_cell(1), 0, 0},
        {float_cell(1.0), int_cell(1), 2, 1},
        {float_cell(0.5), float_cell(0.5, T_PERCENT), 0, 0},
        {float_cell(0.5), float_cell(0.5, T_PERCENT), 2, 1},
        {float_cell(97.0), char_cell('a'), 0, -2},
        {float_cell(1.0), none_cell(), 3, -2},
    };
    for (const Case& c : cases) EXPECT_EQ(compare_op(c.a, c.b, c.op), c.want) << "op " << c.op;

    // Through the comparison action, as the language sees it.
    Cell sum = float_cell(0.1 + 0.2), third = float_cell(0.3), nan = float_cell(NaN), one = float_cell(1.0);
    EXPECT_TRUE(ev::compare(&sum, &third, ev::OP_EQUAL));
    EXPECT_FALSE(ev::compare(&sum, &third, ev::OP_NOT_EQUAL));
    EXPECT_FALSE(ev::compare(&sum, &third, ev::OP_STRICT_EQUAL));
    EXPECT_FALSE(ev::compare(&nan, &nan, ev::OP_EQUAL));
    EXPECT_TRUE(ev::compare(&nan, &nan, ev::OP_NOT_EQUAL));
    for (i32 op : {ev::OP_LESSER, ev::OP_LESSER_OR_EQUAL, ev::OP_GREATER, ev::OP_GREATER_OR_EQUAL}) {
        EXPECT_FALSE(ev::compare(&nan, &one, op)) << op;
        EXPECT_FALSE(ev::compare(&one, &nan, op)) << op;
    }
    Cell text = text_cell(U"1");
    EXPECT_EQ(catch_error([&] { ev::compare(&one, &text, ev::OP_LESSER); }), Err::script_invalid_compare);
}

TEST_F(Float, FormText) {
    struct Case {
        double v;
        i32 kind;
        const char* want;
    };
    const Case cases[] = {
        {1.0, 1, "1.0"},
        {1e20, 1, "1.0e20"},
        {1.5e-7, 1, "1.5e-7"},
        {0.1 + 0.7, 1, "0.8"},
        {-0.1 - 0.7, 1, "-0.8"},
        {4.35 * 100, 1, "435.0"},
        {1.0 / 3, 1, "0.3333333333333333"},
        {0.1 + 0.2, 1, "0.3"},
        {9.196879764513999e+23, 1, "9.196879764514e23"},
        {5.136431191639601e+21, 1, "5.1364311916396e21"},
        {1e-300, 1, "0.0"},
        {-0.0, 1, "0.0"},
        {INF, 1, "1.#INF"},
        {-INF, 1, "-1.#INF"},
        {NaN, 1, "1.#NaN"},
        {123456789012.0, 1, "123456789012.0"},
        {1234567890123401.0, 1, "1234567890123401.0"},
        {-1234567890123401.0, 1, "-1234567890123401.0"},
        {12345678901234.01, 1, "12345678901234.0"},
        {-12345678901234.01, 1, "-12345678901234.0"},
        {1e16, 1, "1.0e16"},
        {50.0, 3, "50%"},
        {12.5, 3, "12.5%"},
        {1e-20, 3, "0%"},
        {1.5, 4, "1.5"},
        {2.0, 4, "2"},
        {1.5, 5, "1.5"},
        {2.0, 5, "2"},
        {1e-20, 5, "0"},
        {0.1, 0, "0.1"},
        {3.0, 0, "3.0"},
        {0.5, 2, "0.5%"},
    };
    for (const Case& c : cases) EXPECT_STREQ(dt::form_float_value(c.v, c.kind), c.want) << c.v << " kind " << c.kind;

    dt::g_float_pretty_print = false;
    EXPECT_STREQ(dt::form_float_value(1e-300, 1), "1.0e-300");
    EXPECT_STREQ(dt::form_float_value(0.1 + 0.7, 1), "0.7999999999999999");
    EXPECT_STREQ(dt::form_float_value(0.0, 1), "0.0");
}

TEST_F(Float, FormAndMoldActions) {
    i32 left = 0;
    EXPECT_EQ(form_text(float_cell(0.1 + 0.7), &left, nullptr, 10), "0.8");
    EXPECT_EQ(left, 7);
    struct Case {
        double v;
        const char* want;
    };
    for (Case c : {Case{0.1 + 0.7, "0.7999999999999999"}, Case{1.0, "1.0"}, Case{1e17, "1.0e17"},
                   Case{1e16, "10000000000000000.0"}, Case{1e-7, "0.0000001"}, Case{1e-8, "1.0e-8"},
                   Case{-0.0, "-0.0"}, Case{INF, "1.#INF"}, Case{NaN, "1.#NaN"}, Case{-2.5, "-2.5"}}) {
        std::u32string m = mold_text(float_cell(c.v), false, false, &left, nullptr, 100);
        EXPECT_EQ(std::string(m.begin(), m.end()), c.want);
        EXPECT_EQ(left, 100 - i32(strlen(c.want)));
    }
}

enum Refine { NONE, EVEN, DOWN, HALF_DOWN, FLOOR, CEILING, HALF_CEILING };
Cell round_value(Cell v, Cell* scale, Refine r) {
    return *dt::handler<A_ROUND>(type_of(&v))(&v, scale, r == EVEN, r == DOWN, r == HALF_DOWN, r == FLOOR,
                                              r == CEILING, r == HALF_CEILING);
}

TEST_F(Float, RoundTable) {
    struct Case {
        double v;
        double scale;  // 0: no /to
        Refine refine;
        double want;
    };
    const Case cases[] = {
        {2.5, 0, NONE, 3.0},          {-2.5, 0, NONE, -3.0},         {2.5, 0, EVEN, 2.0},
        {3.5, 0, EVEN, 4.0},          {-2.5, 0, EVEN, -2.0},         {2.5, 0, HALF_DOWN, 2.0},
        {-2.5, 0, HALF_DOWN, -2.0},   {-2.5, 0, HALF_CEILING, -2.0}, {2.5, 0, HALF_CEILING, 3.0},
        {-1.5, 0, FLOOR, -2.0},       {1.5, 0, FLOOR, 1.0},          {-1.5, 0, CEILING, -1.0},
        {1.2, 0, CEILING, 2.0},       {1.7, 0, DOWN, 1.0},           {-1.7, 0, DOWN, -1.0},
        {2.4, 0, NONE, 2.0},          {2.6, 0, NONE, 3.0},           {-2.6, 0, NONE, -3.0},
        {1.2345, 0.01, NONE, 1.23},   {1.26, 0.1, NONE, 1.3},        {1234.0, 100, NONE, 1200.0},
        {1250.0, 100, EVEN, 1200.0},  {1350.0, 100, EVEN, 1400.0},   {7.3, 0.5, NONE, 7.5},
        {-7.3, -0.5, NONE, -7.5},     {1e300, 0, NONE, 1e300},       {-0.4, 0, NONE, 0.0},
        {5e-320, 1e-320, NONE, 5e-320},
    };
    for (const Case& c : cases) {
        Cell scale = float_cell(c.scale);
        Cell r = round_value(float_cell(c.v), c.scale != 0 ? &scale : nullptr, c.refine);
        EXPECT_EQ(type_of(&r), T_FLOAT);
        EXPECT_EQ(get_float(&r), c.want) << c.v << " to " << c.scale << " refinement " << c.refine;
    }
    // -0.4 rounds to +0.0: the sign is applied by subtracting from 0.0.
    Cell zero = round_value(float_cell(-0.4), nullptr, NONE);
    EXPECT_FALSE(std::signbit(get_float(&zero)));
}

TEST_F(Float, RoundResultTypes) {
    Cell one = int_cell(1);
    Cell r = round_value(float_cell(3.7), &one, NONE);
    EXPECT_EQ(type_of(&r), T_INTEGER);
    EXPECT_EQ(i32(r.data2), 4);
    Cell ten = int_cell(10);
    r = round_value(float_cell(-15.0), &ten, NONE);
    EXPECT_EQ(i32(r.data2), -20);
    // A percent n rounds to 1% by default, and a /to scale counts in percent.
    r = round_value(float_cell(0.12345, T_PERCENT), nullptr, NONE);
    EXPECT_EQ(type_of(&r), T_PERCENT);
    EXPECT_DOUBLE_EQ(get_float(&r), 0.12);
    Cell five = int_cell(5);
    r = round_value(float_cell(0.123, T_PERCENT), &five, NONE);
    EXPECT_EQ(type_of(&r), T_INTEGER);
    EXPECT_EQ(i32(r.data2), 0);
    // A percent or time scale gives the result its type.
    Cell time = float_cell(60, T_TIME);
    r = round_value(float_cell(100.0), &time, NONE);
    EXPECT_EQ(type_of(&r), T_TIME);
    EXPECT_EQ(get_float(&r), 120.0);
    // A zero scale leaves the value as it is.
    Cell zero = float_cell(0.0);
    r = round_value(float_cell(2.5), &zero, NONE);
    EXPECT_EQ(get_float(&r), 2.5);
    r = round_value(float_cell(0.0), &zero, NONE);
    EXPECT_EQ(get_float(&r), 0.0);
}

TEST_F(Float, RoundErrors) {
    Cell money;
    set_cell(&money, T_MONEY);
    EXPECT_EQ(catch_error([&] { round_value(float_cell(1.5), &money, NONE); }), Err::script_not_related);
    Cell one = int_cell(1);
    EXPECT_EQ(catch_error([&] { round_value(float_cell(5e15), &one, NONE); }), Err::math_overflow);
    EXPECT_EQ(catch_error([&] { round_value(float_cell(NaN), &one, NONE); }), Err::math_overflow);
    Cell big = float_cell(1e308);
    EXPECT_EQ(catch_error([&] { round_value(float_cell(1.7e308), &big, NONE); }), Err::math_overflow);
    Cell text = text_cell(U"1");
    EXPECT_EQ(catch_error([&] { round_value(float_cell(1.5), &text, NONE); }), Err::script_invalid_arg);
}

TEST_F(Float, MakeAndTo) {
    struct Case {
        Cell spec;
        double want;
    };
    const Case cases[] = {
        {block_cell({int_cell(15), int_cell(-1)}), 1.5},
        {block_cell({float_cell(2.5), float_cell(2.9)}), 250.0},
        {block_cell({int_cell(3), int_cell(2)}, T_PAREN), 300.0},
        {binary_cell({0x3F, 0xF0, 0, 0, 0, 0, 0, 0}), 1.0},
        {binary_cell({0x3F, 0xF0, 0, 0, 0, 0, 0, 0, 0xFF}), 1.0},
        {binary_cell({0, 1}), 5e-324},
        {binary_cell({}), 0.0},
        {text_cell(U"3,5"), 3.5},
        {text_cell(U"-1.5e3"), -1500.0},
        {text_cell(U"2", T_FILE), 2.0},
        {char_cell('a'), 97.0},
        {int_cell(-3), -3.0},
        {float_cell(0.5, T_PERCENT), 0.5},
        {float_cell(90.0, T_TIME), 90.0},
    };
    for (const Case& c : cases) {
        Cell r = make_value(A_TO, T_FLOAT, c.spec);
        EXPECT_EQ(type_of(&r), T_FLOAT);
        EXPECT_EQ(get_float(&r), c.want) << "spec type " << int(type_of(&c.spec));
    }
    Cell p = make_value(A_MAKE, T_PERCENT, float_cell(0.25));
    EXPECT_EQ(type_of(&p), T_PERCENT);
    EXPECT_EQ(get_float(&p), 0.25);
}

TEST_F(Float, ConversionErrors) {
    const Cell bad[] = {
        text_cell(U"abc"),
        text_cell(U""),
        text_cell(U"1.#INF"),
        block_cell({int_cell(1)}),
        block_cell({int_cell(1), int_cell(2), int_cell(3)}),
        block_cell({int_cell(1), text_cell(U"2")}),
        none_cell(),
        logic_cell(true),
    };
    for (const Cell& spec : bad)
        EXPECT_EQ(make_error(A_TO, T_FLOAT, spec), Err::script_bad_to_arg) << "spec type " << int(type_of(&spec));
}

TEST_F(Float, PowerNegateAbsolute) {
    Cell r = run_stack_action(A_POWER, float_cell(2.0), float_cell(0.5));
    EXPECT_EQ(get_float(&r), std::sqrt(2.0));
    r = run_stack_action(A_POWER, float_cell(2.0), int_cell(-2));
    EXPECT_EQ(get_float(&r), 0.25);
    EXPECT_EQ(stack_action_error(A_POWER, float_cell(2.0), char_cell('a')), Err::script_expect_arg);

    for (double v : {0.0, -0.0}) {
        Cell c = float_cell(v);
        dt::handler<A_NEGATE>(T_FLOAT)(&c);
        EXPECT_EQ(bits_of(get_float(&c)), bits_of(0.0)) << "negate " << v;
    }
    Cell c = float_cell(1.5);
    dt::handler<A_NEGATE>(T_FLOAT)(&c);
    EXPECT_EQ(get_float(&c), -1.5);
    r = run_unary_action(A_ABSOLUTE, float_cell(-2.5));
    EXPECT_EQ(get_float(&r), 2.5);
    r = run_unary_action(A_ABSOLUTE, float_cell(-0.0));
    EXPECT_EQ(bits_of(get_float(&r)), bits_of(0.0));
}

TEST_F(Float, EvenOdd) {
    struct Case {
        double v;
        bool even, odd;
    };
    for (Case c : {Case{2.5, true, false}, Case{3.9, false, true}, Case{-3.0, false, true}, Case{0.0, true, false},
                   Case{1e300, true, false}, Case{5e9 + 1, false, true}, Case{INF, false, false},
                   Case{NaN, false, false}}) {
        Cell v = float_cell(c.v);
        EXPECT_EQ(dt::handler<A_EVEN_Q>(T_FLOAT)(&v), c.even) << c.v;
        EXPECT_EQ(dt::handler<A_ODD_Q>(T_FLOAT)(&v), c.odd) << c.v;
    }
}

TEST_F(Float, Random) {
    auto random = dt::handler<A_RANDOM>(T_FLOAT);
    for (bool secure : {false, true}) {
        for (int i = 0; i < 100; ++i) {
            Cell v = float_cell(2.5);
            random(&v, false, secure, false);
            EXPECT_TRUE(get_float(&v) >= 0.0 && get_float(&v) <= 2.5);
        }
    }
    Cell p = float_cell(0.5, T_PERCENT);
    random(&p, false, false, false);
    EXPECT_EQ(type_of(&p), T_PERCENT);
    Cell seed = float_cell(1.25);
    random(&seed, true, false, false);
    EXPECT_EQ(type_of(&seed), T_UNSET);
    Cell a = float_cell(1.0);
    random(&a, false, false, false);
    seed = float_cell(1.25);
    random(&seed, true, false, false);
    Cell b = float_cell(1.0);
    random(&b, false, false, false);
    EXPECT_EQ(get_float(&a), get_float(&b));
}

TEST_F(Float, CellHelpers) {
    EXPECT_TRUE(dt::float_special_q(NaN));
    EXPECT_FALSE(dt::float_special_q(INF));
    EXPECT_TRUE(dt::float_inf_or_nan_q(-INF));
    EXPECT_FALSE(dt::float_inf_or_nan_q(1.0));
    EXPECT_TRUE(dt::float_nan_q(NaN));
    Cell* c = dt::push_float_words(0, 0x3FF00000u);
    EXPECT_EQ(get_float(c), 1.0);
    EXPECT_EQ(dt::float_abs_from_words(0, 0xBFF00000u), 1.0);
    Node block = rt::alloc_cells(1);
    Cell* in = dt::make_float_in(block, 0, 0xC0000000u);
    EXPECT_EQ(get_float(in), -2.0);
    dt::box_float(0.25);
    EXPECT_EQ(type_of(rt::g_args.base), T_FLOAT);
    EXPECT_EQ(get_float(rt::g_args.base), 0.25);
}

}  // namespace
}  // namespace kel
