// Runtime boot, in the order that lets each step find what it needs already made.
#include "console/boot.h"

#include <cstring>

#include "codec/kelbin.h"
#include "console/boot_payload.h"
#include "console/boot_sources.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype_init.h"
#include "datatypes/error.h"
#include "datatypes/object.h"
#include "datatypes/ownership.h"
#include "datatypes/random.h"
#include "datatypes/registry.h"
#include "evaluator/actions.h"
#include "evaluator/eval_hooks.h"
#include "evaluator/interpreter.h"
#include "lexer/load.h"
#include "library/routines.h"
#include "runtime/console_out.h"
#include "runtime/externals.h"
#include "runtime/fatal.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/platform.h"
#include "runtime/stack.h"
#include "runtime/symbols.h"

namespace kel::console {

void runtime_init() {
    static bool done = false;
    if (done) return;
    done = true;
    rt::print_hooks_init();
    rt::platform_init();
    dt::random_init();
    rt::memory_settings_init();
    rt::externals_init();
    dt::register_all_datatypes();
    // The symbol table, then the names the runtime recognises by id.
    rt::symbols_init();
    // The global context and the word loader; then the type names get their words.
    dt::context_init();
    dt::bind_name_table();
    rt::init_runtime_words();
    rt::init_refinement_words();
    rt::init_ooo_word();
    ev::natives_init();
    rt::stack_init();
    // The error catalog (system/catalog/errors once the system object exists): from here on
    // raise_error builds full error! values.
    dt::error_catalog_init();
    dt::ownership_init();
    rt::slot_table_init();
    rt::gc_init();
    // event! comes last: its type, flag and field names are words.
    dt::register_event_datatype();
    // The interpreter's hooks, the datatype words and the preset `make` the library needs.
    ev::evaluator_init();
}

namespace {

// Skips a source's header: the word Kel followed by a block.
void skip_header(Cell* code) {
    if (dt::ks_length_q(code) < 2) return;
    Cell* first = dt::ks_head(code);
    if (type_of(first) != T_WORD || type_of(first + 1) != T_BLOCK) return;
    static const Cell kel_word = dt::load_word("Kel");  // this exact spelling: its own symbol
    if (first->data2 != kel_word.data2) return;
    code->data1 += 2;
}

// Evaluates `code` at the top level. Errors nobody catches end the process (exit code -2)
// on their own; an exit status has no target at this level.
void eval_top_level(const Cell* code) {
    rt::Status s = ev::g_eval_block(code);
    rt::stack_reset();
    if (s) rt::on_uncaught_throw(s);
}

// The system object shares the runtime's error catalog and error prototype. (Errors do not
// read system/state/stack-trace yet: the library's functions are interpreted, so they would
// stand in the stack of every error the console reports.)
void link_system_object() {
    *lib::member_slot("system/catalog/errors") = *dt::error_catalog();
    *lib::member_slot("system/standard/error") = *dt::standard_error();
    // system/words: an object over the global context itself.
    Cell words;
    set_cell(&words, T_OBJECT, dt::g_global_context, u32(-1), 0);
    *dt::context_owner(dt::g_global_context) = words;
    *lib::member_slot("system/words") = words;
}

}  // namespace

namespace {

// Runs one source's loaded values (its header skipped), with its routines bound around it.
void run_boot_code(const char* name, Cell* code) {
    lib::install_routines(name, true);
    skip_header(code);
    eval_top_level(code);
    lib::install_routines(name, false);
    if (std::strcmp(name, "library/system.kel") == 0) link_system_object();
}

[[noreturn]] void bad_payload(const char* message) {
    rt::print_c_line(message);
    rt::process_exit(1);
}

// The payload's blocks (one per source) into `out`; false when there is no payload. A
// payload that does not hold what the sources are ends the process: it is corrupt.
bool decode_boot_payload(Cell* out) {
    if (!g_boot_payload.data) return false;
    static const u8 magic[6] = {'K', 'E', 'L', 'B', 'I', 'N'};
    if (g_boot_payload.size < 8 || std::memcmp(g_boot_payload.data, magic, 6) != 0)
        bad_payload("Error: Not a Kelbin file!");
    if (g_boot_payload.data[7] & codec::KB_CRUSHED) bad_payload("Error: Kelbin compressed data corrupted!");
    dt::make_block_at(out, 1);
    codec::kelbin_decode(g_boot_payload.data, g_boot_payload.size, out, &dt::g_none_cell);
    Cell* all = dt::ks_length_q(out) == 1 ? dt::ks_head(out) : nullptr;
    if (!all || type_of(all) != T_BLOCK || u32(dt::ks_length_q(all)) != g_boot_source_count)
        bad_payload("Error: Not a Kelbin file!");
    *out = *all;
    return true;
}

}  // namespace

BootPayload g_boot_payload{nullptr, 0};

void run_boot_source(const char* name, const char* text, unsigned long length) {
    rt::RootGuard code;
    lex::load_utf8(text, length, &code.cell);
    run_boot_code(name, &code.cell);
}

void boot_library() {
    static bool done = false;
    if (done) return;
    done = true;
    runtime_init();
    // The library's values, decoded while the collector is still off.
    rt::RootGuard payload;
    bool decoded = decode_boot_payload(&payload.cell);
    rt::g_gc_enabled = true;
    for (size_t i = 0; i < g_boot_source_count; ++i) {
        const BootSource& source = g_boot_sources[i];
        if (!decoded) {
            run_boot_source(source.name, source.text, source.length);
            continue;
        }
        rt::RootGuard code(*dt::ks_abs_at(&payload.cell, i32(i)));
        run_boot_code(source.name, &code.cell);
    }
}

void launch_console() {
    static const char launch[] = "cli-console-ctx/launch";
    rt::RootGuard code;
    lex::load_utf8(launch, std::strlen(launch), &code.cell);
    eval_top_level(&code.cell);
}

}  // namespace kel::console
