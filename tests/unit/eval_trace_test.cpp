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

}  // namespace
}  // namespace kel::test::eval
