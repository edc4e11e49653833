// The interpreter's short paths for calls whose arguments are all evaluated (no refinements
// requested, no get-word or lit-word arguments), for inline operators and for global words:
// each must answer exactly what the general path does, errors and their Where/Near included.
#include "eval_support.h"

namespace kel::test::eval {
namespace {

class CallPathsTest : public EvalTest {};

TEST_F(CallPathsTest, NativesAndActionsWithEvaluatedArguments) {
    check_all({
        {"either 1 > 2 [1] [2]", "2"},
        {"if 1 > 0 [2]", "2"},
        {"if none [1]", "none"},
        // A return type after the arguments (remainder's spec) keeps the short path.
        {"remainder 7 3", "1"},
        {"either true [1]",
         "*** Script Error: either is missing its false-blk argument\n*** Where: either\n*** Near : [either true [1]]"},
        {"either true 1 [2]", "*** Script Error: either does not allow integer! for its true-blk argument"
                              "\n*** Where: either\n*** Near : [either true 1 [2]]"},
        {"if true", "*** Script Error: if is missing its then-blk argument\n*** Where: if\n*** Near : [if true]"},
        {"remainder 7", "*** Script Error: remainder is missing its value2 argument\n*** Where: remainder"
                        "\n*** Near : [remainder 7]"},
        {"remainder 7 \"a\"", "*** Script Error: remainder does not allow string! for its value2 argument"
                              "\n*** Where: remainder\n*** Near : [remainder 7 \"a\"]"},
        // The last argument still takes the operators after it.
        {"either 1 < 2 [1] [2] + 3", "*** Script Error: + does not allow block! for its value1 argument"
                                     "\n*** Where: +\n*** Near : [either 1 < 2 [1] [2] + 3]"},
    });
}

// if, unless and either written with literal blocks run the chosen block without calling
// the native; every other way of writing them takes the native's arguments as usual.
TEST_F(CallPathsTest, ConditionalsWithLiteralBlocks) {
    check_all({
        {"unless none [1]", "1"},
        {"unless 1 [2]", "none"},
        {"either none [1] [2]", "2"},
        {"type? either true [] [1]", "unset!"},
        {"either 1 = 1 [either 2 = 3 [4] [5]] [6]", "5"},
        {"either () [1] [2]",
         "*** Script Error: block did not return a value\n*** Where: either\n*** Near : [either () [1] [2]]"},
        // A block followed by an operator is that operator's left operand.
        {"if true [1] + 2", "*** Script Error: + does not allow block! for its value1 argument"
                            "\n*** Where: +\n*** Near : [if true [1] + 2]"},
        {"either true [1] = [1] [2]", "*** Script Error: either does not allow logic! for its true-blk argument"
                                      "\n*** Where: either\n*** Near : [either true [1] = [1] [2]]"},
        {"either false [1] [2] = [2]", "*** Script Error: either does not allow logic! for its false-blk argument"
                                       "\n*** Where: either\n*** Near : [either false [1] [2] = [2]]"},
        // Blocks held by words or made by expressions.
        {"b: [3] either false [1] b", "3"},
        {"b: [3] if true b", "3"},
        {"either false [1] (2)", "*** Script Error: either does not allow integer! for its false-blk argument"
                                 "\n*** Where: either\n*** Near : [either false [1] (2)]"},
        // Exits leave through the chosen block.
        {"f: func [] [either true [return 5] [0] 6] f", "5"},
        {"s: 0 repeat i 5 [if i = 3 [break] s: s + i] s", "3"},
        {"s: 0 repeat i 5 [unless i = 3 [continue] s: s + i] s", "3"},
        {"catch [if true [throw 7]]", "7"},
        // A word rebound to something else is called as what it now holds.
        {"saved: :either either: func [a b c] [c] r: either true [1] [2] either: :saved r", "[2]"},
        {"my-either: :either my-either false [1] [2]", "2"},
    });
}

TEST_F(CallPathsTest, FunctionsWithEvaluatedArguments) {
    check_all({
        {"f: func [n] [either n < 2 [n] [(f n - 1) + f n - 2]] f 20", "6765"},
        {"f: func [x y] [x - y] f 10 f 3 1", "8"},
        {"f: func [x return: [integer!]] [x * 2] f 3", "6"},
        {"p: func [x] [x] 1 + p 2", "3"},
        {"f: func [x [integer!]] [x] f \"a\"",
         "*** Script Error: f does not allow string! for its x argument\n*** Where: f\n*** Near : [f \"a\"]"},
        {"f: func [x] [x] f", "*** Script Error: f is missing its x argument\n*** Where: f\n*** Near : [f]"},
        // Refinements, locals and non-evaluated arguments take the general path.
        {"g: func [a /r b] [either r [a + b] [a]] g/r 1 2", "3"},
        {"g: func [a /r b] [either r [a + b] [a]] g 1", "1"},
        {"h: func [x /local y] [y: x * 2 y] h 4", "8"},
        {"k: function [x] [y: x + 1 y] k 4", "5"},
        {"q: func ['w] [w] q z", "z"},
    });
}

TEST_F(CallPathsTest, InlineOperators) {
    check_all({
        {"a: 2 1 + a", "3"},
        {"1 + (2 * 3)", "7"},
        {"1 + 2 < 4", "true"},
        {"2147483647 + 1 * 2", "4294967296.0"},
        {"1.5 * 2 + 1", "4.0"},
        {"x: \"s\" 1 + x", "*** Script Error: + does not allow string! for its value2 argument\n*** Where: +"
                           "\n*** Near : [1 + x]"},
        // Operands held by words, mixed kinds, chains and a missing right operand.
        {"a: 2.5 3 * a", "7.5"},
        {"c: 1.5 c * c", "2.25"},
        {"u: 10 u - 3 - u", "-3"},
        {"1 < 2.0", "true"},
        {"2 * 3 + 4 * 5", "50"},
        {"d: none 1 + d", "*** Script Error: + does not allow none! for its value2 argument\n*** Where: +"
                          "\n*** Near : [1 + d]"},
        {"1 +", "*** Script Error: + is missing its value2 argument\n*** Where: +\n*** Near : [1 +]"},
        // A rebound operator word is an ordinary op: its source entry decides, not its name.
        {"minus: make op! :subtract 5 minus 2", "3"},
    });
}

// An integer! meeting a float! in add, subtract or multiply is computed inline; each answer
// must be the action's, molded alike (-0.0, infinities and the widest integers included).
TEST_F(CallPathsTest, MixedIntegerAndFloatOperandsMatchTheActions) {
    const char* operands[][2] = {
        {"1", "2.5"},          {"2.5", "1"},           {"2147483647", "0.5"}, {"-2147483648", "1.5"},
        {"0", "-0.0"},         {"-0.0", "0"},          {"3", "1.0e308"},      {"1.0e308", "-7"},
        {"-2147483648", "-1.0"}, {"7", "0.1"},
    };
    const char* ops[][2] = {{"+", "add"}, {"-", "subtract"}, {"*", "multiply"}};
    for (auto& pair : operands) {
        for (auto& op : ops) {
            std::string infix = std::string("mold ") + pair[0] + " " + op[0] + " " + pair[1];
            std::string prefix = std::string("mold ") + op[1] + " " + pair[0] + " " + pair[1];
            EXPECT_EQ(run(infix.c_str()), run(prefix.c_str())) << infix;
        }
    }
}

// A global word keeps reaching its value after the global context grew past its first
// buffer and after collections moved it.
TEST_F(CallPathsTest, GlobalWordsAfterTheContextGrows) {
    run("keep-me: 41");
    std::string defs;
    for (int i = 0; i < 3000; ++i) defs += "fresh-global-word-" + std::to_string(i) + ": " + std::to_string(i) + " ";
    EXPECT_EQ(run(defs.c_str()), "2999");
    EXPECT_EQ(run("recycle keep-me + 1"), "42");
    EXPECT_EQ(run("fresh-global-word-1234"), "1234");
}

}  // namespace
}  // namespace kel::test::eval
