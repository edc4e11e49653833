// The tracer: which events it receives, with what, and what it cannot disturb.
#include "eval_support.h"
#include "evaluator/trace.h"

namespace kel::test::eval {
namespace {

class TraceTest : public EvalTest {};

TEST_F(TraceTest, EventsOfASmallEvaluation) {
    run("log: copy [] tracer: func [event code offset value ref frame] [append log event]");
    EXPECT_EQ(run("do/trace [1 + 2] :tracer"), "3");
    EXPECT_EQ(run("log"), "[init enter fetch push fetch open fetch push call return expr exit end]");
}

TEST_F(TraceTest, AnEventBlockSelectsTheEvents) {
    run("log: copy [] tracer: func [event code offset value ref frame] [[init end call] append log event]");
    EXPECT_EQ(run("f: func [x] [x * 2] do/trace [f 1 + 2] :tracer"), "6");
    EXPECT_EQ(run("log"), "[init call call call end]");
}

TEST_F(TraceTest, OffsetsValuesAndReferences) {
    run("log: copy [] tracer: func [event code offset value ref frame] [[init set call] "
        "append/only log reduce [event offset :value :ref]]");
    run("do/trace [a: 5] :tracer");
    EXPECT_EQ(run("log"), "[[init -1 none none] [set 2 5 a:]]");
}

TEST_F(TraceTest, NoTraceFunctionsAreSilentInside) {
    run("log: copy [] tracer: func [event code offset value ref frame] [[call] append log :value]");
    run("inner: func [x] [x] quiet: func [[no-trace] x] [inner x]");
    run("do/trace [quiet 1] :tracer");
    EXPECT_EQ(run("length? log"), "1") << "only the call of quiet itself";
}

TEST_F(TraceTest, ReturnStillDeliversEpilog) {
    run("log: copy [] tracer: func [event code offset value ref frame] [[prolog epilog] append log event]");
    EXPECT_EQ(run("f: func [] [return 1 2] do/trace [f] :tracer"), "1");
    EXPECT_EQ(run("log"), "[prolog epilog]");
}

TEST_F(TraceTest, ErrorsReachTheTracerAndTracingEnds) {
    run("log: copy [] tracer: func [event code offset value ref frame] [[error end] append log event]");
    EXPECT_EQ(run("e: try [do/trace [1 / 0] :tracer] e/id"), "zero-divide");
    EXPECT_EQ(run("log"), "[error end]");
    EXPECT_FALSE(ev::trace_installed());
}

TEST_F(TraceTest, ExitsOfTheTracerLeaveNoTraceStateBehind) {
    run("f: func [x] [x] tracer-for: func [event action] "
        "[func [event code offset value ref frame] head insert/only copy action reduce [event]]");
    const Case cases[] = {
        {"catch [do/trace [f 1] tracer-for 'init [throw 2]]", "2"},
        {"loop 1 [do/trace [f 1] tracer-for 'prolog [break/return 3]]", "3"},
        {"n: 0 loop 2 [n: n + 1 do/trace [f 1] tracer-for 'call [continue]] n", "2"},
        {"e: try [do/trace [f 1] tracer-for 'epilog [1 / 0]] e/id", "zero-divide"},
        {"catch [do/trace [catch [f 1] 4] tracer-for 'prolog [throw 5]]", "4"},
        {"catch [do/trace [throw 6] tracer-for 'end [throw 7]]", "7"},
        {"e: try [do/trace [1 / 0] tracer-for 'end [throw 8]] e/id", "zero-divide"},
        {"e: try [do/trace [1 / 0] tracer-for 'error [1 / 0]] e/id", "zero-divide"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(run(c.source), c.expected) << c.source;
        EXPECT_FALSE(ev::trace_installed()) << c.source;
        EXPECT_FALSE(ev::g_trace.active) << c.source;
        EXPECT_EQ(type_of(&ev::g_trace.tracer), T_NONE) << c.source;
        EXPECT_EQ(rt::g_system.thrown, 0u) << c.source;
    }
}

// Code that starts untraced never looks at the trace switch again, which holds only because
// every evaluation that switches tracing on puts it back before returning.
TEST_F(TraceTest, TracingSwitchedOnForANestedEvaluationEndsWithIt) {
    run("log: copy [] tracer: func [event code offset value ref frame] [[call] append log :ref]");
    run("f: func [x] [x] loud: func [[trace] x] [f x] quiet: func [[no-trace] x] [loud f x]");
    run("k: func [x] [do/trace [f x] :tracer f x]");
    struct Row {
        const char* code;
        const char* answer;
        const char* log;
    };
    const Row rows[] = {
        // do/trace inside an untraced call: its calls only, none after it.
        {"k 1", "1", "[f]"},
        // Untraced operators, set-words, conditionals and parens after a traced run.
        {"do/trace [f 1] :tracer  y: 1 + f 2  either y > 2 [(f y)] [f 0]", "3", "[f]"},
        // A trace attribute inside a no-trace function switches it back on for its body alone
        // (the call of loud itself is made in quiet's silent body).
        {"do/trace [quiet 1 f 2] :tracer", "2", "[quiet f f]"},
        // The tracer's own calls are never reported.
        {"t2: func [event code offset value ref frame] [[call] append log :ref f 0]  do/trace [f f 1] :t2",
         "1", "[f f]"},
    };
    for (const Row& row : rows) {
        run("log: copy []");
        EXPECT_EQ(run(row.code), row.answer) << row.code;
        EXPECT_EQ(run("log"), row.log) << row.code;
    }
}

}  // namespace
}  // namespace kel::test::eval
