// Deep recursion ends in internal/stack-overflow whatever the native stack, code that edits
// the block it runs in stays safe, and the inline operators answer as the actions do.
#include <pthread.h>

#include <functional>

#include "eval_support.h"
#include "runtime/gc.h"

namespace kel::test::eval {
namespace {

class DepthTest : public EvalTest {};

constexpr const char* OVERFLOW_REPORT = "stack-overflow";

TEST_F(DepthTest, RecursionAThousandDeepWorks) {
    EXPECT_EQ(run("f: func [n] [either n = 0 [0] [1 + f n - 1]] f 1000"), "1000");
}

TEST_F(DepthTest, EndlessRecursionIsAnError) {
    for (const char* source : {
             "f: func [] [f] e: try [f] e/id",
             "f: func [n] [1 + f n] e: try [f 1] e/id",
             "f: func [] [do [f]] e: try [f] e/id",
             "b: [do b] e: try [do b] e/id",
             // Through the conditionals a body runs inline, and through ones met elsewhere:
             // a block that holds itself, a paren that holds itself.
             "f: func [n] [either n > 0 [f n + 1] [0]] e: try [f 1] e/id",
             "f: func [] [x: 1 if true [f]] e: try [f] e/id",
             "b: copy [either true] append/only b b append/only b b e: try [do b] e/id",
             "p: to paren! [] append/only p p e: try [do p] e/id",
         })
        EXPECT_EQ(run(source), OVERFLOW_REPORT) << source;
    // A long chain of prefix calls without any block between them.
    std::string chain = "e: try [";
    for (int i = 0; i < 30000; ++i) chain += "negate ";
    chain += "1] e/id";
    EXPECT_EQ(run(chain.c_str()), OVERFLOW_REPORT);
    // Afterwards everything works as before.
    EXPECT_EQ(run("f: func [n] [either n = 0 [0] [1 + f n - 1]] f 100"), "100");
}

// Runs `body` on a thread with a small native stack, as an embedding program might.
void on_small_stack(size_t bytes, const std::function<void()>& body) {
    struct Job {
        const std::function<void()>* body;
    } job{&body};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, bytes);
    pthread_t t;
    auto run_job = [](void* p) -> void* {
        rt::gc_attach_current_thread();
        (*static_cast<Job*>(p)->body)();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&t, &attr, run_job, &job), 0);
    pthread_join(t, nullptr);
    pthread_attr_destroy(&attr);
    rt::gc_attach_current_thread();
}

TEST_F(DepthTest, SmallNativeStackStillEndsInAnError) {
    std::string out;
    on_small_stack(size_t(2) << 20, [&] { out = run("f: func [n] [1 + f n] e: try [f 1] e/id"); });
    EXPECT_EQ(out, OVERFLOW_REPORT);
    on_small_stack(size_t(2) << 20, [&] { out = run("f: func [n] [either n > 0 [f n + 1] [0]] e: try [f 1] e/id"); });
    EXPECT_EQ(out, OVERFLOW_REPORT);
}

// A watch that stops every run after a fixed number of checks, until it is reset.
int g_watch_checks = 0;
void stop_after_a_thousand() {
    if (++g_watch_checks > 1000) rt::raise_error(rt::Err::internal_too_deep);
}

TEST_F(DepthTest, StepWatchStopsEndlessRuns) {
    ev::set_step_watch(stop_after_a_thousand);
    for (const char* source : {
             "forever []",
             "loop 2147483647 [1 + 1]",
             "while [true] [attempt [1]]",
             "forever [try [forever []]]",
             "f: does [f] f",
             "f: does [either true [g] [0]] g: does [f] f",
         }) {
        g_watch_checks = 0;
        EXPECT_NE(run(source).find("too deep"), std::string::npos) << source;
    }
    ev::set_step_watch(nullptr);
    // Without the watch the same thread's checks are back to the native stack alone.
    EXPECT_EQ(run("n: 0 loop 5000 [n: n + 1] n"), "5000");
    EXPECT_EQ(run("f: func [] [f] e: try [f] e/id"), OVERFLOW_REPORT);
}

TEST_F(DepthTest, CodeThatEditsItsOwnBlock) {
    struct Case {
        const char* source;
        const char* expected;
    };
    for (Case c : {
             // The walk sees the block as it is now: appended values are evaluated too.
             Case{"b: [append b 1 append b 2 length? b] do b", "2"},
             Case{"b: [clear b 1 2 3] do b", "[]"},
             Case{"b: [remove b 5 6] do b", "6"},
             // Growing far beyond the original buffer, with collections in between.
             Case{"b: [loop 2000 [append b 1] recycle clear b 7] do b", "[]"},
             Case{"b: [x: length? b loop 5000 [append/only b [1 2 3]] recycle x] do b", "[1 2 3]"},
         })
        EXPECT_EQ(run(c.source), c.expected) << c.source;
}

TEST_F(DepthTest, InlineOperatorsAnswerAsTheActions) {
    const char* values[] = {"0", "-1", "7", "2147483647", "-2147483648", "65536", "1.5", "1e308"};
    const char* ops[][2] = {{"+", "add"},      {"-", "subtract"}, {"*", "multiply"},
                            {"and", "and~"},   {"or", "or~"},     {"xor", "xor~"},
                            {"<", "lesser?"},  {">", "greater?"}, {"<=", "lesser-or-equal?"},
                            {">=", "greater-or-equal?"},          {"=", "equal?"},
                            {"<>", "not-equal?"},                 {"==", "strict-equal?"}};
    for (const char* a : values)
        for (const char* b : values)
            for (auto& op : ops) {
                std::string infix = std::string("x: ") + b + " " + a + " " + op[0] + " x";
                std::string prefix = std::string(op[1]) + " " + a + " " + b;
                std::string expr = std::string(a) + " " + op[0] + " (0 + " + b + ")";
                // An error names the word called (+ or add): compare what follows it.
                auto head = [](std::string s) {
                    if (s.rfind("***", 0) != 0) return s;
                    s = s.substr(0, s.find('\n'));
                    size_t at = s.find("Error: ");
                    return s.substr(0, at) + s.substr(s.find(' ', at + 7));
                };
                std::string expected = head(run(prefix.c_str()));
                EXPECT_EQ(head(run(infix.c_str())), expected) << infix;
                EXPECT_EQ(head(run(expr.c_str())), expected) << expr;
            }
}

}  // namespace
}  // namespace kel::test::eval
