// Other natives: construct, value?, the case natives, the as- constructors, extend, wait,
// unset, new-line, new-line?, context?, now and as. (apply is in natives_apply.cpp.)
#include <cmath>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/date.h"
#include "datatypes/geometry.h"
#include "datatypes/integer.h"
#include "datatypes/map.h"
#include "datatypes/money.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/unit.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "evaluator/interpreter.h"
#include "runtime/casefold.h"
#include "runtime/console_out.h"
#include "runtime/errors.h"
#include "runtime/platform.h"

namespace kel::ev {

using namespace rt;
using namespace dt;

namespace {

// ---- values and words -----------------------------------------------------------------------

Status construct_native(bool, const i32* refs) {
    Cell* proto = refinement_arg(refs, 0);
    bool only = refs[1] >= 0;
    Cell* made = construct_object(stack_arg(0), proto, only);
    *stack_result() = *made;
    return 0;
}

Status value_q_native(bool, const i32*) {
    Cell* v = stack_arg(0);
    bool has = is_plain_word_type(type_of(v)) ? word_value_or_null(v) != nullptr : type_of(v) != T_UNSET;
    box_logic(has);
    return 0;
}

Status unset_native(bool, const i32*) {
    Cell* target = stack_arg(0);
    if (type_of(target) == T_BLOCK) {
        // Each element read through the node: an object's change handler may edit the block.
        for (i32 i = 0; i < ks_length_q(target); ++i) {
            Cell w = *(ks_head(target) + i);
            if (type_of(&w) == T_WORD) set_word_value(&w, &g_unset_cell);
        }
    } else {
        set_word_value(target, &g_unset_cell);
    }
    box_unset();
    return 0;
}

Status context_q_native(bool, const i32*) {
    Cell* w = stack_arg(0);
    *stack_result() = *context_owner(word_context_node(w));
    return 0;
}

// ---- new-line markers ---------------------------------------------------------------------

Status new_line_native(bool, const i32* refs) {
    Cell* pos = stack_arg(0);
    bool mark = value_true(stack_arg(1));
    bool all = refs[0] >= 0;
    Cell* skip = refinement_arg(refs, 1);
    i32 step = 1;
    if (skip) {
        step = get_integer(skip);
        if (step < 1) raise_error(Err::script_out_of_range, skip);
    }
    Cell* cell = ks_head(pos);
    Cell* tail = ks_tail(pos);
    if (!all && !skip) {
        if (cell < tail) cell->header = mark ? cell->header | CELL_NEW_LINE : cell->header & ~CELL_NEW_LINE;
    } else {
        for (i32 counter = 0; cell < tail; ++cell, ++counter) {
            bool selected = counter % step == 0;
            if (selected == mark) cell->header |= CELL_NEW_LINE;
            else cell->header &= ~CELL_NEW_LINE;
        }
    }
    *stack_result() = *pos;
    return 0;
}

Status new_line_q_native(bool, const i32*) {
    Cell* pos = stack_arg(0);
    Cell* cell = ks_head(pos);
    box_logic(cell < ks_tail(pos) && (cell->header & CELL_NEW_LINE) != 0);
    return 0;
}

// ---- case, compound values, maps -----------------------------------------------------------

template <bool Upper>
Status change_case_native(bool, const i32* refs) {
    Cell* value = stack_arg(0);
    i32 count = change_case(value, refinement_arg(refs, 0), Upper);
    if (type_of(value) != T_CHAR)
        ownership_check(value, Upper ? Change::uppercase : Change::lowercase, nullptr, series_head(value), count);
    return 0;
}

// A coordinate of as-pair: floats are truncated toward zero and must land in 32 bits.
i32 pair_coordinate(const Cell* v) {
    if (type_of(v) == T_INTEGER) return get_integer(v);
    double d = get_float(v);
    if (!std::isfinite(d)) raise_error(Err::script_invalid_arg, v);
    d = std::trunc(d);
    if (d < -2147483648.0 || d > 2147483647.0) raise_error(Err::script_out_of_range, v);
    return i32(d);
}

float point_coordinate(const Cell* v) {
    return type_of(v) == T_INTEGER ? float(get_integer(v)) : float(get_float(v));
}

Status as_pair_native(bool, const i32*) {
    i32 x = pair_coordinate(stack_arg(0));
    i32 y = pair_coordinate(stack_arg(1));
    make_pair_at(stack_result(), x, y);
    return 0;
}

Status as_point2d_native(bool, const i32*) {
    make_point2d_at(stack_result(), point_coordinate(stack_arg(0)), point_coordinate(stack_arg(1)));
    return 0;
}

Status as_point3d_native(bool, const i32*) {
    make_point3d_at(stack_result(), point_coordinate(stack_arg(0)), point_coordinate(stack_arg(1)),
                    point_coordinate(stack_arg(2)));
    return 0;
}

Status as_money_native(bool, const i32*) {
    Cell currency = *stack_arg(0);
    money_make_with_currency(stack_result(), &currency, stack_arg(1));
    return 0;
}

Status extend_native(bool, const i32* refs) {
    Cell* target = stack_arg(0);
    if (type_of(target) != T_MAP) raise_error(Err::internal_not_done);
    Cell* map = map_extend(target, stack_arg(1), refs[0] >= 0);
    *stack_result() = *map;
    return 0;
}

// as: the same series seen as another kind of the same class (block kinds, text kinds).
u32 series_class(u32 t) {
    if (t == T_BLOCK || t == T_PAREN || is_path_type(t)) return 1;
    if (is_any_string_type(t)) return 2;
    return 0;
}

Status as_native(bool, const i32*) {
    Cell* type = stack_arg(0);
    Cell* series = stack_arg(1);
    u32 to = type_of(type) == T_DATATYPE ? type->data1 : u32(type_of(type));
    u32 from = u32(type_of(series));
    u32 c = series_class(to);
    if (!c || c != series_class(from)) {
        Cell a, b;
        set_cell(&a, T_DATATYPE, from);
        set_cell(&b, T_DATATYPE, to);
        raise_error(Err::script_not_same_class, &a, &b);
    }
    Cell r = *series;
    set_cell_type(&r, to);
    *stack_result() = r;
    return 0;
}

// ---- time and waiting ----------------------------------------------------------------------

Status wait_native(bool, const i32*) {
    Cell* v = stack_arg(0);
    double seconds;
    switch (type_of(v)) {
        case T_INTEGER: seconds = get_integer(v); break;
        case T_FLOAT: case T_TIME: seconds = get_float(v); break;
        default: raise_error(Err::script_invalid_arg, v);
    }
    if (std::isnan(seconds)) raise_error(Err::script_invalid_arg, v);
    box_none();
    os_sleep(seconds);
    g_tui_process_pending();
    return 0;
}

// now's refinements, in spec order.
enum NowRefinement { NOW_YEAR, NOW_MONTH, NOW_DAY, NOW_TIME, NOW_ZONE, NOW_DATE, NOW_WEEKDAY, NOW_YEARDAY, NOW_PRECISE, NOW_UTC };
// Date fields as date/get-field numbers them.
constexpr i32 FIELD_DATE = 1, FIELD_YEAR = 2, FIELD_MONTH = 3, FIELD_DAY = 4, FIELD_ZONE = 5, FIELD_TIME = 6,
              FIELD_WEEKDAY = 10, FIELD_YEARDAY = 11;

Status now_native(bool, const i32* refs) {
    auto has = [&](NowRefinement r) { return refs[r] >= 0; };
    if (!(has(NOW_TIME) && has(NOW_PRECISE))) {
        i32 given = 0;
        for (i32 r = NOW_YEAR; r <= NOW_PRECISE; ++r) given += refs[r] >= 0;
        if (given > 1) raise_error(Err::script_bad_refines);
    }
    Cell date;
    date_make_now(&date, has(NOW_UTC), has(NOW_PRECISE));
    Cell* out = stack_result();
    static constexpr struct {
        NowRefinement refinement;
        i32 field;
    } answers[] = {{NOW_YEAR, FIELD_YEAR},   {NOW_MONTH, FIELD_MONTH},     {NOW_DAY, FIELD_DAY},
                   {NOW_ZONE, FIELD_ZONE},   {NOW_TIME, FIELD_TIME},       {NOW_WEEKDAY, FIELD_WEEKDAY},
                   {NOW_YEARDAY, FIELD_YEARDAY}, {NOW_DATE, FIELD_DATE}};
    for (const auto& a : answers) {
        if (has(a.refinement)) {
            date_get_field(&date, a.field, out);
            return 0;
        }
    }
    *out = date;
    return 0;
}

}  // namespace

KEL_NATIVE(68, construct_native);
KEL_NATIVE(69, value_q_native);
KEL_NATIVE(71, change_case_native<true>);
KEL_NATIVE(72, change_case_native<false>);
KEL_NATIVE(73, as_pair_native);
KEL_NATIVE(74, as_point2d_native);
KEL_NATIVE(75, as_point3d_native);
KEL_NATIVE(76, as_money_native);
KEL_NATIVE(83, extend_native);
KEL_NATIVE(86, wait_native);
KEL_NATIVE(88, unset_native);
KEL_NATIVE(89, new_line_native);
KEL_NATIVE(90, new_line_q_native);
KEL_NATIVE(92, context_q_native);
KEL_NATIVE(96, now_native);
KEL_NATIVE(98, as_native);

}  // namespace kel::ev
