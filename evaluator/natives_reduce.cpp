// reduce and compose.
#include "evaluator/natives_reduce.h"

#include <vector>

#include "datatypes/block.h"
#include "datatypes/function.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "evaluator/actions.h"
#include "evaluator/interpreter.h"
#include "runtime/cycles.h"
#include "runtime/errors.h"
#include "runtime/stack.h"

namespace kel::ev {

using namespace rt;
using namespace dt;

Status reduce_values(const Cell* block, Cell* target, bool insert) {
    i32 index = series_head(block);
    Cell* mark = g_args.top;
    while (index < ks_buffer_length(block)) {
        if (Status s = eval_next(block, &index, true)) return s;
        Cell* v = stack_top();
        clear_cell_flag(v);
        if (insert) dispatch<A_INSERT>(target, v, -1, true, 1, false);
        else ks_append(target, v);
        g_args.top = mark;
    }
    return 0;
}

namespace {

// The copy of `out` that /into fills: from its position (clamped to its tail); `*at_tail`
// tells whether values are appended there.
Cell* into_target(const Cell* out, bool* at_tail) {
    Cell* work = stack_push(out);
    i32 len = ks_buffer_length(work);
    if (series_head(work) > len) work->data1 = u32(len);
    *at_tail = series_head(work) >= len;
    return work;
}

// The block to walk while filling `out`: a copy when /into names the block itself, whose
// growth the walk would otherwise meet again at every step, never reaching its tail.
const Cell* walk_source(const Cell* value, const Cell* out) {
    if (series_node(value) != series_node(out)) return value;
    return clone_block(value, false, false);
}

// A single value, evaluated as an expression of its own (a word gives its value).
Status eval_single(const Cell* value) {
    Cell* code = push_new_block(1);
    ks_append(code, value);
    i32 index = 0;
    return eval_expression(code, &index, false, true, false);
}

Status reduce_native(bool, const i32* refs) {
    Cell* value = stack_arg(0);
    Cell* out = refinement_arg(refs, 0);
    u32 t = type_of(value);
    if (is_any_function_type(t)) return 0;  // the function itself, already in the result slot
    Cell* answer;
    if (t == T_BLOCK) {
        if (out) {
            bool at_tail;
            const Cell* source = walk_source(value, out);
            Cell* work = into_target(out, &at_tail);
            if (Status s = reduce_values(source, work, true)) return s;
            answer = at_tail ? out : work;
        } else {
            answer = push_new_block(ks_length_q(value));
            if (Status s = reduce_values(value, answer, false)) return s;
        }
    } else {
        if (Status s = eval_single(value)) return s;
        answer = stack_top();
        if (out) {
            Cell* v = stack_push(answer);
            bool at_tail;
            Cell* work = into_target(out, &at_tail);
            dispatch<A_INSERT>(work, v, -1, true, 1, false);
            answer = at_tail ? out : work;
        }
    }
    *stack_result() = *answer;
    return 0;
}

// compose walks a block; under /deep it also walks the blocks inside, each into a new block.
struct Composer {
    bool deep;
    bool only;
    // The blocks being walked, outermost first (cells on the argument stack, which the
    // collector keeps current), so that a block that contains itself is refused.
    std::vector<const Cell*> chain;

    // Adds one value, or the values of a block when `splice`.
    static void add(Cell* target, bool insert, Cell* value, bool splice) {
        if (insert) dispatch<A_INSERT>(target, value, -1, !splice, 1, false);
        else if (splice) ks_append_range(target, value);
        else ks_append(target, value);
    }

    Status compose(const Cell* source, Cell* target, bool insert) {
        for (const Cell* c : chain)
            if (series_node(c) == series_node(source)) raise_error(Err::internal_no_cycle);
        if (chain.size() >= CYCLES_SLOTS) raise_error(Err::internal_too_deep);
        chain.push_back(source);
        for (i32 i = series_head(source); i < ks_buffer_length(source); ++i) {
            Cell* mark = g_args.top;
            Cell* cell = stack_push(cells_of(series_buffer(source)) + i);
            switch (type_of(cell)) {
                case T_BLOCK:
                    if (deep) {
                        Cell* nested = push_new_block(ks_length_q(cell));
                        if (Status s = compose(cell, nested, false)) return s;
                        nested->header = cell->header;
                        add(target, insert, nested, false);
                    } else {
                        add(target, insert, cell, false);
                    }
                    break;
                case T_PAREN: {
                    if (ks_length_q(cell) <= 0) break;
                    if (Status s = eval_block(cell, false)) return s;
                    Cell* result = stack_top();
                    u32 result_type = type_of(result);
                    if (result_type == T_UNSET) break;
                    if (result_type == T_BLOCK && !only) {
                        if (ks_length_q(result) > 0) add(target, insert, result, true);
                    } else {
                        add(target, insert, result, false);
                    }
                    break;
                }
                default:
                    add(target, insert, cell, false);
                    break;
            }
            g_args.top = mark;
        }
        chain.pop_back();
        return 0;
    }
};

Status compose_native(bool, const i32* refs) {
    Cell* value = stack_arg(0);
    if (type_of(value) != T_BLOCK) {
        Cell expected, got;
        set_cell(&expected, T_DATATYPE, T_BLOCK);
        set_cell(&got, T_DATATYPE, type_of(value));
        raise_error(Err::script_expect_val, &expected, &got);
    }
    Composer composer{refinement_arg(refs, 0) != nullptr, refinement_arg(refs, 1) != nullptr, {}};
    Cell* out = refinement_arg(refs, 2);
    Cell* answer;
    if (out) {
        bool at_tail;
        const Cell* source = walk_source(value, out);
        Cell* work = into_target(out, &at_tail);
        if (Status s = composer.compose(source, work, true)) return s;
        answer = at_tail ? out : work;
    } else {
        answer = push_new_block(ks_length_q(value));
        if (Status s = composer.compose(value, answer, false)) return s;
    }
    *stack_result() = *answer;
    return 0;
}

}  // namespace

KEL_NATIVE(35, reduce_native);
KEL_NATIVE(36, compose_native);

}  // namespace kel::ev
