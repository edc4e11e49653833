// Platform start-up and process services: signals mapped to runtime errors, the argument
// list, current directory, environment, time and sleeping. Only this layer (and the other
// platform-facing modules of runtime/ and host/) includes OS headers.
//
// Text crossing this layer is UTF-8, as the OS takes it; environment names are
// case-sensitive. The services pass the OS's answers on; the natives decide what a failure
// means.
#pragma once
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "runtime/types.h"

namespace kel::rt {

// First thing the program does: fatal-signal handlers on an alternate stack, SIGPIPE
// ignored, the argument list stored in the system record as UTF-8 (heap blocks).
void platform_start(int argc, char** argv);
// Per thread that runs runtime code: the alternate signal stack.
void platform_thread_init();
void platform_thread_exit();
// Runtime boot step: console output.
void platform_init();

// The runtime error number for a fatal signal and its si_code.
i32 signal_error_number(int signo, int code, bool near_stack_limit);

// ---- terminal modes -------------------------------------------------------------------

// A terminal whose modes the program changed (echo off for a hidden prompt): the modes it
// had before are put back whatever ends the process, an exit, a fatal error or a signal
// (SIGINT, SIGTERM, SIGHUP, SIGQUIT). `saved` points to the `termios` read before the
// change.
void remember_terminal_modes(int fd, const void* saved);
void forget_terminal_modes();
// Puts the remembered modes back (async-signal-safe); nothing when none are remembered.
void restore_terminal_modes();

// The native stack the evaluator runs on: bounds for the conservative scan and the
// recursion guards.
void set_native_stack_bounds(const void* low, const void* high);
extern const u8* g_native_stack_low;
extern const u8* g_native_stack_high;

// ---- current directory ----------------------------------------------------------------

// The process's current directory without a trailing slash (but "/"); empty when it
// cannot be read (removed, or beyond reach).
std::string get_current_dir_os();
bool set_current_dir_os(const std::string& path);

// ---- environment ----------------------------------------------------------------------

// The value, or nothing when the variable is absent. A name that cannot exist (empty,
// holding "=" or NUL) is absent.
std::optional<std::string> get_env_os(const std::string& name);
// Sets the variable, or removes it when `value` is null. False when the name or value
// cannot be stored (empty name, "=" or NUL in the name, NUL in the value).
bool set_env_os(const std::string& name, const std::string* value);
// Every variable as (name, value), in the environment's order. An entry splits at its
// first "=" that is not its first character.
std::vector<std::pair<std::string, std::string>> list_env_os();

// ---- time -----------------------------------------------------------------------------

// Sleeps for `seconds` (at least one millisecond, and a wait of any length: long ones in
// pieces). NaN sleeps one millisecond; callers refuse it first.
void os_sleep(double seconds);
// The milliseconds os_sleep waits: seconds × 1000 truncated, at least 1.
double sleep_milliseconds(double seconds);
// Seconds since midnight UTC; with `precise` the fraction too (nanoseconds).
double get_utc_time(bool precise);
// Today's date as the packed date word: year in bits 17 and up, month in 12-16 (1-12, so
// bit 16 stays clear), day in 7-11, zone in 0-6. With `utc` the UTC date and zone 0, else
// the local date and the local offset.
u32 get_local_time(bool utc);
// The packed word of a date and an offset east of UTC in minutes.
u32 pack_date(i32 year, i32 month, i32 day, i32 offset_minutes);
// The current moment, read once: the calendar date and the time of day (seconds, with the
// nanoseconds as a fraction) in the local zone, or in UTC with `utc`, and the local
// offset east of UTC in seconds (0 with `utc`).
struct ClockReading {
    i32 year;
    i32 month;  // 1-12
    i32 day;    // 1-31
    double seconds;
    i32 offset_seconds;
};
ClockReading read_clock(bool utc);
// The zone bits: whole hours of |offset| in bits 2-5, the sign (of the whole offset) in
// bit 6, quarter hours in bits 0-1.
u32 pack_zone(i32 offset_minutes);

// ---- randomness -----------------------------------------------------------------------

// Fills the buffer from the kernel's cryptographic generator; false when it cannot.
bool secure_random_bytes(void* out, size_t n);

}  // namespace kel::rt
