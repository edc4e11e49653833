// The path kinds: path!, lit-path!, set-path!, get-path!. As data they are blocks; they
// differ in make, to and their text forms, which never break lines.
#include <cmath>

#include "datatypes/path.h"

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype_init.h"
#include "datatypes/dispatch.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/walk_guard.h"
#include "datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/series.h"
#include "runtime/stack.h"

namespace kel::dt {

using namespace rt;

namespace {

Cell* push_kind(Cell* c, u32 type) {
    set_cell_type(c, type);
    return stack_push(c);
}

}  // namespace

Cell* push_path(Cell* c) { return push_kind(c, T_PATH); }
Cell* push_lit_path(Cell* c) { return push_kind(c, T_LIT_PATH); }
Cell* push_set_path(Cell* c) { return push_kind(c, T_SET_PATH); }
Cell* push_get_path(Cell* c) { return push_kind(c, T_GET_PATH); }
Cell* push_paren(Cell* c) { return push_kind(c, T_PAREN); }

Cell* make_path_at(Cell* c, i32 n) {
    make_block_at(c, n);
    set_cell_type(c, T_PATH);
    return c;
}

namespace {

Cell* path_make(Cell* proto, Cell* spec, u32 type) {
    u32 t = type_of(spec);
    if (is_cell_series_type(t)) return block_to(proto, spec, type);
    if (t == T_INTEGER || t == T_FLOAT || t == T_PERCENT) {
        // Counts are checked as make block! checks them: truncated, in range, at least 1.
        i32 n;
        if (t == T_INTEGER) {
            n = get_int(spec);
        } else {
            double d = get_float(spec);
            if (!(d <= 2147483647.0 && d >= -2147483648.0)) raise_error(Err::script_out_of_range, spec);
            n = i32(std::trunc(d));
        }
        Cell* r = push_new_block(n < 1 ? 1 : n);
        set_cell_type(r, type);
        return r;
    }
    Cell dt;
    set_cell(&dt, T_DATATYPE, type);
    raise_error(Err::script_bad_make_arg, &dt, spec);
}

Cell* path_to(Cell* proto, Cell* spec, u32 type) {
    u32 t = type_of(spec);
    if (t == T_OBJECT || t == T_TYPESET || t == T_MAP) {
        Cell* r = push_new_block(1);
        ks_append(r, spec);
        set_cell_type(r, type);
        return r;
    }
    return block_to(proto, spec, type);
}

i32 total_cells(Node node) {
    SeriesBuffer* b = buffer_of(node);
    return i32((b->tail - b->offset) / sizeof(Cell));
}

// Forms or molds the elements with "/" between them.
template <class Item>
i32 path_items(Cell* value, Cell* out, Cell* part, i32 limit, Item item) {
    Node node = series_node(value);
    if (walk_in_progress(node)) {
        append_c_string(out, "...");
        return limit - 3;
    }
    WalkGuard guard(node);
    i32 head = series_clamped_head(value);
    for (i32 i = head; i < total_cells(node); ++i) {
        if (i > head) {
            append_char(out, '/');
            limit -= 1;
        }
        Cell* c = stack_push(at<Cell>(buffer_of(node)->offset) + i);
        limit = item(c, limit);
        stack_pop(1);
        if (part && limit < 1) break;
    }
    return limit;
}

i32 path_form(Cell* value, Cell* out, Cell* part, i32 limit) {
    return path_items(value, out, part, limit, [&](Cell* c, i32 l) { return form_dispatch(c, out, part, l); });
}

i32 path_mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, i32 limit, i32) {
    return path_items(value, out, part, limit,
                      [&](Cell* c, i32 l) { return mold_dispatch(c, out, only, all, flat, part, l, 0); });
}

i32 lit_path_mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, i32 limit, i32 indent) {
    append_char(out, '\'');
    return path_mold(value, out, only, all, flat, part, limit - 1, indent);
}

i32 get_path_mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, i32 limit, i32 indent) {
    append_char(out, ':');
    return path_mold(value, out, only, all, flat, part, limit - 1, indent);
}

i32 set_path_mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, i32 limit, i32 indent) {
    limit = path_mold(value, out, only, all, flat, part, limit, indent);
    append_char(out, ':');
    return limit - 1;
}

Cell* path_copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types) {
    return block_copy(value, result, part, deep, types);
}

void init_path() {
    TypeRegistration r(T_PATH, T_BLOCK, "path!");
    r.inherit_all();
    r.set<A_MAKE>(path_make).set<A_TO>(path_to).set<A_FORM>(path_form).set<A_MOLD>(path_mold);
    r.set<A_COPY>(path_copy);
    r.none(A_RANDOM).none(A_SORT).none(A_TRIM);
    register_datatype(r);
}

void init_path_kind(u32 type, const char* name, MoldFn mold) {
    TypeRegistration r(type, T_PATH, name);
    r.inherit_all();
    r.set<A_MOLD>(mold);
    register_datatype(r);
}

void init_lit_path() { init_path_kind(T_LIT_PATH, "lit-path!", lit_path_mold); }
void init_set_path() { init_path_kind(T_SET_PATH, "set-path!", set_path_mold); }
void init_get_path() { init_path_kind(T_GET_PATH, "get-path!", get_path_mold); }

}  // namespace

KEL_DATATYPE(T_PATH, init_path);
KEL_DATATYPE(T_LIT_PATH, init_lit_path);
KEL_DATATYPE(T_SET_PATH, init_set_path);
KEL_DATATYPE(T_GET_PATH, init_get_path);

void store_back_path_value(const Cell* changed, Cell* container, Cell* item, Cell* path, i32 index, bool case_) {
    Cell v = *changed;
    if (index == 1 && !(container && is_object_type(type_of(container)))) {
        // The path's head word: its own slot, wherever it is bound.
        if (is_any_word_type(type_of(item))) set_word_value(item, &v);
        return;
    }
    if (!container) return;
    auto fn = handler<A_EVAL_PATH>(type_of(container));
    if (!fn) return;
    Cell* base = g_args.top;
    Cell* c = stack_push(container);
    Cell* it = stack_push(item);
    Cell* nv = stack_push(&v);
    Cell none;
    set_cell(&none, T_NONE);
    Cell* gp = stack_push(&none);
    fn(c, it, nv, path, gp, gp, index - 1, case_, false, true);
    g_args.top = base;
}

}  // namespace kel::dt
