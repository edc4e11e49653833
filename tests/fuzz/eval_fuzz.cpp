// libFuzzer target for the evaluator: each input is loaded as Kel source and evaluated as the
// console evaluates a line, with every language error and stray exit caught and dropped and
// the stacks put back between inputs. See README.md in this folder for building and running.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "console/boot.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/trace.h"
#include "lexer/load.h"
#include "runtime/console_out.h"
#include "runtime/cycles.h"
#include "runtime/errors.h"
#include "runtime/exits.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/stack.h"
#include "runtime/system_record.h"

namespace {

using namespace kel;
using namespace kel::rt;

// Thrown in place of ending the process (quit, end of input): it unwinds to the harness,
// which then resets the stacks as after an error.
struct ProcessExitRequested {};

// ---- bounding each input --------------------------------------------------------------

// Checks (blocks and calls started) and wall time each input may use. Once either is spent,
// every later check raises again, so a `try` inside a loop cannot swallow the stop.
constexpr uint64_t kStepBudget = 100000;
constexpr auto kTimeBudget = std::chrono::milliseconds(300);

// Memory an input may take on top of what was in use when it started: a block that doubles
// itself at every step would otherwise reach the sanitizer's memory limit before the step
// budget.
constexpr uint64_t kMemoryBudget = uint64_t(64) << 20;

uint64_t g_steps = 0;
uint64_t g_memory_at_start = 0;
std::chrono::steady_clock::time_point g_deadline;

void watch_step() {
    ++g_steps;
    bool spent = g_steps > kStepBudget || g_memory.total_os_bytes > g_memory_at_start + kMemoryBudget;
    // Often enough for steps that each collect (recycle deep in a recursion).
    if (!spent && (g_steps & 15) == 0) spent = std::chrono::steady_clock::now() > g_deadline;
    if (!spent) return;
    g_steps = kStepBudget + 1;
    static const Cell what = dt::load_word("fuzz-budget");
    raise_error(Err::internal_limit_hit, &what);
}

// ---- the global context, put back after every input -----------------------------------

// A copy of the global words' values right after boot (a collector root), so that an input
// that redefines `if` or `append` does not change what the next inputs mean.
RootGuard* g_boot_values = nullptr;

Node global_values_node() { return dt::context_cell(dt::g_global_context)->data2; }

void save_boot_values() {
    g_boot_values = new RootGuard();
    i32 count = i32(series_length(global_values_node()));
    dt::make_block_at(&g_boot_values->cell, count);
    for (i32 i = 0; i < count; ++i) {
        Cell value = cells_of(buffer_of(global_values_node()))[i];
        dt::ks_append(&g_boot_values->cell, &value);
    }
}

void restore_boot_values() {
    Node values = global_values_node();
    i32 saved = dt::ks_length_q(&g_boot_values->cell);
    i32 count = i32(series_length(values));
    Cell* to = cells_of(buffer_of(values));
    const Cell* from = dt::ks_head(&g_boot_values->cell);
    for (i32 i = 0; i < count; ++i) {
        if (i < saved) to[i] = from[i];
        else set_cell(&to[i], T_UNSET);
    }
}

// ---- one input ---------------------------------------------------------------------------

void boot() {
    console::runtime_init();
    gc_attach_current_thread();
    g_gc_enabled = true;
    g_args.base = g_args.top = g_args.bottom;
    g_calls.top = g_calls.bottom;
    console::boot_library();
    // print and probe would flood the fuzzer's log.
    int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null_fd >= 0) set_console_output_fd(null_fd);
    save_boot_values();
    ev::set_step_watch(watch_step);
}

// The console prints every error it catches, outside any try: forming the report must not
// fail, whatever the error's fields hold.
void report_error(Cell err) {
    g_system.thrown = 0;
    Cell* saved_top = g_args.top;
    stack_open_try(nullptr);
    try {
        dt::push_error_report(stack_push(&err));
    } catch (SystemThrow&) {
        __builtin_trap();
    }
    g_args.top = saved_top;
}

void evaluate(const uint8_t* data, size_t size) {
    Cell* base = g_args.base;
    Cell* top = g_args.top;
    CallFrame* calls = g_calls.top;
    g_steps = 0;
    g_memory_at_start = g_memory.total_os_bytes;
    g_deadline = std::chrono::steady_clock::now() + kTimeBudget;
    stack_open_try(nullptr);
    try {
        Cell* code = stack_push_slot();
        set_cell(code, T_NONE);
        lex::load_utf8(reinterpret_cast<const char*>(data), size, code);
        Cell block = *code;
        // The result slot of the evaluation is the loaded block's own slot.
        g_args.base = code;
        Status s = ev::eval_block(&block, true);
        (void)s;
    } catch (SystemThrow& t) {
        // An error, or an exit that found no target on its way out.
        if (t.code == CODE_ERROR) report_error(*stack_top());
    } catch (ProcessExitRequested&) {
    }
    g_system.thrown = 0;
    g_args.base = base;
    g_args.top = top;
    g_calls.top = calls;
    cycles_reset();
    restore_boot_values();
}

}  // namespace

// The services that would leave the process or wait on the host are replaced at link time
// (-Wl,--wrap, see CMakeLists.txt): a quit unwinds back here, input is at its end at once,
// and the current directory stays where the fuzzer's corpus paths expect it.
extern "C" {
[[noreturn]] void __wrap__ZN3kel2rt12process_exitEi(int) { throw ProcessExitRequested{}; }
bool __wrap__ZN3kel7console18terminal_read_lineEPNS_4CellEPKS1_b(Cell*, const Cell*, bool) { return false; }
bool __wrap__ZN3kel2rt18set_current_dir_osERKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE(
    const std::string&) {
    return false;
}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool booted = (boot(), true);
    (void)booted;
    evaluate(data, size);
    return 0;
}
