// Runtime boot, in the order that lets each step find what it needs already made.
#include "console/boot.h"

#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/registry.h"
#include "evaluator/interpreter.h"
#include "evaluator/random.h"
#include "runtime/console_out.h"
#include "runtime/externals.h"
#include "runtime/gc.h"
#include "runtime/ownership.h"
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
    ev::random_init();
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
    rt::stack_init();
    // The error catalog (system/catalog/errors once the system object exists): from here on
    // raise_error builds full error! values.
    dt::error_catalog_init();
    rt::ownership_init();
    rt::slot_table_init();
    rt::gc_init();
    // The interpreter's hooks, the datatype words and the preset `make` the library needs.
    ev::evaluator_init();
}

}  // namespace kel::console
