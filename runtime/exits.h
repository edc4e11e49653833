// Non-local exits.
//
// Every transfer of control that skips callers carries a 32-bit code. The code that starts
// one first puts the argument and call stacks into the state the target expects (the
// functions below), then the code travels:
//
//   - break, continue, return, exit and throw travel as a Status returned through the
//     evaluator: each step that gets a non-zero Status returns it at once, touching no stack;
//   - errors (and out-of-memory, stack overflow) travel as a C++ exception, ErrorThrow;
//   - any other systems-level code (quit, codes no site knows) travels as SystemThrow.
//
// A catch site has a threshold: it receives every code up to its threshold, compared
// unsigned, takes the codes it owns and passes the others on unchanged. Thresholds: try
// 0x7FFFFFFF, loops and parse 0x7FFFFFFE, catch 0x7FFFFFFA. A SystemThrow that no site takes
// reaches the top: quit (0x0BADCAFE) exits 0, anything else is runtime error 95.
#pragma once
#include "runtime/cell.h"
#include "runtime/types.h"

namespace kel::rt {

using Status = u32;  // 0 = completed normally

constexpr u32 CODE_ERROR = 0x7FFFFFFF;
constexpr u32 CODE_BREAK = 0x7FFFFFFE;
constexpr u32 CODE_CONTINUE = 0x7FFFFFFD;
constexpr u32 CODE_RETURN = 0x7FFFFFFC;
constexpr u32 CODE_EXIT = 0x7FFFFFFB;
constexpr u32 CODE_THROW = 0x7FFFFFFA;
constexpr u32 CODE_OS_WRAPPER = 0x7FFFFFF8;
constexpr u32 CODE_OS_ALLOC = 0x7FFFFFF7;
constexpr u32 CODE_OS_FREE = 0x7FFFFFF6;
constexpr u32 CODE_QUIT = 0x0BADCAFE;

constexpr u32 THRESHOLD_TRY = CODE_ERROR;
constexpr u32 THRESHOLD_LOOP = CODE_BREAK;
constexpr u32 THRESHOLD_CATCH = CODE_THROW;

// The unsigned rule: a threshold receives every code up to itself.
inline bool threshold_receives(u32 threshold, u32 code) { return code <= threshold; }

// A systems-level code travelling as an exception.
struct SystemThrow {
    u32 code;
};
// An error travelling to the innermost try; the error! value is on the argument stack top.
struct ErrorThrow : SystemThrow {
    ErrorThrow() : SystemThrow{CODE_ERROR} {}
};

// Starts a systems-level throw of `code` (stores it in the system record).
[[noreturn]] void system_throw(u32 code);

// Runs `body` as a catch site with `threshold`: a Status or SystemThrow code the site
// receives is answered; codes above the threshold pass through untouched.
template <class Body>
u32 catch_site(u32 threshold, Body&& body) {
    try {
        return body();
    } catch (SystemThrow& t) {
        if (!threshold_receives(threshold, t.code)) throw;
        return t.code;
    }
}

// Stack preparations of the exits; each answers the code to return outward, or raises
// throw/break, throw/continue, throw/return or throw/throw when there is no target.
Status throw_break(bool with_value, bool is_continue);
Status throw_return(bool with_value, bool keep);
Status throw_value(u32 code);
// Unrolls to the innermost try, pushes the error and throws ErrorThrow; an error with no
// try at all is printed and ends the process with exit code -2.
[[noreturn]] void throw_error_value(const Cell* error);

// The frame remembered by the last throw (stack-get-call starts from it and clears it).
extern u32 g_throw_origin;  // index into the call stack + 1; 0 = none

// Hooks installed by the error! datatype: fill `where` and `stack` before unrolling; print
// an error nobody catches.
extern void (*g_error_locate_hook)(Cell* error);
extern void (*g_uncaught_error_printer)(const Cell* error);

}  // namespace kel::rt
