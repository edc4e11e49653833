// Value natives: get, set, print, prin, not and type?.
#include <climits>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "evaluator/actions.h"
#include "evaluator/loop_helpers.h"
#include "evaluator/natives_control.h"
#include "evaluator/natives_reduce.h"
#include "evaluator/natives_value.h"
#include "runtime/console_out.h"
#include "runtime/gc.h"
#include "runtime/symbols.h"

namespace kel::ev {

using namespace rt;
using namespace dt;

u32 g_print_last_lf = 0;

namespace {

// ---- get and set ----------------------------------------------------------------------------

Status get_native(bool, const i32* refs) {
    Cell* target = stack_arg(0);
    bool any = refinement_arg(refs, 0) != nullptr;
    bool case_ = refinement_arg(refs, 1) != nullptr;
    u32 t = type_of(target);
    if (is_path_type(t)) {
        if (Status s = eval_path_value(target, nullptr, true, case_)) return s;
        *stack_result() = *stack_top();
        return 0;
    }
    if (t == T_OBJECT) {
        Cell* values = dispatch<A_REFLECT>(target, runtime_symbol(SYM_VALUES));
        *stack_result() = *values;
        return 0;
    }
    Cell value = *get_word_value_ptr(target);
    if (!any && type_of(&value) == T_UNSET) raise_error(Err::script_no_value, target);
    *stack_result() = value;
    return 0;
}

Status set_native(bool, const i32* refs) {
    Cell* target = stack_arg(0);
    Cell* value = stack_arg(1);
    bool any = refinement_arg(refs, 0) != nullptr;
    bool case_ = refinement_arg(refs, 1) != nullptr;
    bool only = refinement_arg(refs, 2) != nullptr;
    bool some = refinement_arg(refs, 3) != nullptr;
    if (!any && type_of(value) == T_UNSET) raise_error(Err::script_need_value, target);
    u32 t = type_of(target);
    if (t == T_BLOCK) {
        assign_words(target, value, ks_length_q(target), any, only, some);
    } else if (is_path_type(t)) {
        // The path's own answer is the result (the datatype's path action decides it).
        if (Status s = eval_path_value(target, value, any, case_)) return s;
        *stack_result() = *stack_top();
        return 0;
    } else if (t == T_OBJECT) {
        set_many(target, value, any, only, some);
    } else {
        set_word_value(target, value);
    }
    *stack_result() = *value;
    return 0;
}

// ---- print and prin -------------------------------------------------------------------------

// The scratch block that holds the reduced values of printed blocks. Each print appends at
// its tail and cuts it back to where it found it, so a print nested inside another print's
// block neither shows nor erases the outer print's values.
Cell g_print_scratch;

Cell* print_scratch() {
    if (type_of(&g_print_scratch) != T_BLOCK) print_scratch_init();
    return &g_print_scratch;
}

// The text to print: a string as it is, any other value formed.
Cell* print_text_of(Cell* value) {
    if (type_of(value) == T_STRING) {
        Cell* str = stack_push(value);
        i32 len = ks_buffer_length(str);
        if (series_head(str) > len) str->data1 = u32(len);
        return str;
    }
    Cell* out = push_string(16);
    form_dispatch(value, out, nullptr, INT_MAX);
    return out;
}

Status print_value(bool newline) {
    Cell* value = stack_arg(0);
    if (type_of(value) == T_BLOCK) {
        i32 mark = ks_buffer_length(print_scratch());
        Status s;
        try {
            s = reduce_values(value, print_scratch(), false);
        } catch (...) {
            ks_set_tail(print_scratch(), mark);
            throw;
        }
        if (s) {
            ks_set_tail(print_scratch(), mark);
            return s;
        }
        Cell* reduced = stack_push(print_scratch());
        reduced->data1 = u32(mark);
        value = reduced;
        try {
            print_hooks_call(print_text_of(value), newline);
        } catch (...) {
            ks_set_tail(print_scratch(), mark);
            throw;
        }
        ks_set_tail(print_scratch(), mark);
    } else {
        print_hooks_call(print_text_of(value), newline);
    }
    g_print_last_lf = newline ? 1 : 0;
    set_cell(stack_result(), T_UNSET);
    return 0;
}

Status print_native(bool, const i32*) { return print_value(true); }
Status prin_native(bool, const i32*) { return print_value(false); }

// ---- not and type? --------------------------------------------------------------------------

Status not_native(bool, const i32*) {
    bool truth = !value_true(stack_arg(0));
    set_cell(stack_result(), T_LOGIC, truth ? 1 : 0);
    return 0;
}

Status type_q_native(bool, const i32* refs) {
    u32 t = type_of(stack_arg(0));
    if (refinement_arg(refs, 0)) *stack_result() = load_word(g_type_names[t].name);
    else set_cell(stack_result(), T_DATATYPE, t);
    return 0;
}

}  // namespace

void print_scratch_init() {
    if (type_of(&g_print_scratch) == T_BLOCK) return;
    gc_register_cell_root(&g_print_scratch);
    make_block_at(&g_print_scratch, 32);
}

KEL_NATIVE(21, get_native);
KEL_NATIVE(22, set_native);
KEL_NATIVE(23, print_native);
KEL_NATIVE(24, prin_native);
KEL_NATIVE(33, not_native);
KEL_NATIVE(34, type_q_native);

}  // namespace kel::ev
