// The runtime as the fuzz targets that need no library start it: once per process, with
// the collector on and empty stacks.
#pragma once
#include "console/boot.h"
#include "runtime/gc.h"
#include "runtime/exits.h"
#include "runtime/stack.h"

namespace kel::fuzz {

inline void boot_runtime_once() {
    static bool booted = [] {
        console::runtime_init();
        rt::gc_attach_current_thread();
        rt::g_gc_enabled = true;
        rt::g_args.base = rt::g_args.top = rt::g_args.bottom;
        return true;
    }();
    (void)booted;
}

// Runs `body` as the `try` native would, then puts the stacks back; true when no error was
// raised.
template <class F>
bool guarded(F body) {
    using namespace rt;
    Cell* saved_base = g_args.base;
    Cell* saved_top = g_args.top;
    CallFrame* saved_calls = g_calls.top;
    stack_open_try(nullptr);
    bool ok = true;
    try {
        body();
    } catch (ErrorThrow&) {
        ok = false;
    }
    g_args.base = saved_base;
    g_args.top = saved_top;
    g_calls.top = saved_calls;
    return ok;
}

}  // namespace kel::fuzz
