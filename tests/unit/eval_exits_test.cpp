// try, catch, throw, break, continue, return and exit: the thresholds and the stack states
// they leave.
#include "eval_support.h"

namespace kel::test::eval {
namespace {

class ExitNativesTest : public EvalTest {
protected:
    void check_all(std::initializer_list<Case> cases) {
        for (const Case& c : cases) {
            Cell* top = rt::g_args.top;
            EXPECT_EQ(run(c.source), c.expected) << c.source;
            // Nothing left behind: the stacks and the exit code are where they were.
            EXPECT_EQ(rt::g_args.top, top) << c.source;
            EXPECT_EQ(rt::g_system.thrown, 0u) << c.source;
        }
    }
};

TEST_F(ExitNativesTest, Try) {
    check_all({
        {"try [42]", "42"},
        {"e: try [1 / 0] e/id", "zero-divide"},
        {"e: try [no-such-word] e/id", "no-value"},
        {"try [try [1 / 0] 5]", "5"},
        {"f: func [] [try [return 3] 4] f", "3"},
        {"x: 0 loop 3 [try [break] x: x + 1] x", "0"},
        {"x: 0 loop 3 [try [continue] x: x + 1] x", "0"},
        {"catch [try [throw 7] 8]", "7"},
        {"e: try/keep [1 / 0] type? e/stack", "block!"},
    });
}

TEST_F(ExitNativesTest, TryAllStopsEveryExitAsAnError) {
    check_all({
        // The try/all frame stops the search for a target: each exit becomes its error.
        {"e: loop 3 [try/all [break]] e/id", "break"},
        {"e: loop 3 [try/all [continue]] e/id", "continue"},
        {"f: func [] [e: try/all [return 1] e/id] f", "return"},
        {"e: catch [try/all [throw 1]] e/id", "throw"},
        {"e: try/all [throw 1] e/arg1", "1"},
        {"try/all [42]", "42"},
    });
}

TEST_F(ExitNativesTest, CatchAndThrow) {
    check_all({
        {"catch [throw 5]", "5"},
        {"catch [1 throw 5 2]", "5"},
        {"catch [10]", "10"},
        {"catch/name [throw/name 5 'a] 'a", "5"},
        {"catch/name [catch/name [throw/name 5 'b] 'a] 'b", "5"},
        {"catch [catch/name [throw/name 5 'b] 'a]", "5"},
        {"catch [catch/name [throw 5] 'a]", "5"},
        {"catch/name [throw/name 1 'B] [a b]", "1"},
        {"catch/name [throw/name 1 'b] [b 2]", "1"},
        {"f: func [] [throw 9] catch [f 1]", "9"},
        {"loop 2 [catch [break]] 3", "3"},
    });
    EXPECT_EQ(run("catch/name [throw/name 1 'b] [2 b]"),
              "*** Script Error: invalid name argument: [2 b]\n*** Where: catch\n*** Near : [catch/name [throw/name 1 'b] [2 b]]");
    EXPECT_EQ(run("throw 1"), "*** Throw Error: no catch for throw: 1\n*** Where: ???\n*** Near : [throw 1]");
}

TEST_F(ExitNativesTest, BreakContinueReturnExit) {
    check_all({
        {"loop 5 [break]", "unset"},
        {"loop 5 [break/return 5]", "5"},
        {"x: 0 loop 5 [x: x + 1 if x > 2 [break]] x", "3"},
        {"x: 0 loop 5 [x: x + 1 continue x: 100] x", "5"},
        {"f: func [] [loop 10 [return 4] 5] f", "4"},
        {"f: func [] [loop 10 [loop 10 [return 6]] 5] f", "6"},
        {"f: func [] [exit] f", "unset"},
        {"f: func [x] [if x > 0 [return x] 0] reduce [f 3 f -1]", "[3 0]"},
        // break leaves only the innermost loop
        {"x: 0 loop 3 [loop 3 [break] x: x + 1] x", "3"},
    });
    EXPECT_EQ(run("break"), "*** Throw Error: no loop to break\n*** Where: break\n*** Near : [break]");
    EXPECT_EQ(run("continue"), "*** Throw Error: no loop to continue\n*** Where: continue\n*** Near : [continue]");
}

}  // namespace
}  // namespace kel::test::eval
