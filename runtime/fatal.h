// Fatal runtime errors, process exit and the systems heap.
//
// Everything that cannot go on ends here: one report on standard output and an exit code
// equal to the runtime error number. Heap blocks that the systems layer takes from malloc
// carry a header (32 bytes: two host pointers, the size asked for, a spare word) and sit in
// one list, so that all of them are freed at exit.
#pragma once
#include <cstddef>

#include "runtime/types.h"

namespace kel::rt {

// Host pointers are 64-bit, so the header takes 32 bytes (keeping malloc's alignment); the
// caller's block starts right after it.
constexpr size_t HEAP_HEADER_SIZE = 32;

struct HeapBlockHeader {
    HeapBlockHeader* prev;
    HeapBlockHeader* next;
    i32 size;    // the byte count asked for
    u32 unused;
};

void* heap_allocate(i32 size);
void* heap_allocate_zeroed(i32 size);
void* heap_resize(void* block, i32 size);
void heap_free(void* block);
void heap_free_all();
void heap_dump_stats();

// The message of a runtime error number ("unknown error code!" for numbers not in the table).
const char* runtime_error_message(i32 number);

// Prints "\n*** Runtime Error N: message\n*** at: XXXXXXXXh\n" (nothing for 0), cleans up
// and exits with N.
[[noreturn]] void runtime_quit(i32 number, u64 address);
// Frees every heap block.
void quit_cleanup();
// Ends the process with `code` after the exit handlers (terminal restore) and clean-up.
[[noreturn]] void process_exit(int code);
// Handlers run before any exit, last registered first (the terminal layer restores modes).
void on_process_exit(void (*handler)());

// The top-level handler of a systems-level throw that nobody caught: quit exits 0,
// anything else is runtime error 95.
[[noreturn]] void on_uncaught_throw(u32 code);

// Impossible values reaching a multi-way branch.
[[noreturn]] void fatal_no_case();    // 100 "no value matched in CASE"
[[noreturn]] void fatal_no_switch();  // 101 "no value matched in SWITCH"

inline i32 round_up_to(i32 a, i32 b) { return (a + b - 1) & -b; }

// The build stamp: "10-Dec-2026/13:51:50".
const char* build_date();

}  // namespace kel::rt
