// The loop natives and the iteration helpers: counts, words, series positions, and how
// break, continue, return and throw leave them.
#include "control_support.h"

namespace kel::test::eval {
namespace {

class ControlLoopTest : public EvalTest {};

TEST_F(ControlLoopTest, LoopAndRepeatCounts) {
    check_cases({
        {"x: 0 loop 3 [x: x + 1] x", "3"},
        {"loop 3 [7]", "7"},
        {"x: 0 loop 0 [x: 1] x", "0"},
        {"loop 0 [1]", "none"},
        {"loop -2 [1]", "none"},
        {"x: 0 loop 2.9 [x: x + 1] x", "2"},
        {"loop 1e10 []", "*** Script Error: value out of range: 10000000000.0"},
        {"x: 0 repeat i 4 [x: x + i] x", "10"},
        {"repeat i 3 [i]", "3"},
        {"repeat i 0 [1]", "none"},
        {"x: 0 repeat i 2.5 [x: x + i] x", "3"},
        {"x: 0 repeat i 3 [i: 10 x: x + 1] x", "3"},  // assigning the word leaves the count alone
        {"i: 0 repeat i 2 [] i", "2"},                // the word is not made local
    });
}

TEST_F(ControlLoopTest, BreakAndContinue) {
    check_cases({
        {"loop 3 [break]", "unset"},
        {"loop 3 [break/return 5]", "5"},
        {"x: 0 loop 5 [x: x + 1 if x = 3 [break]] x", "3"},
        {"x: 0 loop 5 [x: x + 1 continue x: 100] x", "5"},
        {"loop 2 [continue]", "unset"},
        {"x: 0 repeat i 5 [if odd? i [continue] x: x + i] x", "6"},
        {"repeat i 5 [if i = 2 [break/return i * 10]]", "20"},
        {"forever [break/return 7]", "7"},
        {"x: 0 forever [x: x + 1 if x = 4 [break]] x", "4"},
        {"x: 0 loop 3 [loop 3 [x: x + 1 break]] x", "3"},  // break leaves the inner loop only
        // From inside a change handler: the exit crosses C++ code on its way to the loop.
        {"o: make object! [a: 1 on-change*: func [w o n] [break/return 5]] loop 2 [o/a: 2 6]", "5"},
        {"x: 0 o: make object! [a: 1 on-change*: func [w o n] [continue]] loop 3 [x: x + 1 o/a: 2 x: 100] x", "3"},
        {"break", "*** Throw Error: no loop to break"},
        {"continue", "*** Throw Error: no loop to continue"},
    });
}

TEST_F(ControlLoopTest, ExitsOtherThanBreakLeaveEveryLoop) {
    check_cases({
        {"f: func [] [loop 5 [return 9] 1] f", "9"},
        {"f: func [] [repeat i 5 [while [true] [foreach v [1] [return i]]]] f", "1"},
        {"f: func [] [forall b [exit] 1] b: [1 2] f", "unset"},
        {"catch [loop 3 [throw 4]]", "4"},
        {"catch [until [throw 4]]", "4"},
        {"x: 0 try [loop 3 [x: x + 1 1 / 0]] x", "1"},
        // try stops errors only: a break inside it still leaves the loop.
        {"loop 3 [try [break/return 4]]", "4"},
        // try/all stops the search for the loop frame.
        {"e: loop 1 [try/all [break]] e/id", "break"},
    });
}

TEST_F(ControlLoopTest, WhileAndUntil) {
    check_cases({
        {"x: 0 while [x < 5] [x: x + 1] x", "5"},
        {"x: 0 while [x < 5] [x: x + 1]", "unset"},
        {"while [true] [break/return 3]", "unset"},  // while answers unset even after break
        {"while [false] [1]", "unset"},
        {"while [break] []", "*** Throw Error: BREAK/CONTINUE cannot be used in WHILE condition block"},
        {"while [continue] []", "*** Throw Error: BREAK/CONTINUE cannot be used in WHILE condition block"},
        {"while [()] []", "*** Script Error: block did not return a value"},
        {"x: 0 until [x: x + 1 x = 4]", "true"},
        {"x: 0 until [x: x + 1 if x < 3 [continue] x]", "3"},  // continue skips the test
        {"until [break/return 6]", "6"},
        {"until [()]", "*** Script Error: block did not return a value"},
    });
}

TEST_F(ControlLoopTest, ForeachSetsWordsFromTheSeries) {
    check_cases({
        {"b: [] foreach v [1 2 3] [append b v * 2] b", "[2 4 6]"},
        {"foreach v [1 2 3] [v]", "3"},
        {"foreach v [] [1]", "unset"},
        {"b: [] foreach [k v] [a 1 b 2] [append b v] b", "[1 2]"},
        {"b: [] foreach [x y] [1 2 3] [append/only b reduce [x y]] b", "[[1 2] [3 none]]"},
        {"foreach [x y] [1 2 3] [y]", "none"},
        {"b: [] foreach c \"ab\" [append b c] b", "[#\"a\" #\"b\"]"},
        {"b: [] foreach [c d] \"abc\" [append b d] b", "[#\"b\" none]"},
        {"foreach v next [1 2 3] [v]", "3"},
        {"foreach v reduce [1 ()] [:v]", "unset"},  // values are set as they are, unset included
        {"foreach [] [1 2] []", "*** Script Error: invalid argument: []"},
        {"foreach [a 1] [1 2] []", "*** Script Error: invalid argument: 1"},
        // A body that empties the series ends the walk.
        {"b: [1 2 3 4] x: 0 foreach v b [x: x + 1 clear b] x", "1"},
        // ... and one that grows it walks on into the new values.
        {"b: [1 2] n: 0 foreach v b [n: n + 1 if n < 5 [append b v]] n", "6"},
        // A loop word that is an object's field sets it as an assignment would: its change
        // handler sees every round.
        {"seen: copy [] o: make object! [i: 0 on-change*: func [w old new] [append seen new]"
         " run: func [] [repeat i 3 [] foreach i [7 8] []]] o/run seen",
         "[1 2 3 7 8]"},
    });
}

TEST_F(ControlLoopTest, ForallWalksTheWordsSeries) {
    check_cases({
        {"b: [1 2 3] x: 0 forall b [x: x + b/1] x", "6"},
        {"b: [1 2 3] forall b [b/1]", "3"},
        {"b: [1 2 3] forall b [] b", "[1 2 3]"},                   // set back after a normal end
        {"b: [1 2 3] forall b [if b/1 = 2 [break]] b", "[2 3]"},  // kept after break
        {"b: next [1 2 3] forall b [] b", "[2 3]"},
        {"b: [] forall b [1]", "unset"},
        {"s: \"abc\" t: copy \"\" forall s [append t s/1] t", "\"abc\""},
        {"b: [1 2 3 4] x: 0 forall b [x: x + 1 b: next b] x", "2"},  // the body may move the word
        {"b: [1 2 3] forall b [remove b] b", "[2]"},
        {"b: [1 2] forall b [b: [3]]", "*** Script Error: Loop series changed to invalid value: [3]"},
        {"x: 5 forall x []", "*** Script Error: forall does not allow integer! for its 'word argument"},
    });
}

TEST_F(ControlLoopTest, RemoveEachRemovesWhereTheBodyIsTrue) {
    check_cases({
        {"b: [1 2 3 4] remove-each v b [odd? v] b", "[2 4]"},
        {"remove-each v [1 2 3 4] [odd? v]", "[2 4]"},
        {"remove-each v next [1 2 3 4] [odd? v]", "[2 4]"},
        {"b: [1 2 3 4] remove-each v next b [true] b", "[1]"},
        {"remove-each [a b] [1 2 3 4 5 6] [a = 3]", "[1 2 5 6]"},
        {"remove-each [a b] [1 2 3] [b = none]", "[1 2]"},
        {"remove-each v [1 2 3] [if v = 2 [continue] true]", "[2]"},
        {"b: [1 2 3 4] remove-each v b [if v = 3 [break] true] b", "[3 4]"},
        {"remove-each c \"a1b2\" [find \"12\" c]", "\"ab\""},
        {"remove-each v [1 2] [none]", "[1 2]"},
        {"h: make hash! [a 1 b 2] remove-each [k v] h [k = 'a] select h 'b", "2"},
        {"remove-each [] [1] []", "*** Script Error: invalid argument: []"},
    });
}

}  // namespace
}  // namespace kel::test::eval
