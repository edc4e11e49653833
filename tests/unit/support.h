// Shared fixture for the runtime's unit tests.
#pragma once
#include <gtest/gtest.h>

#include <functional>

#include "console/boot.h"
#include "runtime/errors.h"
#include "runtime/exits.h"
#include "runtime/gc.h"
#include "runtime/stack.h"
#include "runtime/system_record.h"

namespace kel::test {

// Boots the runtime once per process and leaves both stacks empty around every test.
class RuntimeTest : public ::testing::Test {
protected:
    void SetUp() override {
        console::runtime_init();
        // Tests run with the collector on, as programs do: a stress build collects at
        // every allocation.
        rt::gc_attach_current_thread();
        rt::g_gc_enabled = true;
        rt::g_args.base = rt::g_args.top = rt::g_args.bottom;
        rt::g_calls.top = rt::g_calls.bottom;
        // An exit a test left in flight must not reach the next one.
        rt::g_system.thrown = 0;
    }
};

// RuntimeTest with probes of the two stacks, for tests that build frames and windows by hand.
class StackProbeTest : public RuntimeTest {
protected:
    static Cell* push_int(i32 v) {
        Cell* c = rt::stack_push_slot();
        set_cell(c, T_INTEGER, 0, u32(v), 0);
        return c;
    }
    static i32 depth() { return i32(rt::g_args.top - rt::g_args.bottom); }
    static i32 base_index() { return i32(rt::g_args.base - rt::g_args.bottom); }
    static i32 frames() { return i32(rt::g_calls.top - rt::g_calls.bottom); }
};

// Errors as bare error! cells (the id alone), for tests of code below the datatypes that
// build full error values. Installed by SetUp, removed by TearDown of the fixtures that
// hold one; `last_arg1` keeps the first argument of the last error raised.
class BareErrors {
public:
    void install(rt::ErrorMaker maker = keep_first_argument) {
        saved_maker_ = rt::g_error_maker;
        saved_reader_ = rt::g_error_id_reader;
        rt::g_error_maker = maker;
        rt::g_error_id_reader = [](const Cell* err) { return rt::Err(err->data1); };
    }
    void remove() {
        rt::g_error_maker = saved_maker_;
        rt::g_error_id_reader = saved_reader_;
    }
    static inline Cell last_arg1;

private:
    static void keep_first_argument(rt::Err e, const Cell* a1, const Cell*, const Cell*, Cell* out) {
        set_cell(&last_arg1, T_NONE);
        if (a1) last_arg1 = *a1;
        set_cell(out, T_ERROR, u32(e));
    }
    rt::ErrorMaker saved_maker_ = nullptr;
    rt::Err (*saved_reader_)(const Cell*) = nullptr;
};

// Runs `body` inside a try frame, as the `try` native does; answers the error raised, or
// Err::count when none was.
inline rt::Err catch_error(const std::function<void()>& body) {
    using namespace rt;
    Cell* saved_base = g_args.base;
    Cell* saved_top = g_args.top;  // values the test pushed before stay where they are
    CallFrame* saved_calls = g_calls.top;
    stack_open_try(nullptr);
    try {
        body();
    } catch (ErrorThrow&) {
        Err e = error_id_of(stack_top());
        g_args.base = saved_base;
        g_args.top = saved_top;
        g_calls.top = saved_calls;
        return e;
    }
    g_args.base = saved_base;
    g_args.top = saved_top;
    g_calls.top = saved_calls;
    return Err::count;
}

}  // namespace kel::test
