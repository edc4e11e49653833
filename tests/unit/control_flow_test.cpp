// Conditionals, switch, case, the function makers and do.
#include "control_support.h"

namespace kel::test::eval {
namespace {

class ControlFlowTest : public EvalTest {};

TEST_F(ControlFlowTest, ConditionalsUseThePlainOrTheCheckedTruth) {
    check_cases({
        {"if true [1]", "1"},
        {"if false [1]", "none"},
        {"if none [1]", "none"},
        {"if 0 [1]", "1"},
        {"if () [1]", "1"},  // unset is true for the plain test
        {"unless false [1]", "1"},
        {"unless 1 [2]", "none"},
        {"either none [1] [2]", "2"},
        {"either [] [1] [2]", "1"},
        {"either () [1] [2]", "*** Script Error: block did not return a value"},
        {"if true []", "unset"},
    });
}

TEST_F(ControlFlowTest, AnyAndAllStopAtTheAnswer) {
    check_cases({
        {"any []", "none"},
        {"all []", "none"},
        {"any [none false]", "none"},
        {"any [none 2 3]", "2"},
        {"any [() 1]", "unset"},
        {"all [1 2 3]", "3"},
        {"all [1 none 3]", "none"},
        {"all [1 ()]", "unset"},
        {"x: 0 any [1 x: 2] x", "0"},
        {"x: 0 all [false x: 2] x", "0"},
        {"any [1 + 2 false]", "3"},
    });
}

TEST_F(ControlFlowTest, SwitchComparesOnlyValuesOfTheSameDatatype) {
    check_cases({
        {"switch 2 [1 [10] 2 [20]]", "20"},
        {"switch 1 [1.0 [10] 1 [20]]", "20"},
        {"switch 2 [1 2 [20] 3 [30]]", "20"},  // cases share the block that follows them
        {"switch \"a\" [\"A\" [1]]", "1"},
        {"switch 9 [1 [10]]", "none"},
        {"switch 3 [1 [10] 3]", "none"},  // a match with no block after it
        {"switch/default 9 [1 [10]] [99]", "99"},
        {"switch [1] [[1] [5]]", "none"},
        {"switch/default [1] [[1] [5]] [6]", "6"},
        {"switch 'b [a [1] b [2]]", "2"},
    });
}

TEST_F(ControlFlowTest, CaseTakesTheFirstTrueCondition) {
    check_cases({
        {"case []", "none"},
        {"case [false [1] true [2]]", "2"},
        {"case [false [1] none [2]]", "none"},
        {"case [true 1 + 2]", "3"},
        {"case [false add 1 2 true 3]", "2"},  // a false condition skips one cell only
        {"case/all [true [1] true [2]]", "2"},
        {"case/all [true [1] true [2] false [3]]", "none"},
        {"x: 0 case/all [true [x: x + 1] true [x: x + 10]] x", "11"},
        {"x: 0 case [true [x: 1] true [x: 2]] x", "1"},
        {"case [true]", "*** Script Error: case needs a value"},
        {"case [() [1]]", "*** Script Error: block did not return a value"},
    });
}

TEST_F(ControlFlowTest, FunctionMakers) {
    check_cases({
        {"f: func [a b] [a + b] f 1 2", "3"},
        {"f: func [a /twice] [either twice [a * 2] [a]] f/twice 4", "8"},
        {"b: [1] f: func [] b append b 2 f", "1"},  // the body is a copy
        {"x: 1 f: function [] [x: 2] f x", "1"},
        {"f: function [] [foreach w [1 2] [] repeat k 2 [] w] f", "2"},
        {"w: 0 f: function [] [foreach w [1 2] []] f w", "0"},
        {"z: 1 f: function [/extern z] [z: 5] f z", "5"},
        {"f: does [5] f", "5"},
        {"f: has [a] [a: 3 a] f", "3"},
        {"a: 1 f: has [a] [a: 3] f a", "1"},
        {"f: func next [x a] [a] f 7", "7"},  // the spec from its index
    });
}

TEST_F(ControlFlowTest, ExitsPassThroughConditionals) {
    check_cases({
        {"f: func [] [if true [return 5] 6] f", "5"},
        {"f: func [] [either false [1] [return 7]] f", "7"},
        {"f: func [] [any [none return 3] 4] f", "3"},
        {"f: func [] [all [1 return 3] 4] f", "3"},
        {"f: func [] [switch 1 [1 [return 8]] 9] f", "8"},
        {"f: func [] [case [true [return 2]] 9] f", "2"},
        {"loop 3 [if true [break/return 1]]", "1"},
        {"catch [if true [throw 4] 5]", "4"},
    });
}

TEST_F(ControlFlowTest, DoByDatatype) {
    check_cases({
        {"do [1 + 2]", "3"},
        {"do []", "unset"},
        {"do next [1 2]", "2"},
        {"do pick [(1 + 1)] 1", "2"},
        {"do 5", "5"},
        {"x: 4 do 'x", "4"},
        {"do 'negate", "*** Script Error: negate is missing its number argument"},
        {"f: :negate same? :f do :f", "true"},  // a function value is answered, not called
        {"b: [x 3] do 'b/x", "3"},
        {"do make error! \"boom\"", "*** User Error: boom"},
    });
}

TEST_F(ControlFlowTest, DoLoadsStrings) {
    check_cases({
        {"do \"1 + 2\"", "3"},
        {"do next \"x 5\"", "5"},  // from the string's index
        {"do \"\"", "unset"},
        {"do/next \"1 2\" 'p p", "[2]"},
        {"do \"[\"", "*** Syntax Error: (line 1) missing ] at ["},
        {"do \"switch #^\"a^\" [#^\"A^\" [1] #^\"a^\" [2]]\"", "2"},  // chars compare by code point
    });
}

TEST_F(ControlFlowTest, DoNextStepsThroughABlock) {
    check_cases({
        {"b: [1 + 2 3] do/next b 'p", "3"},
        {"b: [1 + 2 3] do/next b 'p p", "[3]"},
        {"b: [1 + 2 3] do/next b 'p do/next p 'p p", "[]"},
        {"b: [] do/next b 'p", "unset"},
        {"b: next [1] do/next b 'p same? p b", "true"},
        {"b: [1 2] p: none do/next skip b 5 'p index? p", "3"},  // the position clamps to the tail
    });
}

// do/trace: the tracer sees init and end around the evaluation, however it ends, and the
// exit's value survives the tracer's own call.
TEST_F(ControlFlowTest, DoTraceKeepsTheExitsValue) {
    run("ev: [] t: func [event code offset value ref frame] [[init end] append ev event]");
    check_cases({
        {"clear ev do/trace [1 + 2] :t", "3"},
        {"ev", "[init end]"},
        {"clear ev f: func [] [do/trace [return 5] :t 6] f", "5"},
        {"ev", "[init end]"},
        {"f: func [] [do/trace [exit] :t 6] f", "unset"},
        {"loop 2 [do/trace [break/return 3] :t]", "3"},
        {"do/trace [return 1] :t", "*** Throw Error: return or exit not in function"},
        {"clear ev try [do/trace [1 / 0] :t] ev", "[init end]"},
        // A nested do/trace keeps the tracer installed by the outer one.
        {"clear ev do/trace [do/trace [1] :t] :t ev", "[init end]"},
    });
}

TEST_F(ControlFlowTest, DoRefinementsThatNeedTheLibrary) {
    check_cases({
        {"do/args [1] 5", "1"},
        {"do/expand [1]", "*** Script Error: preprocessor has no value"},
    });
}

}  // namespace
}  // namespace kel::test::eval
