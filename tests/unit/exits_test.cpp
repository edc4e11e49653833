// Non-local exits: the threshold rule of catch sites, the stack states that break,
// continue, return, exit and throw prepare, and errors with or without a try frame.
#include "output_capture.h"
#include "runtime/console_out.h"
#include "runtime/errors.h"
#include "runtime/exits.h"
#include "runtime/stack.h"
#include "runtime/system_record.h"
#include "support.h"

namespace kel::rt {
namespace {

using test::catch_error;

TEST(CatchSiteTest, ThresholdsReceiveEveryCodeUpToThemselvesUnsigned) {
    struct Case {
        u32 threshold, code;
        bool received;
    };
    for (Case c : {Case{THRESHOLD_LOOP, CODE_BREAK, true}, Case{THRESHOLD_LOOP, CODE_CONTINUE, true},
                   Case{THRESHOLD_LOOP, CODE_RETURN, true}, Case{THRESHOLD_LOOP, CODE_THROW, true},
                   Case{THRESHOLD_LOOP, CODE_QUIT, true}, Case{THRESHOLD_LOOP, CODE_ERROR, false},
                   Case{THRESHOLD_CATCH, CODE_THROW, true}, Case{THRESHOLD_CATCH, CODE_EXIT, false},
                   Case{THRESHOLD_CATCH, CODE_BREAK, false}, Case{THRESHOLD_TRY, CODE_ERROR, true},
                   Case{CODE_OS_WRAPPER, CODE_OS_ALLOC, true}, Case{CODE_OS_WRAPPER, CODE_OS_FREE, true},
                   Case{CODE_OS_WRAPPER, CODE_THROW, false}, Case{0, CODE_QUIT, false}, Case{0, 1, false},
                   Case{THRESHOLD_TRY, 0x80000000u, false}, Case{THRESHOLD_TRY, 0xFFFFFFFFu, false}}) {
        bool received = false, passed = false;
        try {
            u32 got = catch_site(c.threshold, [&]() -> Status { system_throw(c.code); });
            received = got == c.code;
        } catch (SystemThrow& t) {
            passed = t.code == c.code;
        }
        EXPECT_EQ(received, c.received) << std::hex << c.threshold << " " << c.code;
        EXPECT_EQ(passed, !c.received) << std::hex << c.threshold << " " << c.code;
    }
    // Returned statuses come back as they are; an error passed on is still an error.
    EXPECT_EQ(catch_site(THRESHOLD_LOOP, [] { return Status(0); }), 0u);
    EXPECT_EQ(catch_site(THRESHOLD_CATCH, [] { return Status(CODE_BREAK); }), CODE_BREAK);
    EXPECT_THROW(catch_site(THRESHOLD_LOOP, []() -> Status { throw ErrorThrow(); }), ErrorThrow);
}

class ExitsTest : public test::StackProbeTest {
protected:
    // loop or catch frame, a function frame with a context, and the native that exits:
    // windows at 1, 2 and 3, the native's result slot holding 42.
    void build(u32 outer_header) {
        push_int(0);
        stack_open_frame(nullptr, outer_header);
        push_int(1);
        ctx_ = alloc_cells(1);
        cells_of(buffer_of(ctx_))->data2 = 1111;
        stack_open_function(nullptr, ctx_);
        cells_of(buffer_of(ctx_))->data2 = 2222;
        push_int(2);
        stack_open_native(nullptr);
        push_int(42);
        push_int(43);
    }
    u32 context_values() { return cells_of(buffer_of(ctx_))->data2; }
    Node ctx_ = 0;
};

TEST_F(ExitsTest, BreakLeavesTheLoopFrameWithItsResult) {
    build(FH_LOOP);
    EXPECT_EQ(throw_break(true, false), CODE_BREAK);
    EXPECT_EQ(g_system.thrown, CODE_BREAK);
    EXPECT_EQ(frames(), 1);
    EXPECT_EQ(frame_type(stack_top_frame()), u32(FRAME_LOOP));
    EXPECT_EQ(base_index(), 1);
    EXPECT_EQ(depth(), 1);
    EXPECT_EQ(get_int(g_args.base), 42);
    EXPECT_EQ(context_values(), 1111u);
}

TEST_F(ExitsTest, PlainBreakAndContinueLeaveUnset) {
    for (bool is_continue : {false, true}) {
        g_args.base = g_args.top = g_args.bottom;
        g_calls.top = g_calls.bottom;
        build(FH_LOOP);
        // The value flag counts only for break.
        EXPECT_EQ(throw_break(is_continue, is_continue), is_continue ? CODE_CONTINUE : CODE_BREAK);
        EXPECT_EQ(type_of(g_args.base), T_UNSET);
        EXPECT_EQ(base_index(), 1);
    }
}

TEST_F(ExitsTest, ReturnAndExitStopAtTheReturnTarget) {
    for (bool with_value : {true, false}) {
        g_args.base = g_args.top = g_args.bottom;
        g_calls.top = g_calls.bottom;
        push_int(0);
        stack_open_function(nullptr, 0);
        stack_set_return_flag(true);
        push_int(1);
        stack_open_loop(nullptr);
        push_int(2);
        stack_open_native(nullptr);  // the `return` call itself
        push_int(42);
        EXPECT_EQ(throw_return(with_value, false), with_value ? CODE_RETURN : CODE_EXIT);
        EXPECT_EQ(frames(), 1);
        EXPECT_TRUE(stack_top_frame()->header & FRAME_RETURN_TARGET);
        EXPECT_EQ(base_index(), 1);
        EXPECT_EQ(depth(), 1);
        if (with_value) EXPECT_EQ(get_int(g_args.base), 42);
        else EXPECT_EQ(type_of(g_args.base), T_UNSET);
    }
    // With keep, the innermost frame may be the target itself.
    g_args.base = g_args.top = g_args.bottom;
    g_calls.top = g_calls.bottom;
    push_int(0);
    stack_open_function_body(nullptr, 0);
    push_int(7);
    EXPECT_EQ(throw_return(true, true), CODE_RETURN);
    EXPECT_EQ(frames(), 1);
    EXPECT_EQ(get_int(g_args.base), 7);
}

TEST_F(ExitsTest, ThrowStopsAtTheCatchWithValueAndName) {
    build(FH_CATCH);
    push_int(44);  // the throw call's window: value 42, name 43, then this
    g_throw_origin = 0;
    EXPECT_EQ(throw_value(CODE_THROW), CODE_THROW);
    EXPECT_EQ(frames(), 1);
    EXPECT_EQ(frame_type(stack_top_frame()), u32(FRAME_CATCH));
    EXPECT_EQ(base_index(), 1);
    EXPECT_EQ(depth(), 3);
    EXPECT_EQ(get_int(g_args.base), 42);
    EXPECT_EQ(get_int(g_args.base + 1), 43);
    EXPECT_EQ(g_throw_origin, 2u + 1);  // the function frame, once the throw call's was off
    EXPECT_EQ(context_values(), 1111u);
    g_throw_origin = 0;
}

// Records the stacks as the error sees them before unrolling.
struct Seen {
    i32 frames, base, top;
};
Seen g_seen;

class ExitErrorsTest : public ExitsTest {
protected:
    void SetUp() override {
        ExitsTest::SetUp();
        g_error_locate_hook = [](Cell*) {
            // The error itself sits in a slot pushed for the hook.
            g_seen = {i32(g_calls.top - g_calls.bottom), i32(g_args.base - g_args.bottom), i32(g_args.top - g_args.bottom) - 1};
        };
        bare_.install();
    }
    void TearDown() override {
        g_error_locate_hook = nullptr;
        bare_.remove();
    }
    test::BareErrors bare_;
};

TEST_F(ExitErrorsTest, NoTargetRestoresTheStacksBeforeRaising) {
    struct Case {
        const char* name;
        Status (*exit)();
        Err error;
    };
    for (Case c : {Case{"break", [] { return throw_break(true, false); }, Err::throw_break},
                   Case{"continue", [] { return throw_break(false, true); }, Err::throw_continue},
                   Case{"return", [] { return throw_return(true, false); }, Err::throw_return},
                   Case{"exit", [] { return throw_return(false, false); }, Err::throw_return},
                   Case{"throw", [] { return throw_value(CODE_THROW); }, Err::throw_throw}}) {
        g_args.base = g_args.top = g_args.bottom;
        g_calls.top = g_calls.bottom;
        build(FH_TRY);  // a plain try: no target on the way to it
        Err e = Err::count;
        try {
            c.exit();
        } catch (ErrorThrow&) {
            e = error_id_of(stack_top());
        }
        EXPECT_EQ(e, c.error) << c.name;
        EXPECT_EQ(g_seen.frames, 3) << c.name;
        EXPECT_EQ(g_seen.base, 3) << c.name;
        EXPECT_EQ(g_seen.top, 5) << c.name;
        // The try took the error: its frame is off, the error on top.
        EXPECT_EQ(frames(), 0) << c.name;
        g_throw_origin = 0;
    }
    EXPECT_EQ(get_int(&test::BareErrors::last_arg1), 42);  // throw/throw names the thrown value
}

TEST_F(ExitErrorsTest, TryAllOnTheWayStopsEveryExit) {
    struct Case {
        const char* name;
        Status (*exit)();
        Err error;
        u32 outer;
    };
    for (Case c : {Case{"break", [] { return throw_break(false, false); }, Err::throw_break, FH_LOOP},
                   Case{"continue", [] { return throw_break(false, true); }, Err::throw_continue, FH_LOOP},
                   Case{"return", [] { return throw_return(true, false); }, Err::throw_return, FH_FUNCTION_BODY},
                   Case{"throw", [] { return throw_value(CODE_THROW); }, Err::throw_throw, FH_CATCH}}) {
        g_args.base = g_args.top = g_args.bottom;
        g_calls.top = g_calls.bottom;
        push_int(0);
        stack_open_frame(nullptr, c.outer);  // the target, beyond the try/all
        push_int(1);
        stack_open_try_all(nullptr);
        build(FH_NATIVE);
        Err e = Err::count;
        try {
            c.exit();
        } catch (ErrorThrow&) {
            e = error_id_of(stack_top());
        }
        EXPECT_EQ(e, c.error) << c.name;
        EXPECT_EQ(g_seen.frames, 5) << c.name;  // the call-stack top was put back
        EXPECT_EQ(frames(), 1) << c.name;       // the try/all took it; the target stays
        g_throw_origin = 0;
    }
}

TEST_F(ExitErrorsTest, ErrorsUnrollToTheInnermostTry) {
    push_int(0);
    stack_open_try(nullptr);
    push_int(1);
    stack_open_try(nullptr);
    build(FH_LOOP);
    try {
        raise_error(Err::math_zero_divide);
    } catch (ErrorThrow&) {
    }
    EXPECT_EQ(g_seen.frames, 5);  // `where` is found with every frame still there
    EXPECT_EQ(frames(), 1);
    EXPECT_EQ(base_index(), 1);
    EXPECT_EQ(error_id_of(stack_top()), Err::math_zero_divide);
    EXPECT_EQ(stack_top(), g_args.bottom + 7);  // above everything the raise left
}

void print_uncaught(const Cell* err) {
    print_values({"uncaught ", i32(error_id_of(err))});
}

TEST(ExitsDeathTest, UncaughtErrorEndsTheProcessWithMinusTwo) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto no_frames = [] {
        console::runtime_init();
        set_console_output_fd(2);
        g_uncaught_error_printer = print_uncaught;
        raise_error(Err::script_no_value);
    };
    auto no_try_frame = [] {
        console::runtime_init();
        set_console_output_fd(2);
        g_uncaught_error_printer = print_uncaught;
        stack_open_loop(nullptr);
        stack_open_function(nullptr, 0);
        raise_error(Err::math_overflow);
    };
    EXPECT_EXIT(no_frames(), ::testing::ExitedWithCode(254), "^uncaught " + std::to_string(int(Err::script_no_value)) + "$");
    EXPECT_EXIT(no_try_frame(), ::testing::ExitedWithCode(254), "^uncaught " + std::to_string(int(Err::math_overflow)) + "$");
}

}  // namespace
}  // namespace kel::rt
