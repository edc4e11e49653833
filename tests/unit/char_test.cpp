// char!: arithmetic kept inside the code-point range, conversions, text and comparison.
#include <cmath>

#include "datatypes/char.h"
#include "number_helpers.h"

namespace kel {
namespace {

using namespace test;
using rt::Err;

class Char : public RuntimeTest {};

TEST_F(Char, Arithmetic) {
    struct Case {
        int action;
        u32 cp;
        Cell right;
        u32 want;
    };
    const Case cases[] = {
        {A_ADD, 'a', int_cell(1), 'b'},
        {A_ADD, 'a', char_cell(1), 'b'},
        {A_SUBTRACT, 'b', char_cell('a'), 1},
        {A_DIVIDE, 'a', int_cell(2), '0'},  // 97 / 2 truncates to 48
        {A_MULTIPLY, 'a', float_cell(1.9), 'a'},
        {A_ADD, 'a', float_cell(-0.9), 'a'},
        {A_REMAINDER, 'a', int_cell(10), 7},
        {A_AND_T, 'a', int_cell(0xDF), 'A'},
        {A_OR_T, 'A', int_cell(0x20), 'a'},
        {A_XOR_T, 'a', int_cell(0x20), 'A'},
        {A_ADD, 0x10FFFE, int_cell(1), 0x10FFFF},
        {A_SUBTRACT, 1, int_cell(1), 0},
    };
    for (const Case& c : cases) {
        Cell r = run_stack_action(c.action, char_cell(c.cp), c.right);
        EXPECT_EQ(type_of(&r), T_CHAR);
        EXPECT_EQ(r.data2, c.want) << "action " << c.action << " on " << c.cp;
    }
}

TEST_F(Char, ArithmeticErrors) {
    struct Case {
        int action;
        u32 cp;
        Cell right;
        Err error;
    };
    const Case cases[] = {
        {A_SUBTRACT, 'a', char_cell('b'), Err::math_overflow},
        {A_ADD, 0x10FFFF, int_cell(1), Err::math_overflow},
        {A_MULTIPLY, 0x10000, int_cell(0x10000), Err::math_overflow},  // the integer core overflows
        {A_ADD, 'a', int_cell(2147483647), Err::math_overflow},
        {A_ADD, 'a', float_cell(1e10), Err::math_overflow},
        {A_ADD, 'a', float_cell(std::nan("")), Err::math_overflow},
        {A_DIVIDE, 'a', int_cell(0), Err::math_zero_divide},
        {A_REMAINDER, 'a', char_cell(0), Err::math_zero_divide},
        {A_ADD, 'a', float_cell(0.5, T_PERCENT), Err::script_invalid_type},
        {A_ADD, 'a', float_cell(60, T_TIME), Err::script_invalid_type},
        {A_ADD, 'a', text_cell(U"b"), Err::script_invalid_type},
        {A_ADD, 'a', none_cell(), Err::script_invalid_type},
    };
    for (const Case& c : cases)
        EXPECT_EQ(stack_action_error(c.action, char_cell(c.cp), c.right), c.error) << "action " << c.action;
    for (int a : {A_NEGATE, A_POWER, A_ROUND, A_COMPLEMENT}) EXPECT_EQ(dt::action_entry(T_CHAR, a), nullptr) << a;
}

TEST_F(Char, InheritedActionsKeepTheType) {
    Cell r = run_unary_action(A_ABSOLUTE, char_cell('z'));
    EXPECT_EQ(type_of(&r), T_CHAR);
    EXPECT_EQ(r.data2, u32('z'));
    Cell b = char_cell('b');
    EXPECT_TRUE(dt::handler<A_EVEN_Q>(T_CHAR)(&b));
    EXPECT_FALSE(dt::handler<A_ODD_Q>(T_CHAR)(&b));
    for (int i = 0; i < 50; ++i) {
        Cell v = char_cell('z');
        dt::handler<A_RANDOM>(T_CHAR)(&v, false, false, false);
        EXPECT_EQ(type_of(&v), T_CHAR);
        EXPECT_TRUE(v.data2 >= 1 && v.data2 <= 'z');
    }
}

TEST_F(Char, MakeAndTo) {
    struct Case {
        Cell spec;
        u32 want;
    };
    const Case cases[] = {
        {text_cell(U"abc"), 'a'},
        {text_cell(U"\u20ACx"), 0x20AC},
        {text_cell(U"\U0001F600", T_FILE), 0x1F600},
        {char_cell('q'), 'q'},
        {int_cell(0), 0},
        {int_cell(0x10FFFF), 0x10FFFF},
        {float_cell(97.9), 'a'},
        {float_cell(-0.5), 0},
        {float_cell(65.0, T_PERCENT), 'A'},
        {binary_cell({'a', 'b'}), 'a'},
        {binary_cell({0xC3, 0xA9}), 0xE9},
        {binary_cell({0xE2, 0x82, 0xAC, 'x'}), 0x20AC},
        {binary_cell({0xF0, 0x9F, 0x98, 0x80}), 0x1F600},
    };
    for (const Case& c : cases) {
        for (int action : {A_MAKE, A_TO}) {
            Cell r = make_value(action, T_CHAR, c.spec);
            EXPECT_EQ(type_of(&r), T_CHAR);
            EXPECT_EQ(r.data2, c.want);
        }
    }
    // The character at the string's index.
    Cell s = text_cell(U"xyz");
    s.data1 = 2;
    EXPECT_EQ(make_value(A_TO, T_CHAR, s).data2, u32('z'));
    s.data1 = 3;
    EXPECT_EQ(make_error(A_TO, T_CHAR, s), Err::script_bad_to_arg);
}

TEST_F(Char, ConversionErrors) {
    struct Case {
        Cell spec;
        Err error;
    };
    const Case cases[] = {
        {text_cell(U""), Err::script_bad_to_arg},
        {int_cell(0x110000), Err::script_out_of_range},
        {int_cell(-1), Err::script_out_of_range},
        {float_cell(-1.5), Err::script_out_of_range},
        {float_cell(1e20), Err::script_out_of_range},
        {float_cell(std::nan("")), Err::script_out_of_range},
        {none_cell(), Err::script_bad_to_arg},
        {logic_cell(true), Err::script_bad_to_arg},
        {binary_cell({}), Err::script_bad_to_arg},
        {binary_cell({0xE2, 0x82}), Err::script_bad_to_arg},      // cut off by the tail
        {binary_cell({0xC0, 0x80}), Err::access_invalid_utf8},    // overlong
        {binary_cell({0xED, 0xA0, 0x80}), Err::access_invalid_utf8},  // a surrogate
        {binary_cell({0xFF}), Err::access_invalid_utf8},
    };
    for (const Case& c : cases) EXPECT_EQ(make_error(A_TO, T_CHAR, c.spec), c.error);
}

TEST_F(Char, Form) {
    i32 left = 0;
    Cell* out = dt::push_string(4);
    dt::append_c_string(out, "x");
    Cell v = char_cell(0x1F600);
    left = dt::handler<A_FORM>(T_CHAR)(&v, out, nullptr, 10);
    EXPECT_EQ(text_of(out), U"x\U0001F600");
    EXPECT_EQ(left, 9);
}

TEST_F(Char, Mold) {
    struct Case {
        u32 cp;
        bool all;
        std::u32string want;
    };
    const Case cases[] = {
        {'a', false, U"#\"a\""},        {9, false, U"#\"^-\""},        {10, false, U"#\"^/\""},
        {'"', false, U"#\"^\"\""},      {'^', false, U"#\"^^\""},      {0, false, U"#\"^@\""},
        {30, false, U"#\"^(1E)\""},     {127, false, U"#\"^~\""},      {128, false, U"#\"^(80)\""},
        {233, false, U"#\"\u00E9\""},   {233, true, U"#\"^(E9)\""},    {0x10FFFF, true, U"#\"^(10FFFF)\""},
        {'a', true, U"#\"a\""},
    };
    for (const Case& c : cases) {
        i32 left = 0;
        EXPECT_EQ(mold_text(char_cell(c.cp), false, c.all, &left, nullptr, 100), c.want) << c.cp;
        EXPECT_EQ(left, 100 - i32(c.want.size())) << c.cp;
    }
}

TEST_F(Char, Compare) {
    struct Case {
        Cell a, b;
        i32 op;
        i32 want;
    };
    const Case cases[] = {
        {char_cell('a'), char_cell('A'), 0, 1},  // case is never folded
        {char_cell('a'), char_cell('b'), 3, -1},
        {char_cell('a'), char_cell('a'), 2, 0},
        {char_cell('a'), int_cell(97), 0, 0},
        {char_cell('a'), int_cell(97), 2, 1},
        {char_cell('a'), int_cell(97), 12, 1},
        {char_cell('a'), int_cell(98), 3, -1},
        {char_cell('a'), float_cell(97.0), 0, -2},
        {char_cell('a'), text_cell(U"a"), 0, -2},
    };
    for (const Case& c : cases) EXPECT_EQ(compare_op(c.a, c.b, c.op), c.want) << "op " << c.op;
}

TEST_F(Char, CellHelpers) {
    Node block = rt::alloc_cells(1);
    Cell* c = dt::make_char_in(block, 'k');
    EXPECT_EQ(type_of(c), T_CHAR);
    EXPECT_EQ(c->data2, u32('k'));
    EXPECT_EQ(dt::push_char(0x263A)->data2, 0x263Au);
}

}  // namespace
}  // namespace kel
