// Control natives: conditionals, function makers, switch, case and do.
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "evaluator/natives_control.h"
#include "lexer/lexer.h"
#include "runtime/symbols.h"

namespace kel::ev {

using namespace rt;
using namespace dt;

namespace {

void set_result_none() { set_cell(stack_result(), T_NONE); }

// The head of a block pulled back to its tail when it lies beyond it.
void clamp_to_tail(Cell* block) {
    i32 len = ks_buffer_length(block);
    if (series_head(block) > len) block->data1 = u32(len);
}

// Evaluates the block into the native's result slot. The block is copied above the
// arguments first, so that the result can take slot 0 whatever the block's slot was.
Status eval_into_result(const Cell* block) {
    Cell* code = stack_push(block);
    return eval_block(code, true);
}

// ---- conditionals ---------------------------------------------------------------------------

Status if_native(bool, const i32*) {
    if (!value_true(stack_arg(0))) {
        set_result_none();
        return 0;
    }
    return eval_block(stack_arg(1), true);
}

Status unless_native(bool, const i32*) {
    if (value_true(stack_arg(0))) {
        set_result_none();
        return 0;
    }
    return eval_block(stack_arg(1), true);
}

Status either_native(bool, const i32*) {
    return eval_block(stack_arg(checked_true(stack_arg(0)) ? 1 : 2), true);
}

// any and all evaluate one expression at a time in push mode, so that the block in slot 0
// stays where it is until the answer is known.
Status any_native(bool, const i32*) {
    Cell* conds = stack_arg(0);
    i32 index = series_head(conds);
    Cell* mark = g_args.top;
    while (index < ks_buffer_length(conds)) {
        if (Status s = eval_next(conds, &index, true)) return s;
        Cell* v = stack_top();
        if (value_true(v)) {
            *stack_result() = *v;
            g_args.top = mark;
            return 0;
        }
        g_args.top = mark;
    }
    set_result_none();
    return 0;
}

Status all_native(bool, const i32*) {
    Cell* conds = stack_arg(0);
    i32 index = series_head(conds);
    if (index >= ks_buffer_length(conds)) {
        set_result_none();
        return 0;
    }
    Cell* last = stack_push(&g_none_cell);
    Cell* mark = g_args.top;
    while (index < ks_buffer_length(conds)) {
        if (Status s = eval_next(conds, &index, true)) return s;
        Cell* v = stack_top();
        if (!value_true(v)) {
            set_result_none();
            return 0;
        }
        *last = *v;
        g_args.top = mark;
    }
    *stack_result() = *last;
    return 0;
}

// ---- function makers ------------------------------------------------------------------------

// func: the function! made from the spec and a bound deep copy of the body.
void make_function(Cell* spec, Cell* body) {
    clamp_to_tail(spec);
    clamp_to_tail(body);
    u32 flags = check_function_spec(spec);
    make_function_cell(spec, body, 0, 0, 0, flags);
    *stack_result() = *stack_top();
}

Status func_native(bool, const i32*) {
    make_function(stack_arg(0), stack_arg(1));
    return 0;
}

// function: the body's set-words and loop words that the spec lacks become locals of a copy
// of the spec (words listed after /extern in the spec stay global).
Status function_native(bool, const i32*) {
    Cell* spec = stack_arg(0);
    clamp_to_tail(spec);
    Cell* copy = clone_block(spec, false, false);
    collect_function_locals(copy, stack_arg(1));
    make_function(copy, stack_arg(1));
    return 0;
}

Status does_native(bool, const i32*) {
    Cell* spec = push_new_block(1);
    make_function(spec, stack_arg(0));
    return 0;
}

Status has_native(bool, const i32*) {
    Cell* vars = stack_arg(0);
    clamp_to_tail(vars);
    Cell* spec = clone_block(vars, false, false);
    ks_insert_value(spec, &g_refinement_words[REF_LOCAL], false, false);
    make_function(spec, stack_arg(1));
    return 0;
}

// ---- switch and case ------------------------------------------------------------------------

// switch: only cases of the value's own datatype are compared; the first block after the
// matching case is evaluated. A block value never matches.
Status switch_native(bool, const i32* refs) {
    Cell* value = stack_arg(0);
    Cell* cases = stack_arg(1);
    Cell* fallback = refinement_arg(refs, 0);
    if (type_of(value) != T_BLOCK) {
        u32 t = type_of(value);
        Cell* mark = g_args.top;
        for (i32 i = series_head(cases); i < ks_buffer_length(cases); ++i) {
            Cell* candidate = stack_push(cells_of(series_buffer(cases)) + i);
            if (type_of(candidate) != t || !compare(value, candidate, OP_EQUAL)) {
                g_args.top = mark;
                continue;
            }
            g_args.top = mark;
            for (++i; i < ks_buffer_length(cases); ++i) {
                Cell* c = cells_of(series_buffer(cases)) + i;
                if (type_of(c) == T_BLOCK) return eval_into_result(c);
            }
            set_result_none();
            return 0;
        }
    }
    if (fallback) return eval_into_result(fallback);
    set_result_none();
    return 0;
}

// case: a false condition skips exactly one cell, whatever expression follows it.
Status case_native(bool, const i32* refs) {
    Cell* cases = stack_arg(0);
    bool all = refinement_arg(refs, 0) != nullptr;
    i32 index = series_head(cases);
    Cell* last = stack_push(&g_none_cell);
    Cell* mark = g_args.top;
    bool last_true = false;
    while (index < ks_buffer_length(cases)) {
        if (Status s = eval_next(cases, &index, true)) return s;
        Cell cond = *stack_top();
        g_args.top = mark;
        if (index >= ks_buffer_length(cases)) {
            Cell word = load_word("case");
            raise_error(Err::script_need_value, &word);
        }
        last_true = checked_true(&cond);
        if (!last_true) {
            ++index;
            continue;
        }
        Cell* body = cells_of(series_buffer(cases)) + index;
        Status s;
        if (type_of(body) == T_BLOCK) {
            ++index;
            s = eval_block(stack_push(body), false);
        } else {
            s = eval_next(cases, &index, true);
        }
        if (s) return s;
        *last = *stack_top();
        g_args.top = mark;
        if (!all) break;
    }
    if (last_true) *stack_result() = *last;
    else set_result_none();
    return 0;
}

// ---- do -------------------------------------------------------------------------------------

// A global word's value, or null when it has none.
const Cell* global_value(const char* name) {
    Cell w = load_word(name);
    return word_value_or_null(&w);
}

// Calls a language-level function of the library by its global word; script/no-value when
// the library does not define it.
Status call_library(const char* name, const Cell* fn, const Cell* args, u32 count) {
    if (!fn || !is_any_function_type(type_of(fn))) {
        Cell w = load_word(name);
        raise_error(Err::script_no_value, &w);
    }
    Cell f = *fn;
    return call_value(&f, args, count);
}

// preprocessor/expand on the block, changed in place (job none, /clean off).
Status expand_block(const Cell* block) {
    const Cell* pre = global_value("preprocessor");
    const Cell* expand = nullptr;
    if (pre && type_of(pre) == T_OBJECT) {
        Node ctx = object_context(pre);
        Cell w = load_word("expand");
        i32 i = find_word_in_context(ctx, word_symbol(&w), true);
        if (i >= 0) expand = context_values(ctx) + i;
    }
    Cell* args = stack_push(block);
    set_cell(stack_push_slot(), T_NONE);
    Status s = call_library("preprocessor", expand, args, 2);
    g_args.top = args;
    return s;
}

// do-inner: a block from its (clamped) index; with /next only its next expression, the
// position word then set to the block after it.
Status do_block(Cell* block, bool expand, const Cell* position) {
    clamp_to_tail(block);
    if (expand)
        if (Status s = expand_block(block)) return s;
    if (!position) return eval_block(block, true);
    i32 index = series_head(block);
    Cell* mark = g_args.top;
    if (Status s = eval_next(block, &index, true)) return s;
    Cell* after = stack_push(block);
    after->data1 = u32(index);
    Cell w = *position;
    set_word_value(&w, after);
    *stack_result() = *mark;
    return 0;
}

// A string is loaded as source text from its index, then evaluated as a block.
Status do_string(const Cell* str, bool expand, const Cell* position) {
    Cell* code = stack_push_slot();
    set_cell(code, T_NONE);
    lex::transcode_series(code, str, -1, lex::RunOptions{}, nullptr);
    return do_block(code, expand, position);
}

// Any other value is evaluated as an expression of its own (a function value is answered
// unchanged; a word's function is called with no code left for its arguments).
Status do_single(const Cell* value) {
    Cell* code = push_new_block(1);
    ks_append(code, value);
    i32 index = 0;
    return eval_expression(code, &index, false, false, true);
}

// The evaluation of `do` by the value's type.
Status do_value(const i32* refs) {
    Cell* value = stack_arg(0);
    bool expand = refinement_arg(refs, 0) != nullptr;
    Cell* arg = refinement_arg(refs, 1);
    Cell* position = refinement_arg(refs, 2);
    switch (type_of(value)) {
        case T_BLOCK: case T_PAREN: case T_HASH:
            return do_block(stack_push(value), expand, position);
        case T_STRING:
            return do_string(value, expand, position);
        case T_FILE: case T_URL: {
            Cell* args = stack_push(value);
            set_cell(stack_push_slot(), T_NONE);
            if (arg) stack_push(arg);
            else set_cell(stack_push_slot(), T_NONE);
            const Cell* fn = global_value("do-file");
            if (Status s = call_library("do-file", fn, args, 3)) return s;
            *stack_result() = *stack_top();
            return 0;
        }
        case T_ERROR:
            throw_error_value(value);
        default:
            return do_single(value);
    }
}

// do/trace: the tracer sees the whole evaluation. The frame below is made a return target
// so that a return inside the traced code ends here first: the tracer's `end` event fires
// before the return goes on to its own target.
Status do_traced(const i32* refs, const Cell* tracer) {
    CallFrame* marked = stack_set_return_target_below();
    // A nested do/trace keeps the tracer it finds. `init` runs inside the try below: an exit
    // or error of the tracer there ends this call like one raised later, tracer removed.
    bool installed = !trace_installed();
    auto finish = [&] {
        if (marked && marked < g_calls.top) stack_clear_return_target(marked);
        if (installed) trace_end();
    };
    Status s;
    try {
        if (installed) trace_begin(tracer);
        s = do_value(refs);
    } catch (...) {
        // What is on its way out has already unrolled the stacks past this call. `end` runs
        // inside a try/all of its own, so that an error or exit of the tracer stops there
        // instead of unrolling frames a second time; the one in flight then goes on.
        if (marked && marked < g_calls.top) stack_clear_return_target(marked);
        if (installed) {
            Cell* base = g_args.base;
            Cell* top = g_args.top;
            CallFrame* calls = g_calls.top;
            u32 thrown = g_system.thrown;
            stack_open_try_all(nullptr);
            try {
                trace_end();
            } catch (SystemThrow&) {
            }
            g_args.base = base;
            g_args.top = top;
            g_calls.top = calls;
            g_system.thrown = thrown;
        }
        throw;
    }
    // An exit leaves its value in the result slot of its target with nothing above it: keep
    // that slot out of reach of the tracer's own call.
    Cell* top = g_args.top;
    if (s && g_args.top <= g_args.base) g_args.top = g_args.base + 1;
    finish();
    g_args.top = top;
    if (marked && (s == CODE_RETURN || s == CODE_EXIT)) {
        g_system.thrown = 0;
        return throw_return(s == CODE_RETURN, true);
    }
    return s;
}

Status do_native(bool, const i32* refs) {
    if (Cell* tracer = refinement_arg(refs, 3)) return do_traced(refs, tracer);
    return do_value(refs);
}

}  // namespace

KEL_NATIVE(1, if_native);
KEL_NATIVE(2, unless_native);
KEL_NATIVE(3, either_native);
KEL_NATIVE(4, any_native);
KEL_NATIVE(5, all_native);
KEL_NATIVE(14, func_native);
KEL_NATIVE(15, function_native);
KEL_NATIVE(16, does_native);
KEL_NATIVE(17, has_native);
KEL_NATIVE(18, switch_native);
KEL_NATIVE(19, case_native);
KEL_NATIVE(20, do_native);

}  // namespace kel::ev
