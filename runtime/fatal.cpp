// Fatal runtime errors, process exit and the systems heap.
#include "runtime/fatal.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "runtime/console_out.h"
#include "runtime/exits.h"
#include "runtime/platform.h"
#include "runtime/system_record.h"

namespace kel::rt {

RuntimeSystemRecord g_system;

// ---- heap blocks ----------------------------------------------------------------------

namespace {

constexpr size_t HEADER = HEAP_HEADER_SIZE;
static_assert(sizeof(HeapBlockHeader) <= HEADER);

HeapBlockHeader* header_of(void* block) { return reinterpret_cast<HeapBlockHeader*>(static_cast<u8*>(block) - HEADER); }
void* user_of(HeapBlockHeader* h) { return reinterpret_cast<u8*>(h) + HEADER; }

}  // namespace

void* heap_allocate(i32 size) {
    auto* h = static_cast<HeapBlockHeader*>(std::malloc(size_t(size < 0 ? 0 : size) + HEADER));
    if (!h) runtime_quit(94, reinterpret_cast<u64>(__builtin_return_address(0)));
    h->prev = h->next = nullptr;
    h->size = size;
    HeapBlockList& list = g_system.heap;
    if (list.last) {
        list.last->next = h;
        h->prev = list.last;
        list.last = h;
    } else {
        list.first = list.last = h;
    }
    return user_of(h);
}

void* heap_allocate_zeroed(i32 size) {
    void* p = heap_allocate(size);
    std::memset(p, 0, size_t(size < 0 ? 0 : size));
    return p;
}

void* heap_resize(void* block, i32 size) {
    if (!block) return heap_allocate(size);
    if (size == 0) {
        heap_free(block);
        return nullptr;
    }
    HeapBlockHeader* h = header_of(block);
    HeapBlockHeader* prev = h->prev;
    HeapBlockHeader* next = h->next;
    auto* n = static_cast<HeapBlockHeader*>(std::realloc(h, size_t(size) + HEADER));
    if (!n) runtime_quit(94, reinterpret_cast<u64>(__builtin_return_address(0)));
    n->size = size;
    HeapBlockList& list = g_system.heap;
    if (next) next->prev = n;
    else list.last = n;
    if (prev) prev->next = n;
    else list.first = n;
    return user_of(n);
}

void heap_free(void* block) {
    if (!block) return;
    HeapBlockHeader* target = header_of(block);
    HeapBlockList& list = g_system.heap;
    for (HeapBlockHeader* h = list.first; h; h = h->next) {
        if (h != target) continue;
        if (h->prev) h->prev->next = h->next;
        else list.first = h->next;
        if (h->next) h->next->prev = h->prev;
        else list.last = h->prev;
        std::free(h);
        return;
    }
}

void heap_free_all() {
    HeapBlockList& list = g_system.heap;
    HeapBlockHeader* h = list.first;
    while (h) {
        HeapBlockHeader* next = h->next;
        std::free(h);
        h = next;
    }
    list.first = list.last = nullptr;
}

void heap_dump_stats() {
    print_values_line({"-- Heap-allocations --"});
    print_values_line({"Asked   Real"});
    i32 sum = 0;
    for (HeapBlockHeader* h = g_system.heap.first; h; h = h->next) {
        i32 real = h->size + i32(HEADER);
        print_values_line({h->size, '\t', real});
        sum += real;
    }
    print_values_line({"-- Sum: ", sum, " --"});
}

// ---- fatal errors ---------------------------------------------------------------------

const char* runtime_error_message(i32 n) {
    static const char* const low[] = {
        nullptr,
        "access violation",
        "invalid alignment",
        "breakpoint",
        "single step",
        "bounds exceeded",
        "float denormal operan",
        "float divide by zero",
        "float inexact result",
        "float invalid operation",
        "float overflow",
        "float stack check",
        "float underflow",
        "integer divide by zero",
        "integer overflow",
        "privileged instruction",
        "invalid virtual address",
        "illegal instruction",
        "non-continuable exception",
        "stack error or overflow",
        "invalid disposition",
        "guard page",
        "invalid handle",
        "illegal operand",
        "illegal addressing mode",
        "illegal trap",
        "coprocessor error",
        "non-existent physical address",
        "object specific hardware error",
        "hardware memory error consumed AR",
        "hardware memory error consumed AO",
        "privileged register",
        "segmentation fault",
        "FPU error",
        "Bus error",
    };
    if (n >= 1 && n <= 34) return low[n];
    switch (n) {
        case 94: return "out of memory";
        case 95: return "no CATCH for THROW";
        case 98: return "assertion failed";
        case 99: return "unknown error";
        case 100: return "no value matched in CASE";
        case 101: return "no value matched in SWITCH";
        default: return "unknown error code!";
    }
}

namespace {
constexpr int MAX_EXIT_HANDLERS = 8;
void (*g_exit_handlers[MAX_EXIT_HANDLERS])();
int g_exit_handler_count = 0;

void run_exit_handlers() {
    while (g_exit_handler_count > 0) g_exit_handlers[--g_exit_handler_count]();
}
}  // namespace

void on_process_exit(void (*handler)()) {
    if (g_exit_handler_count < MAX_EXIT_HANDLERS) g_exit_handlers[g_exit_handler_count++] = handler;
}

void quit_cleanup() { heap_free_all(); }

void process_exit(int code) {
    restore_terminal_modes();
    run_exit_handlers();
    console_flush();
    std::fflush(nullptr);
    quit_cleanup();
    std::_Exit(code);
}

void runtime_quit(i32 number, u64 address) {
    // A fault inside the report itself must not loop back here.
    static bool quitting = false;
    if (quitting) std::_Exit(number);
    quitting = true;
    if (number != 0) {
        g_system.error_address = address;
        print_values({"\n*** Runtime Error ", number, ": ", runtime_error_message(number), "\n*** at: ",
                      PrintItem::hex(u32(address)), "h\n"});
    }
    process_exit(number);
}

void on_uncaught_throw(u32 code) {
    if (code == CODE_QUIT) runtime_quit(0, 0);
    runtime_quit(95, reinterpret_cast<u64>(__builtin_return_address(0)));
}

void fatal_no_case() { runtime_quit(100, reinterpret_cast<u64>(__builtin_return_address(0))); }
void fatal_no_switch() { runtime_quit(101, reinterpret_cast<u64>(__builtin_return_address(0))); }

const char* build_date() {
    // __DATE__ is "Mmm dd yyyy", __TIME__ "hh:mm:ss".
    static char text[24];
    if (!text[0]) {
        const char* d = __DATE__;
        int day = std::atoi(d + 4);
        std::snprintf(text, sizeof text, "%d-%.3s-%.4s/%s", day, d, d + 7, __TIME__);
    }
    return text;
}

}  // namespace kel::rt
