// Blocks and function bodies evaluated without frames of their own: each value lands in the
// right slot, exits find their targets through them, and nothing is left on the stacks.
#include "eval_support.h"

namespace kel::test::eval {
namespace {

class FramelessBlockTest : public EvalTest {
protected:
    void check_all(std::initializer_list<Case> cases) {
        for (const Case& c : cases) {
            Cell* top = rt::g_args.top;
            Cell* base = rt::g_args.base;
            rt::CallFrame* calls = rt::g_calls.top;
            EXPECT_EQ(run(c.source), c.expected) << c.source;
            EXPECT_EQ(rt::g_args.top, top) << c.source;
            EXPECT_EQ(rt::g_args.base, base) << c.source;
            EXPECT_EQ(rt::g_calls.top, calls) << c.source;
            EXPECT_EQ(rt::g_system.thrown, 0u) << c.source;
        }
    }
};

TEST_F(FramelessBlockTest, ResultsLandInTheirSlots) {
    check_all({
        // The result slot of a native is its first argument: the branch's value replaces it.
        {"either true [1 2 3] [4]", "3"},
        {"either false [1] []", "unset"},
        {"f: func [a b] [] f 1 2", "unset"},
        {"f: func [a b] [a b a + b] f 1 2", "3"},
        {"f: func [a /local x] [x: a * 2 x + 1] f 5", "11"},
        // Parens push where they began, in the middle of other values.
        {"reduce [1 (2 3) (4) 5]", "[1 3 4 5]"},
        {"f: func [n] [(n + 1) * (n + 2)] f 3", "20"},
        {"(1 + (2 * (3 + 4)))", "15"},
        {"f: func [n] [either n < 2 [n] [(f n - 1) + f n - 2]] f 15", "610"},
    });
}

TEST_F(FramelessBlockTest, ExitsFindTheirTargets) {
    check_all({
        {"f: func [] [loop 3 [if true [return 7]] 8] f", "7"},
        {"f: func [] [(return 4) 5] f", "4"},
        {"f: func [] [1 + (exit) 2] f", "unset"},
        {"loop 5 [if true [(break/return 9)]]", "9"},
        {"x: 0 repeat i 4 [if odd? i [continue] x: x + i] x", "6"},
        {"catch [f: func [] [either true [(throw 3)] [0]] f 1]", "3"},
        {"f: func [g] [g 1] f func [x] [return x + 1]", "2"},
    });
}

TEST_F(FramelessBlockTest, CodeThatEditsItselfIsReadAsItIsNow) {
    check_all({
        {"b: [append b [x: 5] x: 1] x: 0 do b x", "5"},
        // The block ends where it ends now: clear's value is the last.
        {"b: [clear b 1 2 3] do b", "[]"},
        // Two cells fewer before the next position: `x: 2` is now past the tail.
        {"b: [x: 1 remove/part skip b 2 2 x: 2] x: 0 do b x", "1"},
    });
}

TEST_F(FramelessBlockTest, ErrorsNameTheCallAndTheCode) {
    check_all({
        {"f: func [x] [if true [x + \"a\"]] e: try [f 1] reduce [e/where e/near]", "[+ [x + \"a\"]]"},
        {"f: func [x] [(g x)] g: func [y] [y / 0] e: try [f 1] reduce [e/where e/near]", "[/ [y / 0]]"},
        {"f: func [] [f] e: try [f] e/id", "stack-overflow"},
    });
}

}  // namespace
}  // namespace kel::test::eval
