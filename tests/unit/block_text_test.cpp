// block!, paren! and the path kinds: form and mold, line breaks and indentation, /part cuts.
#include "block_support.h"

namespace kel::dt {
namespace {

using namespace test;
using namespace test::blocks;

class BlockTextTest : public RuntimeTest {};

Cell i(i32 n) { return int_v(n); }

TEST_F(BlockTextTest, MoldLayout) {
    struct Case {
        const char* name;
        Cell value;
        bool only, all, flat;
        const char* expected;
    };
    Cell inner_nl = blk_v({nl(i(2)), i(3)});
    Cell deep = blk_v({nl(i(1)), nl(blk_v({nl(i(2))}))});
    const Case cases[] = {
        {"plain", blk_v({i(1), i(2)}), false, false, false, "[1 2]"},
        {"empty", blk_v({}), false, false, false, "[]"},
        {"empty only", blk_v({}), true, false, false, ""},
        {"first on a new line", blk_v({nl(i(1)), i(2)}), false, false, false, "[\n    1 2\n]"},
        {"flat", blk_v({nl(i(1)), nl(i(2))}), false, false, true, "[1 2]"},
        {"only", blk_v({nl(i(1)), i(2)}), true, false, false, "1 2"},
        {"only, later break", blk_v({nl(i(1)), nl(i(2))}), true, false, false, "1\n2"},
        {"break inside", blk_v({i(1), nl(i(2)), i(3)}), false, false, false, "[1\n2 3]"},
        {"nested block breaks", blk_v({i(1), inner_nl, i(4)}), false, false, false, "[1 [\n    2 3\n] 4]"},
        {"indentation deepens", deep, false, false, false, "[\n    1\n    [\n        2\n    ]\n]"},
        {"nested only keeps inner brackets", blk_v({blk_v({i(1)})}), true, false, false, "[1]"},
        {"all", blk_v({none_v(), logic_v(true)}), false, true, false, "[#(none) #(true)]"},
        {"datatypes and none", blk_v({dt_v(T_INTEGER), none_v()}), false, false, false, "[integer! none]"},
        {"paren", blk_v({i(1), i(2)}, T_PAREN), false, false, false, "(1 2)"},
        {"paren only", blk_v({i(1), i(2)}, T_PAREN), true, false, false, "1 2"},
        {"paren breaks", blk_v({nl(i(1))}, T_PAREN), false, false, false, "(\n    1\n)"},
        {"paren in block", blk_v({blk_v({i(1)}, T_PAREN)}), true, false, false, "(1)"},
    };
    for (const Case& c : cases) {
        Cell* v = rt::stack_push(&c.value);
        EXPECT_EQ(mold(v, c.only, c.all, c.flat), c.expected) << c.name;
    }
}

TEST_F(BlockTextTest, PathMolds) {
    struct Case {
        Cell value;
        bool only;
        const char* mold;
    };
    Cell paren = blk_v({i(2), i(3)}, T_PAREN);
    const Case cases[] = {
        {blk_v({i(1), i(2)}, T_PATH), false, "1/2"},
        {blk_v({i(1), i(2)}, T_SET_PATH), false, "1/2:"},
        {blk_v({i(1), i(2)}, T_GET_PATH), false, ":1/2"},
        {blk_v({i(1), i(2)}, T_LIT_PATH), false, "'1/2"},
        {blk_v({i(1), paren}, T_PATH), false, "1/(2 3)"},
        // /only is handed down to the elements
        {blk_v({i(1), paren}, T_PATH), true, "1/2 3"},
        // no line breaks inside a path
        {blk_v({nl(i(1)), nl(i(2))}, T_PATH), false, "1/2"},
        {blk_v({i(1), blk_v({nl(i(2))})}, T_PATH), false, "1/[\n    2\n]"},
    };
    for (const Case& c : cases) {
        Cell* v = rt::stack_push(&c.value);
        EXPECT_EQ(mold(v, c.only), c.mold);
    }
    for (u32 t : {T_PATH, T_SET_PATH, T_GET_PATH, T_LIT_PATH}) {
        Cell* v = blk({i(1), i(2)}, t);
        EXPECT_EQ(form(v), "1/2") << t;
    }
}

TEST_F(BlockTextTest, FormSeparatesWithSpaces) {
    EXPECT_EQ(form(blk({i(1), i(2)})), "1 2");
    EXPECT_EQ(form(blk({i(1), blk_v({i(2), i(3)}), i(4)})), "1 2 3 4");
    EXPECT_EQ(form(blk({nl(i(1)), nl(i(2))})), "1 2") << "form ignores line breaks";
    EXPECT_EQ(form(blk({})), "");
    EXPECT_EQ(form(blk({none_v(), blk_v({}), none_v()})), "none  none");
    EXPECT_EQ(form(blk({str_v("a"), str_v("b")})), "a b");
    // No space after a value whose form ends a line or a tab.
    EXPECT_EQ(form(blk({str_v("a\n"), str_v("b\t"), str_v("c\r"), str_v("d")})), "a\nb\tc\rd");
}

TEST_F(BlockTextTest, StringsInBlocks) {
    EXPECT_EQ(mold(blk({str_v("a"), nl(str_v("b c"))})), "[\"a\"\n\"b c\"]");
    EXPECT_EQ(mold(blk({str_v("x")}, T_PATH)), "\"x\"");
    EXPECT_EQ(form(blk({str_v("x"), i(1)}, T_PATH)), "x/1");
}

TEST_F(BlockTextTest, PartCutsTheText) {
    Cell* b = blk({i(1), nl(i(22)), i(333)});
    EXPECT_EQ(mold(b, false, false, false, 4), "[1\n2");
    EXPECT_EQ(mold(b, false, false, false, 100), "[1\n22 333]");
    EXPECT_EQ(form(b, 3), "1 2");
    EXPECT_EQ(mold(blk({i(12), i(34)}, T_PATH), false, false, false, 3), "12/");
}

TEST_F(BlockTextTest, BudgetCountsEveryCharacter) {
    // The budget that mold answers is the limit less what it appended, indentation included.
    Cell* b = blk({nl(i(1)), blk_v({nl(i(2))})});
    Cell* out = push_string(16);
    i32 left = ev::mold_dispatch(b, out, false, false, false, nullptr, 1000, 0);
    EXPECT_EQ(1000 - left, i32(string_length(out)));
    Cell* p = blk({i(1), i(2)}, T_SET_PATH);
    out = push_string(16);
    left = ev::mold_dispatch(p, out, false, false, false, nullptr, 1000, 0);
    EXPECT_EQ(1000 - left, i32(string_length(out)));
}

}  // namespace
}  // namespace kel::dt
