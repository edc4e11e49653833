// block!: the cell-level layer, construction, comparison, path access and search.
#include "datatypes/block.h"

#include <cstring>
#include <initializer_list>
#include <utility>

#include "datatypes/datatype_init.h"
#include "datatypes/dispatch.h"
#include "datatypes/eval_hooks.h"
#include "datatypes/hash_index.h"
#include "datatypes/series.h"
#include "datatypes/typeset.h"
#include "datatypes/unit.h"
#include "datatypes/walk_guard.h"
#include "lexer/lexer.h"
#include "runtime/errors.h"
#include "runtime/gc.h"
#include "runtime/hashtable.h"
#include "runtime/series.h"
#include "runtime/stack.h"

namespace kel::dt {

using namespace rt;

Cell g_root_slot{};

namespace {

inline Cell* cells_at(const Cell* b) { return at<Cell>(series_buffer(b)->offset); }

// The word kinds that name a value in a block (select, path access).
inline bool is_word_kind(u32 t) { return t >= T_WORD && t <= T_GET_WORD; }
// Every word datatype: their values compare with each other.
inline bool is_any_word(u32 t) { return t >= T_WORD && t <= T_ISSUE; }
inline bool is_number_kind(u32 t) { return t == T_INTEGER || t == T_FLOAT || t == T_PERCENT; }

// The symbol id that names a word whatever its letter case.
inline u32 resolved_symbol(u32 sym) { return resolve_symbol_alias(sym); }

Cell* push_cell_copy(const Cell* c) { return stack_push(c); }

}  // namespace

// ---- accessors ------------------------------------------------------------------------

i32 ks_length_q(const Cell* b) { return ks_buffer_length(b) - series_head(b); }

bool ks_next(Cell* b) {
    i32 total = ks_buffer_length(b);
    if (series_head(b) + 1 <= total) b->data1 += 1;
    return series_head(b) == total;
}

Cell* ks_head(Cell* b) {
    i32 total = ks_buffer_length(b);
    if (series_head(b) > total) b->data1 = u32(total);
    return cells_at(b) + series_head(b);
}

Cell* ks_tail(const Cell* b) { return at<Cell>(series_buffer(b)->tail); }

bool ks_tail_q(const Cell* b) { return cells_at(b) + series_head(b) == ks_tail(b); }

Cell* ks_abs_at(const Cell* b, i32 i) { return cells_at(b) + i; }

void ks_clear(Cell* b) {
    SeriesBuffer* buf = series_buffer(b);
    // Never past the tail: that would bring old cells back.
    buf->tail = buf->offset + u32(series_clamped_head(b)) * sizeof(Cell);
}

void ks_set_tail(Cell* b, i32 n) {
    SeriesBuffer* buf = series_buffer(b);
    buf->tail = buf->offset + u32(n) * sizeof(Cell);
}

void ks_remove_last(Cell* b) {
    SeriesBuffer* buf = series_buffer(b);
    if (buf->tail > buf->offset) buf->tail -= sizeof(Cell);
    i32 total = ks_buffer_length(b);
    if (series_head(b) > total) b->data1 = u32(total);
}

Cell* ks_append(Cell* b, const Cell* value) {
    Cell v = *value;  // the value may live in the buffer that grows
    Cell* c = block_alloc_tail(series_node(b));
    *c = v;
    return c;
}

void ks_append_range(Cell* target, const Cell* source) {
    i32 from = series_clamped_head(source);
    i32 n = ks_buffer_length(source) - from;
    if (n <= 0) return;
    SeriesBuffer* t = series_buffer(target);
    if (series_node(source) == series_node(target)) {
        // Room first, then the copy from the block's own cells wherever the room put them:
        // the values are never held where the collector cannot see them (it may renumber
        // their nodes).
        u8* dst = buffer_reserve(t, u32(n) * sizeof(Cell));
        std::memcpy(dst, at<Cell>(t->offset) + from, size_t(n) * sizeof(Cell));
        return;
    }
    u8* dst = buffer_reserve(t, u32(n) * sizeof(Cell));
    std::memcpy(dst, cells_at(source) + from, size_t(n) * sizeof(Cell));
}

// ---- constructors ---------------------------------------------------------------------

Cell* make_block_at(Cell* c, i32 n) {
    set_cell(c, T_UNSET);
    Node node = alloc_cells(u32(n < 0 ? 1 : n));
    set_cell(c, T_BLOCK, 0, node, 0);
    return c;
}

Cell* make_block_at_2(Cell* c, i32 n, bool fixed) {
    set_cell(c, T_UNSET);
    u32 count = u32(n < 0 ? 1 : n);
    Node node = fixed ? alloc_fixed_series(count, 16, 0) : alloc_unset_cells(count);
    set_cell(c, T_BLOCK, 0, node, 0);
    return c;
}

namespace {

Cell* make_block_in_impl(Cell* parent, i32 n, bool fixed) {
    if (!parent) return make_block_at_2(&g_root_slot, n, fixed);
    // The new cell is in the parent (unset) while its buffer is made, so a collection in
    // between finds a valid cell; it is found again by index afterwards.
    i32 index = ks_buffer_length(parent);
    set_cell(block_alloc_tail(series_node(parent)), T_UNSET);
    Cell tmp;
    if (fixed) make_block_at_2(&tmp, n, true);
    else make_block_at(&tmp, n);
    Cell* c = ks_abs_at(parent, index);
    *c = tmp;
    return c;
}

}  // namespace

Cell* make_block_in(Cell* parent, i32 n) { return make_block_in_impl(parent, n, false); }
Cell* make_block_in_2(Cell* parent, i32 n) { return make_block_in_impl(parent, n, true); }

Cell* push_block(const Cell* b) { return stack_push(b); }

Cell* push_new_block(i32 n) {
    Cell* c = stack_push_slot();
    return make_block_at(c, n <= 0 ? 1 : n);
}

// ---- cell insertion -------------------------------------------------------------------

void ks_insert_value(Cell* b, const Cell* value, bool advance, bool at_start) {
    Cell v = *value;
    i32 pos = at_start ? 0 : series_clamped_head(b);
    SeriesBuffer* buf = series_buffer(b);
    if (buf->tail + sizeof(Cell) > buf->data_end()) {
        i64 need = i64(buf->tail - buf->offset) + i64(sizeof(Cell));
        buf = expand_series(buf, need * 2);
    }
    Cell* p = at<Cell>(buf->offset) + pos;
    std::memmove(p + 1, p, at(buf->tail) - reinterpret_cast<u8*>(p));
    *p = v;
    buf->tail += sizeof(Cell);
    if (has_index(b)) index_inserted(b, pos, 1);
    if (advance) b->data1 = u32(pos + 1);
}

void insert_block_cells(Cell* target, const Cell* source) {
    i32 from = series_clamped_head(source);
    i32 n = ks_buffer_length(source) - from;
    if (n <= 0) return;
    // The values wait in a block on the argument stack, where the collector sees them
    // while each insertion may allocate.
    Cell* copy = clone_block(source, false, false);
    for (i32 i = 0; i < n; ++i) {
        Cell v = cells_at(copy)[i];
        ks_insert_value(target, &v, true, false);
    }
    stack_pop(1);
}

void insert_top_into_block(Cell* block) { ks_insert_value(block, block + 1, true, false); }

void append_top_to_block(Cell* block) {
    Cell* c = ks_append(block, block + 1);
    if (has_index(block)) index_inserted(block, i32(c - cells_at(block)), 1);
}

void append_result_to_block(Cell* block) {
    Cell* c = ks_append(block, stack_result());
    if (has_index(block)) index_inserted(block, i32(c - cells_at(block)), 1);
}

// ---- lookups --------------------------------------------------------------------------

Cell* select_word_in_block(Cell* b, const Cell* word, bool case_) {
    u32 sym = case_ ? word_symbol(word) : resolved_symbol(word_symbol(word));
    i32 total = ks_buffer_length(b);
    Cell* c = cells_at(b);
    for (i32 i = series_clamped_head(b); i < total; ++i) {
        if (!is_word_kind(type_of(&c[i]))) continue;
        u32 s = case_ ? word_symbol(&c[i]) : resolved_symbol(word_symbol(&c[i]));
        if (s == sym) return i + 1 < total ? &c[i + 1] : &g_none_cell;
    }
    return &g_none_cell;
}

Cell* block_select_value(Cell* b, Cell* value) {
    i32 total = ks_buffer_length(b);
    for (i32 i = series_clamped_head(b); i < total; ++i) {
        if (compare(value, ks_abs_at(b, i), OP_PUT)) return i + 1 < total ? ks_abs_at(b, i + 1) : &g_none_cell;
    }
    return &g_none_cell;
}

bool block_remove_value(Cell* b, Cell* value, bool from_start) {
    i32 total = ks_buffer_length(b);
    for (i32 i = from_start ? 0 : series_clamped_head(b); i < total; ++i) {
        if (!compare(value, ks_abs_at(b, i), OP_PUT)) continue;
        SeriesBuffer* buf = series_buffer(b);
        Cell* p = at<Cell>(buf->offset) + i;
        std::memmove(p, p + 1, at(buf->tail) - reinterpret_cast<u8*>(p + 1));
        buf->tail -= sizeof(Cell);
        if (has_index(b)) index_removed(b, i, 1);
        return i <= series_head(b);
    }
    return false;
}

// ---- copies ---------------------------------------------------------------------------

namespace {

bool clones_deeply(u32 t, bool deep, bool paths) {
    return (deep && t == T_BLOCK) || (paths && (t == T_PAREN || is_path_type(t)));
}

// Values that have a copy of their own: what /types may replace.
bool has_copy(u32 t) {
    return is_series_type(t) || t == T_BITSET || t == T_OBJECT || t == T_ERROR || t == T_MAP;
}

}  // namespace

Cell* clone_block(const Cell* b, bool deep, bool paths) {
    i32 from = series_clamped_head(b);
    i32 n = ks_buffer_length(b) - from;
    Node src = series_node(b);
    u32 type = type_of(b);
    Cell* result = stack_push_slot();
    set_cell(result, T_NONE);
    Node node = alloc_cells(u32(n > 0 ? n : 1));
    set_cell(result, type, 0, node, 0);
    if (n <= 0) return result;
    SeriesBuffer* s = buffer_of(src);
    SeriesBuffer* d = buffer_of(node);
    std::memcpy(at(d->offset), at(s->offset) + size_t(from) * sizeof(Cell), size_t(n) * sizeof(Cell));
    d->tail = d->offset + u32(n) * sizeof(Cell);
    if (!deep && !paths) return result;
    if (walk_in_progress(src)) {
        walk_reset();
        raise_error(Err::internal_no_cycle);
    }
    WalkGuard guard(src);
    for (i32 i = 0; i < n; ++i) {
        Cell* c = ks_abs_at(result, i);
        if (!clones_deeply(type_of(c), deep, paths)) continue;
        u32 header = c->header;
        Cell* inner = clone_block(c, deep, paths);
        Cell* dst = ks_abs_at(result, i);
        *dst = *inner;
        dst->header = header;
        stack_pop(1);
    }
    return result;
}

void find_value_in_cells(Cell* b, i32 from, i32 to, i32 step, bool deep, Cell* types) {
    bool typeset = type_of(types) == T_TYPESET;
    for (i64 i = from; i < to; i += step) {
        Cell* c = ks_abs_at(b, i32(i));
        u32 t = type_of(c);
        bool wanted = typeset ? typeset_has(types, t) : t == types->data1;
        if (!wanted || !has_copy(t)) continue;
        Cell* arg = stack_push(c);
        Cell* slot = stack_push_slot();
        set_cell(slot, T_NONE);
        Cell* copy = dispatch<A_COPY>(arg, slot, nullptr, deep, deep ? types : nullptr);
        Cell* dst = ks_abs_at(b, i32(i));
        u32 flag = dst->header & CELL_NEW_LINE;
        *dst = *copy;
        dst->header = (dst->header & ~CELL_NEW_LINE) | flag;
        stack_pop(2);
    }
}

// ---- comparison -----------------------------------------------------------------------

i32 compare_each(Cell* b1, Cell* b2, i32 op) {
    Node n1 = series_node(b1), n2 = series_node(b2);
    bool same_place = n1 == n2 && series_head(b1) == series_head(b2);
    if (op == OP_SAME) return same_place ? 0 : -1;
    if (same_place) return 0;
    if (walk_in_progress(n1)) return walk_in_progress(n2) ? 0 : -1;
    i32 h1 = series_head(b1), h2 = series_head(b2);
    // A head beyond the tail sees an empty block.
    i32 rem1 = ks_buffer_length(b1) - h1;
    i32 rem2 = ks_buffer_length(b2) - h2;
    if (rem1 < 0) rem1 = 0;
    if (rem2 < 0) rem2 = 0;
    switch (op) {
        case OP_EQUAL: case OP_NOT_EQUAL: case OP_STRICT_EQUAL:
        case OP_FIND: case OP_STRICT_FIND: case OP_PUT:
            if (rem1 != rem2) return 1;
            break;
        default: break;
    }
    if (rem1 <= 0) return 0;
    i32 n = rem1 < rem2 ? rem1 : rem2;
    i32 r = 0;
    {
        WalkGuard g1(n1);
        WalkGuard g2(n2);
        for (i32 i = 0; i < n && r == 0; ++i) {
            // Re-read both cells each time: a nested comparison may allocate.
            Cell* a = at<Cell>(buffer_of(n1)->offset) + h1 + i;
            Cell* b = at<Cell>(buffer_of(n2)->offset) + h2 + i;
            u32 ta = type_of(a), tb = type_of(b);
            if (ta != tb && !(is_any_word(ta) && is_any_word(tb)) && !(is_number_kind(ta) && is_number_kind(tb)))
                return ta < tb ? -1 : 1;
            r = compare_values(a, b, op);
        }
    }
    if (r != 0) return r;
    return rem1 < rem2 ? -1 : rem1 > rem2 ? 1 : 0;
}

i32 block_compare(Cell* v1, Cell* v2, i32 op) {
    u32 t1 = type_of(v1), t2 = type_of(v2);
    if (t1 != t2) {
        bool path_pair = (t1 == T_PATH && t2 == T_LIT_PATH) || (t1 == T_LIT_PATH && t2 == T_PATH);
        if (!(path_pair && (op == OP_FIND || op == OP_STRICT_FIND))) return -2;
    }
    return compare_each(v1, v2, op);
}

i32 sort_compare_records(const Cell* a, const Cell* b, i32 op, u32 flags) {
    if (flags & SORT_REVERSE) std::swap(a, b);
    u32 k = flags >> 2;
    i32 fields = 1;
    if (flags & SORT_ALL) {
        fields = i32(k);
    } else {
        a += k;
        b += k;
    }
    for (i32 f = 0; f < fields; ++f) {
        Cell* x = const_cast<Cell*>(a + f);
        Cell* y = const_cast<Cell*>(b + f);
        auto fn = handler<A_COMPARE>(type_of(x));
        i32 r = fn ? fn(x, y, op) : -2;
        if (r == -2) r = i32(type_of(x)) - i32(type_of(y));
        if (r != 0) return r;
    }
    return 0;
}

// A /compare function's answer as a comparator result. The function gets the later record
// first, so an integer or float answer is negated: one function orders blocks and strings
// alike.
i32 sort_comparator_answer(const Cell* r) {
    switch (type_of(r)) {
        case T_LOGIC: return r->data1 == 1 ? 1 : -1;
        case T_INTEGER: return get_int(r) > 0 ? -1 : get_int(r) < 0 ? 1 : 0;
        case T_FLOAT: {
            double d = get_float(r);
            return d > 0.0 ? -1 : d < 0.0 ? 1 : 0;
        }
        case T_NONE: return -1;
        default: return 1;
    }
}

namespace {

// One comparator argument: the record's first cell, or with /all and /skip a new block of
// its `width` cells. Pushed.
void push_comparator_arg(const Cell* record, u32 width) {
    if (width == 0) {
        stack_push(record);
        return;
    }
    Cell* b = push_new_block(i32(width));
    for (u32 i = 0; i < width; ++i) ks_append(b, record + i);
}

}  // namespace

i32 sort_call_comparator(const Cell* a, const Cell* b, Cell* fn, u32 flags) {
    // The function sees the later record first, the earlier with /reverse.
    const Cell* first = (flags & SORT_REVERSE) ? a : b;
    const Cell* second = (flags & SORT_REVERSE) ? b : a;
    u32 width = (flags & SORT_ALL) ? flags >> 2 : 0;
    Cell* mark = g_args.top;
    push_comparator_arg(first, width);
    push_comparator_arg(second, width);
    Status s = g_call_value(fn, mark, 2);
    // A break, return or throw out of the comparator has already set the stacks for its target.
    if (s) system_throw(s);
    Cell answer = g_args.top[-1];
    g_args.top = mark;
    return sort_comparator_answer(&answer);
}

// ---- make and to ----------------------------------------------------------------------

namespace {

[[noreturn]] void raise_bad_make(u32 type, const Cell* spec) {
    Cell dt;
    set_cell(&dt, T_DATATYPE, type);
    raise_error(Err::script_bad_make_arg, &dt, spec);
}

// The values of an object!, map! or vector! as a new block on the stack; null for other
// specs.
Cell* body_block(Cell* spec) {
    switch (type_of(spec)) {
        case T_OBJECT:
        case T_MAP: return stack_push(dispatch<A_REFLECT>(spec, runtime_symbol(SYM_BODY)));
        case T_VECTOR: {
            if (!g_vector_to_block) raise_error(Err::internal_not_done);
            Cell* out = stack_push(&g_none_cell);
            return g_vector_to_block(spec, out);
        }
        default: return nullptr;
    }
}

}  // namespace

Cell* block_make(Cell*, Cell* spec, u32 type) {
    u32 t = type_of(spec);
    if (is_cell_series_type(t)) {
        Cell* r = clone_block(spec, false, false);
        set_cell_type(r, type);
        return r;
    }
    if (t == T_INTEGER || t == T_FLOAT) {
        i32 n = float_to_int_checked(spec);
        Cell* r = push_new_block(n < 1 ? 1 : n);
        set_cell_type(r, type);
        return r;
    }
    if (Cell* r = body_block(spec)) {
        set_cell_type(r, type);
        return r;
    }
    raise_bad_make(type, spec);
}

Cell* block_to(Cell*, Cell* spec, u32 type) {
    u32 t = type_of(spec);
    Cell* r;
    if (is_cell_series_type(t)) {
        r = clone_block(spec, false, false);
    } else if ((r = body_block(spec))) {
    } else if (t == T_TYPESET) {
        r = stack_push(&g_none_cell);
        typeset_to_block(spec, r);
    } else if (t == T_STRING) {
        r = stack_push(&g_none_cell);
        lex::transcode_series(r, spec, -1, lex::RunOptions{}, nullptr);
    } else {
        r = push_new_block(1);
        ks_append(r, spec);
    }
    set_cell_type(r, type);
    return r;
}

// ---- path evaluation ------------------------------------------------------------------

Cell* block_eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, i32, bool case_, bool,
                      bool) {
    if (type_of(element) == T_INTEGER) {
        if (!value) return dispatch<A_PICK>(parent, get_int(element), element);
        return dispatch<A_POKE>(parent, get_int(element), value, element);
    }
    if (!value) {
        if (type_of(element) == T_WORD && type_of(parent) != T_HASH) return select_word_in_block(parent, element, case_);
        return dispatch<A_SELECT>(parent, element, nullptr, true, case_, false, false, nullptr, nullptr, false,
                                      false);
    }
    Cell* found =
        dispatch<A_FIND>(parent, element, nullptr, false, case_, false, false, nullptr, nullptr, false, false, false,
                             false);
    if (type_of(found) == T_NONE) {
        Cell none;
        set_cell(&none, T_NONE);
        raise_error(Err::script_bad_path_set, path ? path : &none, element);
    }
    Cell* at_match = stack_push(found);
    dispatch<A_POKE>(at_match, 2, value, nullptr);
    stack_pop(1);
    return value;
}

// ---- find, select, put ----------------------------------------------------------------

namespace {

struct FindSpec {
    Cell* value;
    i32 op;
    bool by_type;     // a datatype! or typeset! matches by the cell's type
    i32 run;          // > 0: a cell series searched as this many consecutive values
    Node run_node;    // the run's buffer and head
    i32 run_head;
};

bool cell_matches(const FindSpec& f, Cell* c) {
    if (f.by_type) {
        u32 t = type_of(c);
        return type_of(f.value) == T_TYPESET ? typeset_has(f.value, t) : t == f.value->data1;
    }
    return compare(c, f.value, f.op);
}

// Whether the run's values stand at cell `pos` of buffer `node`.
bool run_matches(const FindSpec& f, Node node, i32 pos) {
    for (i32 k = 0; k < f.run; ++k) {
        Cell* c = at<Cell>(buffer_of(node)->offset) + pos + k;
        Cell* v = at<Cell>(buffer_of(f.run_node)->offset) + f.run_head + k;
        if (!compare(c, v, f.op)) return false;
    }
    return true;
}

// The shared search of find, select and put: the matching cell index, or -1. `run`
// receives the length of the run searched for, 0 for a single value.
i32 block_search(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, Cell* skip, bool last,
                 bool reverse, bool match, i32* run, bool* backward) {
    i32 total = ks_buffer_length(series);
    i32 head = series_head(series);
    *run = 0;
    *backward = last || reverse;
    if (total == 0) return -1;
    if (head >= total && !reverse) return -1;
    i32 step = 1;
    if (skip) {
        if (type_of(skip) != T_INTEGER) raise_invalid_refine(rt::REF_SKIP, skip);
        step = get_int(skip);
        if (step < 1) raise_error(Err::script_out_of_range, skip);
    }
    i32 limit = total - 1;  // the last cell considered
    if (part) {
        i64 l;
        if (type_of(part) == T_INTEGER) {
            i32 n = get_int(part);
            if (n < 1) return -1;
            l = i64(head) + n - 1;
        } else {
            l = i64(head) + part_series_count(series, part) - 1;
        }
        if (l < limit) limit = i32(l);
    }

    FindSpec f{value, same ? OP_SAME : case_ ? OP_STRICT_EQUAL : OP_PUT, false, 0, 0, 0};
    u32 vt = type_of(value);
    if (!only && (vt == T_DATATYPE || vt == T_TYPESET)) {
        f.by_type = true;
    } else if (!only && is_cell_series_type(vt) && ks_length_q(value) >= 1) {
        f.run = ks_length_q(value);
        f.run_node = series_node(value);
        f.run_head = series_head(value);
        *run = f.run;
    }
    i32 k = f.run ? f.run : 1;
    Node node = series_node(series);

    // A hash! answers single values through its table.
    bool object_equality = vt == T_OBJECT && !same;
    if (has_index(series) && !f.run && !f.by_type && !match && !object_equality &&
        !(is_cell_series_type(vt) && !(only && same))) {
        Cell* hit = hashtable_get(series->data3, value, head, step, f.op, reverse, last);
        if (!hit) return -1;
        i32 pos = i32(hit - at<Cell>(buffer_of(node)->offset));
        return pos > limit ? -1 : pos;
    }

    auto try_at = [&](i32 pos) {
        if (f.run) return run_matches(f, node, pos);
        return cell_matches(f, at<Cell>(buffer_of(node)->offset) + pos);
    };

    // Positions are 64-bit: a large step must not wrap around.
    if (*backward) {
        i64 pos;
        if (part) pos = i64(limit) - k + 1;
        else if (last) pos = total - k;
        else pos = i64(head > total ? total : head) - k;
        if (pos + k - 1 > total - 1) pos = total - k;
        for (; pos >= 0; pos -= step) {
            if (try_at(i32(pos))) return i32(pos);
            if (match) break;
        }
        return -1;
    }
    for (i64 pos = head; pos + k - 1 <= limit; pos += step) {
        if (try_at(i32(pos))) return i32(pos);
        if (match) break;
    }
    return -1;
}

}  // namespace

Cell* block_find(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool, Cell*, Cell* skip,
                 bool last, bool reverse, bool tail, bool match) {
    i32 run;
    bool backward;
    i32 pos = block_search(series, value, part, only, case_, same, skip, last, reverse, match, &run, &backward);
    if (pos < 0) return &g_none_cell;
    Cell* r = push_cell_copy(series);
    if (tail) {
        // After the whole run; after a single value one step on forwards, one cell backwards.
        i64 step = (!backward && skip) ? get_int(skip) : 1;
        i64 after = pos + (run ? run : step);
        // A step past the tail lands on the tail.
        i32 total = ks_buffer_length(series);
        pos = after > total ? total : i32(after);
    }
    r->data1 = u32(pos);
    return r;
}

Cell* block_select(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool, Cell*, Cell* skip,
                   bool last, bool reverse) {
    i32 run;
    bool backward;
    i32 pos = block_search(series, value, part, only, case_, same, skip, last, reverse, false, &run, &backward);
    if (pos < 0) return &g_none_cell;
    // After a run searched for a block, paren or path; after the first cell otherwise.
    if (type_of(value) == T_HASH || run == 0) run = 1;
    i32 after = pos + run;
    if (after >= ks_buffer_length(series)) return &g_none_cell;
    return ks_abs_at(series, after);
}

Cell* block_put(Cell* series, Cell* key, Cell* value, bool case_) {
    i32 span;
    bool backward;
    Cell* k = stack_push(key);
    Cell* v = stack_push(value);
    i32 pos = 0, total = 0;
    // Where the key stands: found before the change event, and again after an owner's
    // handler, which may have changed the block.
    auto search = [&] {
        pos = block_search(series, k, nullptr, false, case_, false, nullptr, false, false, false, &span, &backward);
        if (type_of(k) == T_HASH || span == 0) span = 1;
        total = ks_buffer_length(series);
    };
    search();
    bool owned = ownership_check(series, Change::put, v, pos < 0 ? total : pos, 1);
    if (owned) search();
    if (pos < 0) {
        ks_append(series, k);
        ks_append(series, v);
        if (has_index(series)) index_inserted(series, total, 2);
    } else if (pos + span < ks_buffer_length(series)) {
        // Stored whatever put's equality says: a value that differs only in letter case
        // or word kind must still replace the old one.
        Cell* dst = ks_abs_at(series, pos + span);
        u32 flag = dst->header & CELL_NEW_LINE;
        *dst = *v;
        dst->header = (dst->header & ~CELL_NEW_LINE) | flag;
        if (has_index(series)) index_replaced(series, pos + span);
    } else {
        ks_append(series, v);
        if (has_index(series)) index_inserted(series, ks_buffer_length(series) - 1, 1);
    }
    if (owned) ownership_check(series, Change::put_ed, v, pos < 0 ? total : pos, 1);
    Cell result = *v;
    stack_pop(2);
    // The answer is the value: leave it where the caller can copy it.
    Cell* r = stack_push(&result);
    return r;
}

// ---- registration ---------------------------------------------------------------------

namespace {

void init_block() {
    gc_register_cell_root(&g_root_slot);
    TypeRegistration r(T_BLOCK, T_SERIES, "block!");
    for (int a : {A_RANDOM, A_REFLECT, A_AT, A_BACK, A_CLEAR, A_HEAD, A_HEAD_Q, A_INDEX_Q, A_LENGTH_Q, A_MOVE, A_NEXT,
                  A_PICK, A_POKE, A_REMOVE, A_REVERSE, A_SKIP, A_TAIL, A_TAIL_Q, A_MODIFY})
        r.inherit(a);
    r.set<A_MAKE>(block_make).set<A_TO>(block_to).set<A_FORM>(block_form).set<A_MOLD>(block_mold);
    r.set<A_EVAL_PATH>(block_eval_path).set<A_COMPARE>(block_compare);
    r.set<A_APPEND>(block_insert).set<A_INSERT>(block_insert).set<A_CHANGE>(block_change).set<A_COPY>(block_copy);
    r.set<A_FIND>(block_find).set<A_PUT>(block_put).set<A_SELECT>(block_select).set<A_SORT>(block_sort);
    r.set<A_SWAP>(block_swap).set<A_TAKE>(block_take).set<A_TRIM>(block_trim);
    register_datatype(r);
}

}  // namespace

KEL_DATATYPE(T_BLOCK, init_block);

}  // namespace kel::dt
