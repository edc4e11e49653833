// Data natives: bind, in, the set operations, complement?, the sign tests, max, min, shift
// and to-hex.
#include <cmath>
#include <cstdio>

#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/date.h"
#include "datatypes/geometry.h"
#include "datatypes/integer.h"
#include "datatypes/money.h"
#include "datatypes/string_actions.h"
#include "datatypes/typeset.h"
#include "datatypes/unit.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "evaluator/interpreter.h"
#include "runtime/errors.h"
#include "runtime/stack.h"

namespace kel::ev {

using namespace rt;
using namespace dt;

namespace {

Cell datatype_cell(const Cell* value) {
    Cell d;
    set_cell(&d, T_DATATYPE, type_of(value));
    return d;
}

// ---- bind and in ------------------------------------------------------------------------

// The context named by bind's second argument: a function's locals, an object's own
// context, or the context a word is bound to.
Node target_context(const Cell* target) {
    u32 t = type_of(target);
    if (is_any_word_type(t) || t == T_REFINEMENT) return word_context_node(target);
    return target->data1;  // function! and the object kinds keep their context in data1
}

Status bind_native(bool, const i32* refs) {
    Cell* value = stack_arg(0);
    Node ctx = target_context(stack_arg(1));
    bool copy = refs[0] >= 0;
    if (type_of(value) == T_BLOCK) {
        if (copy) {
            // The copy lands in the result slot, where it stays rooted while it is bound.
            Cell c = *clone_block(value, true, true);
            *stack_result() = c;
        }
        bind_block(stack_result(), ctx, type_of(context_owner(ctx)) == T_OBJECT);
        return 0;
    }
    bind_word(ctx, value);  // a word the context lacks comes back unchanged
    return 0;
}

Status in_native(bool, const i32*) {
    Node ctx = stack_arg(0)->data1;
    Cell word = *stack_arg(1);
    if (bind_word(ctx, &word) < 0) {
        set_cell(stack_result(), T_NONE);
        return 0;
    }
    if (type_of(&word) == T_REFINEMENT) set_cell_type(&word, T_WORD);
    *stack_result() = word;
    return 0;
}

// ---- set operations ---------------------------------------------------------------------

bool block_kind(u32 t) { return t == T_BLOCK || t == T_HASH; }

Status set_operation(const i32* refs, i32 op) {
    bool case_ = refs[0] >= 0;
    Cell skip_cell;
    Cell* skip = nullptr;
    if (refs[1] >= 0) {
        skip_cell = *stack_arg(u32(refs[1]));
        skip = &skip_cell;
    }
    Cell* a = stack_arg(0);
    u32 ta = type_of(a);
    if (op == SET_UNIQUE) {
        // The routines read a second operand slot: give them the set itself there.
        g_args.top = g_args.base + 1;
        stack_push(a);
    } else {
        Cell* b = stack_arg(1);
        u32 tb = type_of(b);
        if (block_kind(ta) ? !block_kind(tb) : ta != tb) {
            Cell d1 = datatype_cell(a), d2 = datatype_cell(b);
            raise_error(Err::script_expect_val, &d1, &d2);
        }
    }
    switch (ta) {
        case T_BLOCK:
        case T_HASH: block_set_operation(case_, skip, op); break;
        case T_STRING: string_set_operation(op, case_, skip); break;
        case T_BITSET: bitset_set_operation(op); break;
        case T_TYPESET: typeset_do_bitwise(op); break;
        case T_DATE:
            if (op != SET_DIFFERENCE) raise_expect_arg(0, a);
            date_difference(a, stack_arg(1));
            break;
        default: raise_expect_arg(0, a);
    }
    stack_keep();
    return 0;
}

Status unique_native(bool, const i32* refs) { return set_operation(refs, SET_UNIQUE); }
Status union_native(bool, const i32* refs) { return set_operation(refs, SET_UNION); }
Status intersect_native(bool, const i32* refs) { return set_operation(refs, SET_INTERSECT); }
Status exclude_native(bool, const i32* refs) { return set_operation(refs, SET_EXCLUDE); }
Status difference_native(bool, const i32* refs) { return set_operation(refs, SET_DIFFERENCE); }

Status complement_q_native(bool, const i32*) {
    Cell* v = stack_arg(0);
    if (type_of(v) != T_BITSET) raise_expect_arg(0, v);
    box_logic(bitset_complemented(v));
    return 0;
}

// ---- sign tests -------------------------------------------------------------------------

// -1, 0 or 1; NaN counts as 0 (neither negative nor positive).
i32 number_sign(Cell* v) {
    switch (type_of(v)) {
        case T_INTEGER: return get_int(v) < 0 ? -1 : get_int(v) > 0;
        case T_FLOAT:
        case T_PERCENT:
        case T_TIME: {
            double d = get_float(v);
            return d < 0.0 ? -1 : d > 0.0;
        }
        case T_MONEY: return money_sign(v);
        default: raise_expect_arg(0, v);
    }
}

Status negative_q_native(bool, const i32*) {
    box_logic(number_sign(stack_arg(0)) < 0);
    return 0;
}
Status positive_q_native(bool, const i32*) {
    box_logic(number_sign(stack_arg(0)) > 0);
    return 0;
}
Status sign_q_native(bool, const i32*) {
    box_integer(number_sign(stack_arg(0)));
    return 0;
}

// ---- max and min ------------------------------------------------------------------------

bool is_number_type(u32 t) { return t == T_INTEGER || t == T_FLOAT || t == T_PERCENT; }
bool is_compound_type(u32 t) { return t == T_PAIR || t == T_POINT2D || t == T_POINT3D || t == T_TUPLE; }
bool nan_number(const Cell* v) {
    return (type_of(v) == T_FLOAT || type_of(v) == T_PERCENT) && std::isnan(get_float(v));
}

double number_value(const Cell* v) { return type_of(v) == T_INTEGER ? double(get_int(v)) : get_float(v); }

template <class T>
T pick(T a, T b, bool max) {
    return max ? (b > a ? b : a) : (b < a ? b : a);
}

// Float components: a NaN on either side wins.
float pick_float(float a, float b, bool max) {
    if (std::isnan(a)) return a;
    if (std::isnan(b)) return b;
    return pick(a, b, max);
}

u32 point_count(u32 t) { return t == T_POINT3D ? 3 : 2; }

// The first slot holds a compound value; the second a number or a compound. Answers false
// when the two are not combined component by component (kinds that differ).
bool compound_max_min(Cell* a, Cell* b, bool max) {
    u32 ta = type_of(a), tb = type_of(b);
    if (ta == T_PAIR && is_number_type(tb)) {
        double d = number_value(b);
        if (tb != T_INTEGER && !(d >= -2147483648.0 && d < 2147483648.0)) {
            // Out of the integers' reach: the pair is taken as the point of the same
            // coordinates.
            pair_to_point2d(a);
            return compound_max_min(a, b, max);
        }
        i32 n = tb == T_INTEGER ? get_int(b) : i32(std::trunc(d));
        make_pair_at(a, pick(pair_x(a), n, max), pick(pair_y(a), n, max));
        return true;
    }
    if (ta == T_PAIR && tb == T_PAIR) {
        make_pair_at(a, pick(pair_x(a), pair_x(b), max), pick(pair_y(a), pair_y(b), max));
        return true;
    }
    if ((ta == T_POINT2D || ta == T_POINT3D) && (is_number_type(tb) || tb == ta)) {
        float n = is_number_type(tb) ? float(number_value(b)) : 0.0f;
        for (u32 i = 0; i < point_count(ta); ++i)
            set_point_component(a, i32(i), pick_float(point_component(a, i32(i)),
                                                      tb == ta ? point_component(b, i32(i)) : n, max));
        return true;
    }
    if (ta == T_TUPLE && (is_number_type(tb) || tb == T_TUPLE)) {
        u8 bytes[12] = {};
        u32 na = tuple_length(a), nb = tb == T_TUPLE ? tuple_length(b) : 0;
        u32 n = na > nb ? na : nb;
        double d = tb == T_TUPLE ? 0.0 : number_value(b);
        for (u32 i = 0; i < n; ++i) {
            // A component only one of two tuples has is kept as it is.
            double x = i < na ? tuple_bytes(a)[i] : tuple_bytes(b)[i];
            double y = tb == T_TUPLE ? (i < nb ? tuple_bytes(b)[i] : x) : d;
            double r = std::isnan(y) ? x : pick(x, y, max);
            bytes[i] = r <= 0.0 ? 0 : r >= 255.0 ? 255 : u8(r);
        }
        make_tuple_at(a, bytes, n);
        return true;
    }
    return false;
}

Status max_min(bool max) {
    Cell* a = stack_arg(0);
    Cell* b = stack_arg(1);
    u32 ta = type_of(a), tb = type_of(b);
    if (is_number_type(ta) && is_number_type(tb)) {
        if (nan_number(a)) return 0;
        if (nan_number(b)) {
            *a = *b;
            return 0;
        }
    }
    if (is_compound_type(tb) && (ta == T_INTEGER || ta == T_FLOAT)) {
        std::swap(*a, *b);
        ta = type_of(a);
    }
    if (is_compound_type(ta) && compound_max_min(a, b, max)) return 0;
    // The other operand wins only when strictly greater (max) or lesser (min).
    if (compare(a, b, max ? OP_LESSER : OP_GREATER)) *a = *b;
    return 0;
}

Status max_native(bool, const i32*) { return max_min(true); }
Status min_native(bool, const i32*) { return max_min(false); }

// ---- shift and to-hex -------------------------------------------------------------------

Status shift_native(bool, const i32* refs) {
    i32 v = get_int(stack_arg(0));
    i32 n = get_int(stack_arg(1));
    if (n < 0) n = 0;
    i32 r;
    if (refs[0] >= 0) {
        r = n >= 32 ? 0 : i32(u32(v) << n);
    } else if (refs[1] >= 0) {
        r = n >= 32 ? 0 : i32(u32(v) >> n);
    } else {
        r = n >= 32 ? (v < 0 ? -1 : 0) : v >> n;
    }
    box_integer(r);
    return 0;
}

Status to_hex_native(bool, const i32* refs) {
    u32 v = u32(get_int(stack_arg(0)));
    i32 size = 8;
    if (Cell* s = refinement_arg(refs, 0)) {
        size = get_int(s);
        if (size < 1) raise_error(Err::script_invalid_arg, s);
        if (size > 8) size = 8;
    }
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08X", v);
    make_issue_at(stack_result(), digits + 8 - size);
    return 0;
}

}  // namespace

KEL_NATIVE(38, bind_native);
KEL_NATIVE(39, in_native);
KEL_NATIVE(41, union_native);
KEL_NATIVE(42, intersect_native);
KEL_NATIVE(43, unique_native);
KEL_NATIVE(44, difference_native);
KEL_NATIVE(45, exclude_native);
KEL_NATIVE(46, complement_q_native);
KEL_NATIVE(49, negative_q_native);
KEL_NATIVE(50, positive_q_native);
KEL_NATIVE(51, max_native);
KEL_NATIVE(52, min_native);
KEL_NATIVE(53, shift_native);
KEL_NATIVE(54, to_hex_native);
KEL_NATIVE(97, sign_q_native);

}  // namespace kel::ev
