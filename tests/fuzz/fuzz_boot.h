// The runtime as the fuzz targets that need no library start it: once per process, with
// the collector on and empty stacks.
#pragma once
#include "console/boot.h"
#include "runtime/gc.h"
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

}  // namespace kel::fuzz
