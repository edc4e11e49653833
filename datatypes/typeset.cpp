// typeset! datatype.
#include "datatypes/typeset.h"

#include <cstring>

#include "datatypes/datatype_init.h"
#include "datatypes/number_support.h"
#include "datatypes/string.h"
#include "datatypes/unit.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/series.h"
#include "runtime/stack.h"

namespace kel::dt {

using namespace rt;

const Cell* (*g_word_value_hook)(const Cell* word) = nullptr;

namespace {

inline u8* bits_of(Cell* ts) { return reinterpret_cast<u8*>(&ts->data1); }

// The cells of a block value from its index to its tail.
struct CellRange {
    Cell* head;
    Cell* tail;
};
CellRange block_cells(const Cell* block) {
    SeriesBuffer* b = buffer_of(series_node(block));
    Cell* first = cells_of(b);
    Cell* tail = at<Cell>(b->tail);
    i32 index = series_head(block);
    Cell* head = index <= 0 ? first : first + index;
    return CellRange{head > tail ? tail : head, tail};
}

// A word's value; script/no-value when it has none.
const Cell* word_value(const Cell* word) {
    const Cell* v = g_word_value_hook ? g_word_value_hook(word) : nullptr;
    if (!v || type_of(v) == T_UNSET) raise_error(Err::script_no_value, word);
    return v;
}

void merge(Cell* ts, const Cell* other) {
    ts->data1 |= other->data1;
    ts->data2 |= other->data2;
    ts->data3 |= other->data3;
}

}  // namespace

void typeset_clear(Cell* ts) { ts->data1 = ts->data2 = ts->data3 = 0; }

void typeset_set(Cell* ts, u32 type) {
    if (type < 96) bits_of(ts)[type >> 3] |= u8(0x80 >> (type & 7));
}

i32 typeset_count(const Cell* ts) {
    i32 n = 0;
    for (u32 t = 1; t <= g_highest_type; ++t)
        if (typeset_has(ts, t)) ++n;
    return n;
}

void typeset_add(Cell* ts, const Cell* value) {
    const Cell* v = type_of(value) == T_WORD ? word_value(value) : value;
    switch (type_of(v)) {
        case T_DATATYPE: typeset_set(ts, v->data1); break;
        case T_TYPESET: merge(ts, v); break;
        default: raise_error(Err::script_invalid_arg, v);
    }
}

Cell* make_typeset_in(Node block, u32 w1, u32 w2, u32 w3) {
    Cell* c = block_alloc_tail(block);
    set_cell(c, T_TYPESET, w1, w2, w3);
    return c;
}

Cell* make_any_typeset_in(Node block) {
    Cell* c = make_typeset_in(block, ~0u, ~0u, ~0u);
    bits_of(c)[T_UNSET >> 3] &= u8(~(0x80 >> (T_UNSET & 7)));
    return c;
}

Cell* make_typeset_in_from_spec(Node block, const Cell* spec) {
    // Built aside and appended once complete: appending may move the block's buffer.
    Cell ts;
    set_cell(&ts, T_TYPESET);
    CellRange r = block_cells(spec);
    for (Cell* p = r.head; p < r.tail; ++p) {
        const Cell* v = type_of(p) == T_WORD ? word_value(p) : p;
        switch (type_of(v)) {
            case T_DATATYPE: typeset_set(&ts, v->data1); break;
            case T_TYPESET: merge(&ts, v); break;
            case T_WORD: typeset_set(&ts, T_OBJECT); break;
            case T_BLOCK: break;
            default: raise_error(Err::script_invalid_type_spec, v);
        }
    }
    return make_typeset_in(block, ts.data1, ts.data2, ts.data3);
}

void typeset_do_bitwise(i32 code) {
    Cell* left = g_args.base;
    Cell* right = left + 1;
    if (code == 8) return;  // unique: a typeset has no duplicates
    Cell r;
    if (type_of(right) == T_TYPESET) {
        r = *right;
    } else if (type_of(right) == T_DATATYPE) {
        set_cell(&r, T_TYPESET);
        typeset_set(&r, right->data1);
    } else {
        raise_error(Err::script_invalid_arg, right);
    }
    auto combine = [code](u32 a, u32 b) -> u32 {
        switch (code) {
            case 5: case 9: return a | b;
            case 6: case 10: return a & b;
            case 7: case 12: return a ^ b;
            case 11: return a & ~b;
            default: fatal_no_switch();
        }
    };
    set_cell(left, T_TYPESET, combine(left->data1, r.data1), combine(left->data2, r.data2),
             combine(left->data3, r.data3));
}

Cell* typeset_to_block(const Cell* ts, Cell* out) {
    Cell copy = *ts;  // the value may sit in a buffer that the allocations below move
    Node node = alloc_cells(u32(typeset_count(&copy)));
    set_cell(out, T_BLOCK, 0, node, 0);
    for (u32 t = 1; t <= g_highest_type; ++t)
        if (typeset_has(&copy, t)) make_datatype_in(node, t);
    return out;
}

Cell* push_typeset(const Cell* ts) { return stack_push(ts); }

namespace {

Cell* typeset_make(Cell*, Cell* spec, u32) {
    switch (type_of(spec)) {
        case T_TYPESET: return spec;
        case T_BLOCK: {
            Cell* ts = stack_push_slot();
            set_cell(ts, T_TYPESET);
            CellRange r = block_cells(spec);
            for (Cell* p = r.head; p < r.tail; ++p) typeset_add(ts, p);
            return ts;
        }
        default: num::raise_bad_to_arg(T_TYPESET, spec);
    }
}

// Drops the last character of a string (the space after the last name).
void drop_last_char(Cell* out) {
    SeriesBuffer* b = buffer_of(series_node(out));
    if (b->tail > b->offset) b->tail -= b->unit();
}

i32 typeset_write(const Cell* value, Cell* out, bool only, Cell* part, i32 limit) {
    Cell ts = *value;
    if (!only) {
        append_c_string(out, "make typeset! [");
        limit -= 15;
    }
    bool wrote = false;
    for (u32 t = 1; t <= g_highest_type; ++t) {
        if (!typeset_has(&ts, t) || !g_type_names[t].name) continue;
        if (part && limit < 0) return limit;
        append_c_string(out, g_type_names[t].name);
        append_char(out, ' ');
        limit -= g_type_names[t].form_length + 2;  // the name with its "!", and the space
        wrote = true;
    }
    // Only our own trailing space is taken back: the buffer may hold the caller's text.
    if (only) {
        if (wrote) {
            drop_last_char(out);
            limit += 1;
        }
    } else if (wrote) {
        drop_last_char(out);
        append_char(out, ']');
    } else {
        append_char(out, ']');
        limit -= 1;
    }
    return limit;
}

i32 typeset_form(Cell* value, Cell* out, Cell* part, i32 limit) { return typeset_write(value, out, false, part, limit); }

i32 typeset_mold(Cell* value, Cell* out, bool only, bool, bool, Cell* part, i32 limit, i32) {
    return typeset_write(value, out, only, part, limit);
}

i32 typeset_compare(Cell* value, Cell* other, i32 op) {
    if (type_of(other) != T_TYPESET) return -2;
    switch (op) {
        case 0: case 1: case 2: case 9: case 12:
            return value->data1 == other->data1 && value->data2 == other->data2 && value->data3 == other->data3 ? 0 : 1;
        case 7: case 8: {
            i32 a = typeset_count(value), b = typeset_count(other);
            return a < b ? -1 : a > b ? 1 : 0;
        }
        default: return -2;
    }
}

Cell* typeset_complement(Cell* value) {
    value->data1 = ~value->data1;
    value->data2 = ~value->data2;
    value->data3 = ~value->data3;
    return value;
}

Cell* typeset_find(Cell* series, Cell* value, Cell*, bool, bool, bool, bool, Cell*, Cell*, bool, bool, bool, bool) {
    if (type_of(value) != T_DATATYPE) raise_error(Err::script_invalid_arg, value);
    return value->data1 < 96 && typeset_has(series, value->data1) ? &g_true_cell : &g_false_cell;
}

void typeset_and() { typeset_do_bitwise(6); }
void typeset_or() { typeset_do_bitwise(5); }
void typeset_xor() { typeset_do_bitwise(7); }

void init_typeset() {
    TypeRegistration r(T_TYPESET, 0, "typeset!");
    r.set<A_MAKE>(typeset_make).set<A_TO>(typeset_make).set<A_FORM>(typeset_form).set<A_MOLD>(typeset_mold);
    r.set<A_COMPARE>(typeset_compare).set<A_AND_T>(typeset_and).set<A_COMPLEMENT>(typeset_complement);
    r.set<A_OR_T>(typeset_or).set<A_XOR_T>(typeset_xor).set<A_FIND>(typeset_find);
    register_datatype(r);
}

}  // namespace

KEL_DATATYPE(T_TYPESET, init_typeset);

}  // namespace kel::dt
