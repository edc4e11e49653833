// Platform start-up and process services: signals mapped to runtime errors, the argument
// list, current directory, environment, time and sleeping. Only this layer (and the other
// platform-facing modules of runtime/ and host/) includes OS headers.
#pragma once
#include <string>

#include "runtime/types.h"

namespace kel::rt {

// First thing the program does: fatal-signal handlers on an alternate stack, SIGPIPE
// ignored, the argument list stored in the system record as UTF-8.
void platform_start(int argc, char** argv);
// Per thread that runs runtime code: the alternate signal stack.
void platform_thread_init();
void platform_thread_exit();
// Runtime boot step: console output.
void platform_init();

// The runtime error number for a fatal signal and its si_code (0 for a quiet exit).
i32 signal_error_number(int signo, int code, bool near_stack_limit);

// The native stack the evaluator runs on: bounds for the conservative scan and the
// recursion guards.
void set_native_stack_bounds(const void* low, const void* high);
extern const u8* g_native_stack_low;
extern const u8* g_native_stack_high;

}  // namespace kel::rt
