// The interpreter: expressions, infix order, words and paths, function calls with
// refinements, and the errors of each.
#include "eval_support.h"

namespace kel::test::eval {
namespace {

class InterpTest : public EvalTest {};

TEST_F(InterpTest, ValuesAndWords) {
    check_all({
        {"1", "1"},
        {"1 2 3", "3"},
        {"", "unset"},
        {"a: 5 a", "5"},
        {"a: b: 7 a + b", "14"},
        {"'foo", "foo"},
        {"'a/b", "a/b"},
        {"(1 2)", "2"},
        {"()", "unset"},
        {"x: [1 2 3] x", "[1 2 3]"},
    });
}

// Global words read and write their slots through a raw window on the global values: it
// must follow the series when thousands of new words make it grow, and when a collection
// moves it, both in the middle of running code.
TEST_F(InterpTest, GlobalWordsFollowTheGlobalValuesAsTheyGrowAndMove) {
    run("kept: 42");
    std::string code = "kept: kept + 1";
    for (int i = 0; i < 9000; ++i) code += " fresh-" + std::to_string(i) + ": " + std::to_string(i);
    code += " recycle kept: kept + fresh-8999 recycle kept";
    EXPECT_EQ(run(code.c_str()), "9042");
    check_all({
        {"kept", "9042"},
        {"fresh-0 + fresh-4500", "4500"},
        {"do load {later-word: 7} recycle later-word + kept", "9049"},
    });
}

TEST_F(InterpTest, InfixHasNoPrecedence) {
    check_all({
        {"1 + 2 * 3", "9"},
        {"negate 1 + 2", "-3"},
        {"1 + negate 2 + 3", "-4"},
        {"10 - 2 - 3", "5"},
        {"2 * (3 + 4)", "14"},
        {"2147483647 + 1", "2147483648.0"},
        {"-2147483648 - 1", "-2147483649.0"},
        {"65536 * 65536", "4294967296.0"},
        {"1.5 + 2", "3.5"},
        {"1.5 * 2.0", "3.0"},
        {"6 and 3", "2"},
        {"6 or 3", "7"},
        {"6 xor 3", "5"},
        {"7 % 3", "1"},
    });
}

}  // namespace
}  // namespace kel::test::eval

namespace kel::test::eval {
namespace {

// Functions are made with `make function!` here: func and its kin are natives of their own.
TEST_F(InterpTest, FunctionCalls) {
    run("f: make function! [[x y] [x * 10 + y]]"
        " g: make function! [[x /a y /b z] [x * 100 + (either-y y) * 10 + either-y z]]"
        " either-y: make function! [[v] [v]]");
    check_all({
        {"f 1 2", "12"},
        {"f 1 + 1 2", "22"},
        {"f f 1 2 3", "123"},
        {"1 + f 1 2", "13"},
        // Refinement arguments are taken in path order: y is 3, z is 2 (no precedence).
        {"g/b/a 1 2 3", "1032"},
        {"g/a/b 1 3 2", "1032"},
        {"h: make function! [[:x] [x]] h y", "y"},
        {"h: make function! [['x] [x]] h (1 + 2)", "3"},
        {"h: make function! [['x [any-type!]] [:x]] h", "unset"},
        {"h: make function! [[x [integer!]] [x]] h 1.5",
         "*** Script Error: h does not allow float! for its x argument\n*** Where: h\n*** Near : [h 1.5]"},
        {"f 1", "*** Script Error: f is missing its y argument\n*** Where: f\n*** Near : [f 1]"},
        {"g/a/a 1 2 3",
         "*** Script Error: duplicate refinement usage in: g/a/a\n*** Where: g\n*** Near : [g/a/a 1 2 3]"},
        {"g/c 1", "*** Script Error: g has no refinement called c\n*** Where: g\n*** Near : [g/c 1]"},
        {"g/1 1", "*** Script Error: invalid refinement value: 1\n*** Where: g\n*** Near : [g/1 1]"},
    });
}

TEST_F(InterpTest, GetWordRefinementsTakeTheirArgumentsEither) {
    run("g: make function! [[x /a y] [reflect-a a x y]] reflect-a: make function! [[a x y] [x * 1000 + y]]");
    // A refinement written as a get-word is used only when its word is true; its argument is
    // fetched from the code either way.
    EXPECT_EQ(run("a: true g/:a 1 2"), "1002");
    EXPECT_EQ(run("a: false g/:a 1 2 + 5"), "*** Script Error: + does not allow none! for its value2 argument"
                                             "\n*** Where: +\n*** Near : [x * 1000 + y]")
        << "y stays none when /a is off, and the 2 + 5 was consumed";
}

TEST_F(InterpTest, ReturnAndExit) {
    check_all({
        {"f: make function! [[x] [return x + 1 x]] f 1", "2"},
        {"f: make function! [[] [exit 5]] f", "unset"},
        {"f: make function! [[] [(return 7) 8]] f", "7"},
        {"f: make function! [[x] [g: make function! [[] [return 1]] g + x]] f 10", "11"},
        {"return 1", "*** Throw Error: return or exit not in function\n*** Where: return\n*** Near : [return 1]"},
        {"exit", "*** Throw Error: return or exit not in function\n*** Where: exit\n*** Near : [exit]"},
    });
}

TEST_F(InterpTest, Errors) {
    check_all({
        {"undefined-word-here", "*** Script Error: undefined-word-here has no value\n*** Where: ???\n*** Near : "
                                "[undefined-word-here]"},
        {"+ 1 2", "*** Script Error: + operator is missing an argument\n*** Where: ???\n*** Near : [+ 1 2]"},
        {"a:", "*** Script Error: a: needs a value\n*** Where: a\n*** Near : [a:]"},
        {"a: ()", "*** Script Error: a: needs a value\n*** Where: a\n*** Near : [a: ()]"},
        {"1 +", "*** Script Error: + is missing its value2 argument\n*** Where: +\n*** Near : [1 +]"},
        {"#system [1]", "*** Internal Error: contains Kel/System code which requires compilation\n*** Where: ???"
                        "\n*** Near : [#system [1]]"},
    });
}

TEST_F(InterpTest, GetWordsAndLiterals) {
    check_all({
        {"unset-here: 1 unset-here", "1"},
        {"plus: :add plus 1 2", "3"},
        {"plus: :+ plus", "*** Script Error: plus operator is missing an argument\n*** Where: ???\n*** Near : [plus]"},
        {"type-of-lit: 'a/b/c type-of-lit", "a/b/c"},
    });
}

TEST_F(InterpTest, Paths) {
    check_all({
        {"b: [10 20 30] b/2", "20"},
        {"b: [10 20 30] i: 3 b/:i", "30"},
        {"b: [10 20 30] b/(1 + 1)", "20"},
        {"o: make object! [a: 1 f: func [x] [x + a]] o/f 2", "3"},
        {"o: make object! [a: 1] o/a: 5 o/a", "5"},
        {"b: [10 20 30] b/2: 5 b", "[10 5 30]"},
        {"b: [x [y 7]] b/x/y", "7"},
        {"b: [10 20] b/3", "none"},
        {"f: make function! [[] [1]] f/a: 2",
         "*** Script Error: unsupported type in f/a: set-path\n*** Where: set-path\n*** Near : [f/a: 2]"},
        {"no-such/a", "*** Script Error: no-such is unset in path no-such/a\n*** Where: ???\n*** Near : [no-such/a]"},
    });
}

}  // namespace
}  // namespace kel::test::eval
