// map!: a key/value dictionary.
//
// The entries live in an ordinary block as alternating key and value cells, in insertion
// order (data2); a map-kind hash table over that block indexes the keys (data3). Removal
// never shifts cells: the value cell's header becomes 0 (a dead entry) and the key stays
// in place and in the table, so that a later put of an equal key revives the entry where
// it was. The table's count is the number of live entries.
//
// Keys are prepared on the way in: text and binary keys are copied (a later change to the
// caller's series must not move a key under its hash), word kinds are stored as set-words.
// Look-ups ignore case unless /case asks for strict equality.
#include <cstring>

#include "datatypes/block.h"
#include "datatypes/datatype_init.h"
#include "datatypes/dispatch.h"
#include "datatypes/integer.h"
#include "datatypes/map.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/walk_guard.h"
#include "lexer/literal_hooks.h"
#include "runtime/errors.h"
#include "runtime/hashtable.h"
#include "runtime/series.h"
#include "runtime/stack.h"
#include "runtime/symbols.h"

namespace kel::dt {

using namespace rt;

namespace {

inline Cell* entries_of(const Cell* map) { return cells_of(buffer_of(map->data2)); }
inline i32 entry_cells(const Cell* map) { return ks_buffer_length(map); }
inline u32 live_count(const Cell* map) { return hashtable_of(map->data3)->count; }
inline bool is_live(const Cell* map, i32 key_index) { return entries_of(map)[key_index + 1].header != 0; }

inline bool is_word_key(u32 t) { return t >= T_WORD && t <= T_GET_WORD; }
inline bool is_copied_key(u32 t) { return is_text_type(t) || t == T_BINARY; }

bool valid_key(u32 t) {
    switch (t) {
        case T_STRING: case T_FILE: case T_URL: case T_CHAR: case T_INTEGER: case T_FLOAT: case T_WORD:
        case T_SET_WORD: case T_LIT_WORD: case T_GET_WORD: case T_REFINEMENT: case T_ISSUE: case T_PAIR:
        case T_PERCENT: case T_TUPLE: case T_BINARY: case T_TIME: case T_TAG: case T_EMAIL: case T_DATE:
        case T_MONEY: case T_REF: case T_POINT2D: case T_POINT3D:
            return true;
        default: return false;
    }
}

[[noreturn]] void raise_bad_key(const Cell* key, const Cell* path) {
    Cell dt, none;
    set_cell(&dt, T_DATATYPE, type_of(key));
    set_cell(&none, T_NONE);
    raise_error(Err::script_invalid_path, path ? path : &none, &dt);
}

// The key in `key` (a stack cell) made ready to be stored.
void prepare_key(Cell* key, const Cell* path) {
    u32 t = type_of(key);
    if (!valid_key(t)) raise_bad_key(key, path);
    if (is_word_key(t)) {
        set_cell_type(key, T_SET_WORD);
    } else if (is_copied_key(t)) {
        Cell* slot = stack_push_slot();
        set_cell(slot, T_NONE);
        Cell* copy = dispatch<A_COPY>(key, slot, nullptr, false, nullptr);
        *key = *copy;
        stack_pop(1);
    }
    key->header &= ~CELL_NEW_LINE;
}

// The index of the entry's key cell, dead or alive, or -1.
i32 lookup(const Cell* map, const Cell* key, i32 op) {
    Cell* hit = hashtable_get(map->data3, key, 0, 1, op);
    return hit ? i32(hit - entries_of(map)) : -1;
}

i32 live_lookup(const Cell* map, const Cell* key, i32 op) {
    i32 i = lookup(map, key, op);
    return i >= 0 && is_live(map, i) ? i : -1;
}

inline i32 lookup_op(bool case_) { return case_ ? OP_STRICT_EQUAL : OP_EQUAL; }

// Appends a key (a rooted cell outside the map's block) and an unset value: the two cells
// in one reservation. The key is read after the growth, which may collect.
void append_entry(Cell* map, const Cell* key) {
    SeriesBuffer* b = buffer_of(map->data2);
    Cell* c = reinterpret_cast<Cell*>(buffer_reserve(b, 2 * sizeof(Cell)));
    c[0] = *key;
    c[1] = g_unset_cell;
}

// Path set and put: finds or appends the entry and stores the value. Answers the value,
// pushed.
Cell* store(Cell* map, const Cell* key, const Cell* value, bool case_, const Cell* path) {
    Cell* m = stack_push(map);
    Cell* v = stack_push(value);
    HashSpot spot;
    Cell* hit = hashtable_get_for_put(m->data3, key, lookup_op(case_), spot);
    i32 i = hit ? i32(hit - entries_of(m)) : -1;
    if (i < 0) {
        Cell* k = stack_push(key);
        prepare_key(k, path);
        i = entry_cells(m);
        append_entry(m, k);
        // The look-up found no key equal to it, strictly or not: a strictly equal one
        // cannot be there either, and the key goes where the probe ended.
        hashtable_put_at(m->data3, u32(i), spot);
        stack_pop(1);
    } else if (!is_live(m, i)) {
        hashtable_of(m->data3)->count++;
    }
    Cell* dst = entries_of(m) + i + 1;
    *dst = *v;
    dst->header &= ~CELL_NEW_LINE;
    Cell result = *v;
    stack_pop(2);
    return stack_push(&result);
}

// Builds the map's table over `m`, a block cell (on the stack or otherwise rooted) of
// key/value cells whose keys are valid; `m` becomes the map.
void index_entries(Cell* m, i32 size) {
    Cell* c = entries_of(m);
    for (i32 i = 0, n = entry_cells(m); i < n; ++i) c[i].header &= ~CELL_NEW_LINE;
    Node table = hashtable_init(size, m, HASH_MAP);
    set_cell(m, T_MAP, 0, m->data2, table);
}

[[noreturn]] void raise_bad_to(const Cell* spec) {
    Cell dt;
    set_cell(&dt, T_DATATYPE, T_MAP);
    raise_error(Err::script_bad_to_arg, &dt, spec);
}

Cell* map_copy(Cell* value, Cell* result, Cell*, bool deep, Cell* types);

// make and to share this path; `to` refuses a size.
Cell* build_map(Cell* spec, bool to) {
    u32 t = type_of(spec);
    if (t == T_MAP) {
        Cell* slot = stack_push_slot();
        set_cell(slot, T_NONE);
        return map_copy(spec, slot, nullptr, false, nullptr);
    }
    if (t == T_BLOCK || t == T_PAREN || t == T_HASH) {
        i32 n = series_length_q(spec, false);
        if (n % 2) raise_error(Err::script_invalid_arg, spec);
        Cell* m = clone_block(spec, false, false);
        set_cell_type(m, T_BLOCK);
        for (i32 i = 0; i < n; i += 2) {
            Cell* k = stack_push(ks_abs_at(m, i));
            prepare_key(k, nullptr);
            *ks_abs_at(m, i) = *k;
            stack_pop(1);
        }
        index_entries(m, n ? n : 2);
        return m;
    }
    if ((t == T_INTEGER || t == T_FLOAT) && !to) {
        i32 n = float_to_int_checked(spec);
        if (n < 0) raise_error(Err::script_out_of_range, spec);
        i32 cells = n > 0x3FFFFFF ? 0x7FFFFFE : 2 * n;
        Cell* m = push_new_block(cells ? cells : 2);
        index_entries(m, n);
        return m;
    }
    raise_bad_to(spec);
}

Cell* map_make(Cell*, Cell* spec, u32) { return build_map(spec, false); }
Cell* map_to(Cell*, Cell* spec, u32) { return build_map(spec, true); }

// The lexer's maker of #[...] literals: the block in `cell` becomes the map in place.
bool make_map_literal(Cell* cell) {
    i32 n = entry_cells(cell);
    for (i32 i = 0; i < n; i += 2)
        if (!valid_key(type_of(entries_of(cell) + i))) return false;
    index_entries(cell, n ? n : 2);
    return true;
}

// ---- reflect ----------------------------------------------------------------------------

// The stored key as the user sees it: a set-word key is a word.
inline void key_as_word(Cell* key) {
    if (type_of(key) == T_SET_WORD) set_cell_type(key, T_WORD);
}

Cell* map_reflect(Cell* value, u32 field) {
    Cell* m = stack_push(value);
    u32 f = resolve_symbol_alias(field);
    auto is = [&](RuntimeSymbol s) { return f == resolve_symbol_alias(runtime_symbol(s)); };
    bool words = is(SYM_WORDS), values = is(SYM_VALUES), body = is(SYM_BODY);
    if (!words && !values && !body) raise_error(Err::internal_not_done);
    u32 live = live_count(m);
    Cell* out = push_new_block(i32(body ? 2 * live : live));
    u32 seen = 0;
    for (i32 i = 0; seen < live && i + 1 < entry_cells(m); i += 2) {
        if (!is_live(m, i)) continue;
        ++seen;
        Cell key = entries_of(m)[i], val = entries_of(m)[i + 1];
        if (words) {
            key_as_word(&key);
            ks_append(out, &key);
        } else if (values) {
            ks_append(out, &val);
        } else {
            key.header |= CELL_NEW_LINE;
            ks_append(out, &key);
            ks_append(out, &val);
        }
    }
    *m = *out;
    stack_pop(1);
    return m;
}

// ---- form and mold ------------------------------------------------------------------------

i32 append_text(Cell* out, const char* s, i32 limit) {
    append_c_string(out, s);
    return limit - i32(std::strlen(s));
}

i32 append_indent(Cell* out, i32 level, i32 limit) {
    while (level-- > 0) limit = append_text(out, "    ", limit);
    return limit;
}

struct Layout {
    bool only, all, flat;
    bool indenting;  // each entry on its own indented line, the closing bracket on the next
    i32 indent;      // the entries' indentation level
    bool leading;    // a line break before the first entry
};

// The entries as lines of key, space and value. Removed entries write nothing at all, so a
// map whose last entry was removed lays out exactly as one that never had it.
i32 mold_items(Cell* map, Cell* out, const Layout& l, Cell* part, i32 limit) {
    u32 live = live_count(map);
    if (live == 0) return limit;
    const char* sep = l.flat ? " " : "\n";
    bool lines = l.indenting && !l.flat && !l.only;
    if (lines && l.leading) limit = append_text(out, "\n", limit);
    WalkGuard guard(map->data2);
    u32 seen = 0;
    for (i32 i = 0; seen < live && i + 1 < entry_cells(map); i += 2) {
        if (part && limit < 1) break;
        if (!is_live(map, i)) continue;
        ++seen;
        if (lines) limit = append_indent(out, l.indent, limit);
        Cell* key = stack_push(entries_of(map) + i);
        limit = mold_dispatch(key, out, false, l.all, l.flat, part, limit, l.indent);
        limit = append_text(out, " ", limit);
        *key = entries_of(map)[i + 1];
        limit = mold_dispatch(key, out, false, l.all, l.flat, part, limit, l.indent);
        stack_pop(1);
        // The closing bracket goes on a line of its own; elsewhere only between entries.
        if (seen < live || lines) limit = append_text(out, sep, limit);
    }
    return limit;
}

i32 map_form(Cell* value, Cell* out, Cell* part, i32 limit) {
    if (walk_in_progress(value->data2)) return append_text(out, "...", limit);
    Cell* m = stack_push(value);
    limit = mold_items(m, out, Layout{false, false, false, false, 0, false}, part, limit);
    stack_pop(1);
    return limit;
}

i32 map_mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, i32 limit, i32 indent) {
    if (walk_in_progress(value->data2)) return append_text(out, "#[...]", limit);
    Cell* m = stack_push(value);
    if (!only) limit = append_text(out, "#[", limit);
    bool written = live_count(m) > 0;
    // Under /only nothing is indented at this level: nested values keep the map's own.
    limit = mold_items(m, out, Layout{only, all, flat, true, only ? indent : indent + 1, true}, part, limit);
    if (!only) {
        if (written && !flat) limit = append_indent(out, indent, limit);
        limit = append_text(out, "]", limit);
    }
    stack_pop(1);
    return limit;
}

// ---- path, find, select, put, remove, clear, length ------------------------------------------

Cell* map_eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, i32, bool case_, bool, bool) {
    if (value) return store(parent, element, value, case_, path);
    i32 i = live_lookup(parent, element, lookup_op(case_));
    return i < 0 ? &g_none_cell : entries_of(parent) + i + 1;
}

inline i32 find_op(bool case_, bool same) { return same ? OP_SAME : lookup_op(case_); }

Cell* map_find(Cell* series, Cell* value, Cell*, bool, bool case_, bool same, bool, Cell*, Cell*, bool, bool, bool,
               bool) {
    i32 i = live_lookup(series, value, find_op(case_, same));
    if (i < 0) return &g_none_cell;
    Cell* key = stack_push(entries_of(series) + i);
    key_as_word(key);
    return key;
}

Cell* map_select(Cell* series, Cell* value, Cell*, bool, bool case_, bool same, bool, Cell*, Cell*, bool, bool) {
    i32 i = live_lookup(series, value, find_op(case_, same));
    return i < 0 ? &g_none_cell : entries_of(series) + i + 1;
}

Cell* map_put(Cell* series, Cell* key, Cell* value, bool case_) { return store(series, key, value, case_, nullptr); }

Cell* map_remove(Cell* series, Cell*, Cell* key) {
    if (!key) raise_error(Err::script_missing_arg);
    i32 i = live_lookup(series, key, OP_STRICT_EQUAL);
    if (i >= 0) hashtable_delete(series->data3, u32(i));
    return series;
}

Cell* map_clear(Cell* value) {
    // The entries go with the index: a later put starts a fresh order.
    hashtable_reset(value->data3);
    ks_set_tail(value, 0);
    return value;
}

i32 map_length(Cell* series) { return i32(live_count(series)); }

// ---- comparison ---------------------------------------------------------------------------

// Whether every live entry of `a` has an equal entry in `b` (same count already checked).
bool entries_match(Cell* a, Cell* b, i32 op) {
    u32 live = live_count(a), seen = 0;
    for (i32 i = 0; seen < live && i + 1 < entry_cells(a); i += 2) {
        if (!is_live(a, i)) continue;
        ++seen;
        Cell* key = stack_push(entries_of(a) + i);
        Cell* val = stack_push(entries_of(a) + i + 1);
        bool matched = false;
        if (op == OP_STRICT_EQUAL) {
            i32 j = live_lookup(b, key, OP_STRICT_EQUAL);
            if (j >= 0) {
                Cell* other = stack_push(entries_of(b) + j + 1);
                matched = compare_values(val, other, OP_STRICT_EQUAL) == 0;
                stack_pop(1);
            }
        } else {
            // Any entry whose key is equal may hold the equal value (keys that differ in
            // case only are separate entries under /case).
            HashCursor cursor;
            while (!matched) {
                Cell* hit = hashtable_get_next(b->data3, key, cursor);
                if (!hit) break;
                i32 j = i32(hit - entries_of(b));
                if (!is_live(b, j)) continue;
                Cell* other = stack_push(entries_of(b) + j + 1);
                matched = compare_values(val, other, OP_EQUAL) == 0;
                stack_pop(1);
            }
        }
        stack_pop(2);
        if (!matched) return false;
    }
    return true;
}

i32 map_compare(Cell* v1, Cell* v2, i32 op) {
    if (type_of(v2) != T_MAP) return -2;
    if (op == OP_SORT || op == OP_CASE_SORT) return v1->data2 < v2->data2 ? -1 : v1->data2 > v2->data2 ? 1 : 0;
    if (op != OP_EQUAL && op != OP_NOT_EQUAL && op != OP_STRICT_EQUAL && op != OP_SAME &&
        op != OP_PUT)
        return -2;
    if (v1->data2 == v2->data2) return 0;
    if (op == OP_SAME) return -1;
    if (walk_in_progress(v1->data2)) return walk_in_progress(v2->data2) ? 0 : -1;
    u32 c1 = live_count(v1), c2 = live_count(v2);
    if (c1 != c2) return 1;
    if (c1 == 0) return 0;
    Cell* a = stack_push(v1);
    Cell* b = stack_push(v2);
    bool equal;
    {
        WalkGuard ga(a->data2);
        WalkGuard gb(b->data2);
        equal = entries_match(a, b, op == OP_STRICT_EQUAL ? op : OP_EQUAL);
    }
    stack_pop(2);
    return equal ? 0 : 1;
}

// ---- copy -------------------------------------------------------------------------------

Cell* map_copy(Cell* value, Cell* result, Cell*, bool deep, Cell* types) {
    Node src = value->data2;
    if (deep && walk_in_progress(src)) {
        walk_reset();
        raise_error(Err::internal_no_cycle);
    }
    Cell* from = stack_push(value);
    Cell* m = clone_block(from, false, false);
    set_cell_type(m, T_BLOCK);
    Node table = hashtable_copy(from->data3, m->data2);
    set_cell(m, T_MAP, 0, m->data2, table);
    i32 n = entry_cells(m);
    if (types) {
        WalkGuard guard(src);
        find_value_in_cells(m, 1, n, 2, deep, types);
    } else if (deep) {
        // Every series or map held as a value is copied deeply; keys need no copy, nothing
        // reaches them to change them.
        WalkGuard guard(src);
        for (i32 i = 1; i < n; i += 2) {
            Cell* c = ks_abs_at(m, i);
            if (!is_series_type(type_of(c)) && type_of(c) != T_MAP) continue;
            Cell* arg = stack_push(c);
            Cell* slot = stack_push_slot();
            set_cell(slot, T_NONE);
            Cell* copy = dispatch<A_COPY>(arg, slot, nullptr, true, nullptr);
            *ks_abs_at(m, i) = *copy;
            stack_pop(2);
        }
    }
    *result = *m;
    stack_pop(2);
    return result;
}

void init_map() {
    TypeRegistration r(T_MAP, 0, "map!");
    r.set<A_MAKE>(map_make).set<A_REFLECT>(map_reflect).set<A_TO>(map_to).set<A_FORM>(map_form);
    r.set<A_MOLD>(map_mold).set<A_EVAL_PATH>(map_eval_path).set<A_COMPARE>(map_compare).set<A_CLEAR>(map_clear);
    r.set<A_COPY>(map_copy).set<A_FIND>(map_find).set<A_LENGTH_Q>(map_length).set<A_PUT>(map_put);
    r.set<A_REMOVE>(map_remove).set<A_SELECT>(map_select);
    register_datatype(r);
    lex::g_make_map = make_map_literal;
}

}  // namespace

KEL_DATATYPE(T_MAP, init_map);

Cell* map_extend(const Cell* map, const Cell* block, bool case_) {
    Cell* m = stack_push(map);
    Cell* b = stack_push(block);
    i32 n = ks_length_q(b);
    if (n % 2) raise_error(Err::script_invalid_arg, b);
    for (i32 i = 0; i < n && i + 1 < ks_length_q(b); i += 2) {
        Cell key = *(ks_head(b) + i);
        Cell value = *(ks_head(b) + i + 1);
        store(m, &key, &value, case_, nullptr);
        stack_pop(1);
    }
    Cell result = *m;
    stack_pop(2);
    return stack_push(&result);
}

bool map_key_allowed(u32 type) { return valid_key(type); }

}  // namespace kel::dt
