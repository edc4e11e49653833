// Shared fixture for the runtime's unit tests.
#pragma once
#include <gtest/gtest.h>

#include <functional>

#include "console/boot.h"
#include "runtime/errors.h"
#include "runtime/exits.h"
#include "runtime/gc.h"
#include "runtime/stack.h"

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
    }
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
