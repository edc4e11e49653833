// The generic entries of the actions: what an action! value runs. Each looks up the handler
// of its first argument's datatype and calls it, either letting it read the argument stack
// (the stack form) or with explicit arguments (the typed form), and leaves the result in the
// call's result slot.
#include "datatypes/block.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/unit.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "runtime/errors.h"
#include "runtime/series.h"
#include "runtime/stack.h"
#include "runtime/symbols.h"

namespace kel::ev {

using namespace rt;
using namespace dt;

namespace {

inline Cell* arg(u32 i) { return g_args.base + i; }
// A refinement's argument cell, or null when it is absent.
inline Cell* ref_arg(const i32* refs, int k) { return refs[k] < 0 ? nullptr : g_args.base + refs[k]; }
inline bool flag(const i32* refs, int k) { return refs[k] >= 0; }
inline void result(const Cell* v) { copy_cell(v, g_args.base); }

template <int A>
void stack_entry(const i32*) {
    lookup<A>(arg(0))();
}

// make and to: a datatype! first argument names the type to make.
template <int A>
void make_entry(const i32*) {
    Cell* proto = arg(0);
    u32 type = type_of(proto) == T_DATATYPE ? proto->data1 : u32(type_of(proto));
    auto fn = reinterpret_cast<MakeFn>(action_lookup(type, proto, A));
    result(fn(proto, arg(1), type));
}

void random_entry(const i32* r) {
    result(dispatch<A_RANDOM>(arg(0), flag(r, 0), flag(r, 1), flag(r, 2)));
}

void reflect_entry(const i32*) {
    Cell* field = arg(1);
    result(dispatch<A_REFLECT>(arg(0), word_symbol(field)));
}

// Cuts a string to `limit` characters.
void cut_string(Cell* s, i32 limit) {
    if (i32(string_length(s)) <= limit) return;
    SeriesBuffer* b = buffer_of(series_node(s));
    b->tail = b->offset + ((u32(series_head(s)) + u32(limit)) << unit_shift(b->unit()));
}

void form_entry(const i32* r) {
    Cell* part = ref_arg(r, 0);
    i32 limit = part ? get_int(part) : 2147483647;
    Cell* out = push_string(16);
    if (limit >= 1) {
        form_dispatch(arg(0), out, part, limit);
        if (part) cut_string(out, limit);
    }
    result(out);
}

void mold_entry(const i32* r) {
    Cell* part = ref_arg(r, 3);
    i32 limit = part ? get_int(part) : 2147483647;
    Cell* out = push_string(16);
    if (limit >= 1) {
        mold_dispatch(arg(0), out, flag(r, 0), flag(r, 1), flag(r, 2), part, limit, 0);
        if (part) cut_string(out, limit);
    }
    result(out);
}

void negate_entry(const i32*) { result(dispatch<A_NEGATE>(arg(0))); }
void complement_entry(const i32*) { result(dispatch<A_COMPLEMENT>(arg(0))); }

void round_entry(const i32* r) {
    result(dispatch<A_ROUND>(arg(0), ref_arg(r, 0), flag(r, 1), flag(r, 2), flag(r, 3), flag(r, 4), flag(r, 5),
                             flag(r, 6)));
}

void even_entry(const i32*) { set_cell(g_args.base, T_LOGIC, dispatch<A_EVEN_Q>(arg(0)) ? 1 : 0); }
void odd_entry(const i32*) { set_cell(g_args.base, T_LOGIC, dispatch<A_ODD_Q>(arg(0)) ? 1 : 0); }

// ---- append, insert, change: /part and /dup ---------------------------------------------

bool is_part_series(u32 t) {
    switch (t) {
        case T_BLOCK: case T_PAREN: case T_PATH: case T_LIT_PATH: case T_SET_PATH: case T_GET_PATH: case T_HASH:
        case T_STRING: case T_FILE: case T_URL: case T_TAG: case T_EMAIL: case T_REF: case T_BINARY: case T_VECTOR:
        case T_IMAGE: case T_MAP:
            return true;
        default: return false;
    }
}

inline void clamp_index(Cell* s) {
    i32 n = i32(series_length(series_node(s)));
    // Vectors and images measure other units; their own actions clamp.
    if (type_of(s) == T_VECTOR || type_of(s) == T_IMAGE) return;
    if (series_head(s) > n) s->data1 = u32(n);
}

// The /part length measured in `measured` (a series of the same kind and buffer, or an
// integer); raises as the generic entries do.
i32 part_length(Cell* length, Cell* measured, bool for_change) {
    if (type_of(length) == T_INTEGER) return get_int(length);
    bool refused = type_of(measured) == T_PORT || (for_change && type_of(measured) == T_IMAGE);
    if (refused || type_of(length) != type_of(measured) || series_node(length) != series_node(measured)) {
        Cell w = g_refinement_words[REF_PART];
        raise_error(Err::script_invalid_refine_arg, &w, length);
    }
    clamp_index(length);
    return series_head(length) - series_head(measured);
}

void insert_entry(const i32* r, bool append) {
    Cell* series = arg(0);
    Cell* value = arg(1);
    Cell* part = ref_arg(r, 0);
    Cell* dup = ref_arg(r, 2);
    if (!append && type_of(series) != T_PORT) clamp_index(series);
    i32 len = -1;
    if (part) {
        if (!is_part_series(type_of(value))) raise_error(Err::script_invalid_part, part);
        clamp_index(value);
        len = part_length(part, value, false);
        if (len == 0 || (len < 0 && series_head(value) == 0)) {
            result(series);
            return;
        }
        if (len < 0) {
            i32 back = len < -series_head(value) ? series_head(value) : -len;  // -len overflows at the minimum
            value->data1 = u32(series_head(value) - back);
            len = back;
        }
    }
    i32 count = 1;
    if (dup) {
        count = get_int(dup);
        if (count < 1) {
            result(series);
            return;
        }
    }
    InsertFn fn = append ? lookup<A_APPEND>(series) : lookup<A_INSERT>(series);
    result(fn(series, value, len, flag(r, 1), count, append));
}

void append_entry(const i32* r) { insert_entry(r, true); }
void insert_entry_(const i32* r) { insert_entry(r, false); }

void change_entry(const i32* r) {
    Cell* series = arg(0);
    Cell* value = arg(1);
    Cell* part = ref_arg(r, 0);
    Cell* dup = ref_arg(r, 2);
    u32 t = type_of(series);
    if (t != T_PORT && t != T_IMAGE) clamp_index(series);
    i32 len = -1;
    if (part) {
        len = part_length(part, series, true);
        if (len < 0) {
            if (t == T_PORT || t == T_IMAGE) {
                len = 0;
            } else {
                i32 back = len < -series_head(series) ? series_head(series) : -len;  // -len overflows at the minimum
                series->data1 = u32(series_head(series) - back);
                len = back;
            }
        }
    }
    i32 count = 1;
    if (dup) {
        count = get_int(dup);
        if (count < 1) {
            result(series);
            return;
        }
    }
    result(dispatch<A_CHANGE>(series, value, len, flag(r, 1), count));
}

void clear_entry(const i32*) { result(dispatch<A_CLEAR>(arg(0))); }

void copy_entry(const i32* r) {
    Cell* types = ref_arg(r, 2);
    if (types && type_of(types) != T_DATATYPE && type_of(types) != T_TYPESET) raise_expect_arg(3, types);
    Cell* slot = stack_push_slot();
    set_cell(slot, T_NONE);
    result(dispatch<A_COPY>(arg(0), slot, ref_arg(r, 0), flag(r, 1), types));
}

void find_entry(const i32* r) {
    result(dispatch<A_FIND>(arg(0), arg(1), ref_arg(r, 0), flag(r, 1), flag(r, 2), flag(r, 3), flag(r, 4),
                            ref_arg(r, 5), ref_arg(r, 6), flag(r, 7), flag(r, 8), flag(r, 9), flag(r, 10)));
}

void select_entry(const i32* r) {
    result(dispatch<A_SELECT>(arg(0), arg(1), ref_arg(r, 0), flag(r, 1), flag(r, 2), flag(r, 3), flag(r, 4),
                              ref_arg(r, 5), ref_arg(r, 6), flag(r, 7), flag(r, 8)));
}

void length_entry(const i32*) {
    i32 n = dispatch<A_LENGTH_Q>(arg(0));
    if (n < 0) set_cell(g_args.base, T_NONE);
    else set_cell(g_args.base, T_INTEGER, 0, u32(n), 0);
}

void move_entry(const i32* r) { result(dispatch<A_MOVE>(arg(0), arg(1), ref_arg(r, 0))); }

// The index number handed to pick and poke: true 1, false 2, an integer its value, a char
// its code point, anything else 0 (the type then reads the index cell).
i32 index_number(const Cell* index) {
    switch (type_of(index)) {
        case T_LOGIC: return 2 - i32(index->data1 == 1);
        case T_INTEGER: case T_CHAR: return i32(index->data2);
        default: return 0;
    }
}

void pick_entry(const i32*) { result(dispatch<A_PICK>(arg(0), index_number(arg(1)), arg(1))); }

void poke_entry(const i32*) {
    Cell v = *arg(2);
    dispatch<A_POKE>(arg(0), index_number(arg(1)), arg(2), arg(1));
    result(&v);
}

void put_entry(const i32* r) { result(dispatch<A_PUT>(arg(0), arg(1), arg(2), flag(r, 0))); }
void remove_entry(const i32* r) { result(dispatch<A_REMOVE>(arg(0), ref_arg(r, 0), ref_arg(r, 1))); }
void reverse_entry(const i32* r) { result(dispatch<A_REVERSE>(arg(0), ref_arg(r, 0), ref_arg(r, 1))); }

void sort_entry(const i32* r) {
    result(dispatch<A_SORT>(arg(0), flag(r, 0), ref_arg(r, 1), ref_arg(r, 2), ref_arg(r, 3), flag(r, 4), flag(r, 5),
                            flag(r, 6)));
}

void swap_entry(const i32*) { result(dispatch<A_SWAP>(arg(0), arg(1))); }
void take_entry(const i32* r) { result(dispatch<A_TAKE>(arg(0), ref_arg(r, 0), flag(r, 1), flag(r, 2))); }

void trim_entry(const i32* r) {
    result(dispatch<A_TRIM>(arg(0), flag(r, 0), flag(r, 1), flag(r, 2), flag(r, 3), flag(r, 4), ref_arg(r, 5)));
}

template <int A>
void unary_entry(const i32*) {
    result(dispatch<A>(arg(0)));
}

void modify_entry(const i32* r) {
    Cell target = *arg(0);
    dispatch<A_MODIFY>(arg(0), arg(1), arg(2), flag(r, 0));
    result(&target);
}

void open_entry(const i32* r) {
    result(dispatch<A_OPEN>(arg(0), flag(r, 0), flag(r, 1), flag(r, 2), flag(r, 3), ref_arg(r, 4)));
}

void read_entry(const i32* r) {
    result(dispatch<A_READ>(arg(0), ref_arg(r, 0), ref_arg(r, 1), flag(r, 2), flag(r, 3), flag(r, 4), ref_arg(r, 5)));
}

void rename_entry(const i32*) { result(dispatch<A_RENAME>(arg(0), arg(1))); }

void write_entry(const i32* r) {
    result(dispatch<A_WRITE>(arg(0), arg(1), flag(r, 0), flag(r, 1), flag(r, 2), flag(r, 3), ref_arg(r, 4),
                             ref_arg(r, 5), ref_arg(r, 6), ref_arg(r, 7)));
}

// The table, filled before main runs: index = action id - 1.
struct GenericEntries {
    GenericEntries() {
        ActionEntry e[ACTION_COUNT] = {};
        auto set = [&](int id, ActionEntry f) { e[id - 1] = f; };
        set(A_MAKE, make_entry<A_MAKE>);
        set(A_RANDOM, random_entry);
        set(A_REFLECT, reflect_entry);
        set(A_TO, make_entry<A_TO>);
        set(A_FORM, form_entry);
        set(A_MOLD, mold_entry);
        set(A_ABSOLUTE, stack_entry<A_ABSOLUTE>);
        set(A_ADD, stack_entry<A_ADD>);
        set(A_DIVIDE, stack_entry<A_DIVIDE>);
        set(A_MULTIPLY, stack_entry<A_MULTIPLY>);
        set(A_NEGATE, negate_entry);
        set(A_POWER, stack_entry<A_POWER>);
        set(A_REMAINDER, stack_entry<A_REMAINDER>);
        set(A_ROUND, round_entry);
        set(A_SUBTRACT, stack_entry<A_SUBTRACT>);
        set(A_EVEN_Q, even_entry);
        set(A_ODD_Q, odd_entry);
        set(A_AND_T, stack_entry<A_AND_T>);
        set(A_COMPLEMENT, complement_entry);
        set(A_OR_T, stack_entry<A_OR_T>);
        set(A_XOR_T, stack_entry<A_XOR_T>);
        set(A_APPEND, append_entry);
        set(A_AT, stack_entry<A_AT>);
        set(A_BACK, stack_entry<A_BACK>);
        set(A_CHANGE, change_entry);
        set(A_CLEAR, clear_entry);
        set(A_COPY, copy_entry);
        set(A_FIND, find_entry);
        set(A_HEAD, stack_entry<A_HEAD>);
        set(A_HEAD_Q, stack_entry<A_HEAD_Q>);
        set(A_INDEX_Q, stack_entry<A_INDEX_Q>);
        set(A_INSERT, insert_entry_);
        set(A_LENGTH_Q, length_entry);
        set(A_MOVE, move_entry);
        set(A_NEXT, stack_entry<A_NEXT>);
        set(A_PICK, pick_entry);
        set(A_POKE, poke_entry);
        set(A_PUT, put_entry);
        set(A_REMOVE, remove_entry);
        set(A_REVERSE, reverse_entry);
        set(A_SELECT, select_entry);
        set(A_SORT, sort_entry);
        set(A_SKIP, stack_entry<A_SKIP>);
        set(A_SWAP, swap_entry);
        set(A_TAIL, stack_entry<A_TAIL>);
        set(A_TAIL_Q, stack_entry<A_TAIL_Q>);
        set(A_TAKE, take_entry);
        set(A_TRIM, trim_entry);
        set(A_CREATE, unary_entry<A_CREATE>);
        set(A_CLOSE, unary_entry<A_CLOSE>);
        set(A_DELETE, unary_entry<A_DELETE>);
        set(A_MODIFY, modify_entry);
        set(A_OPEN, open_entry);
        set(A_OPEN_Q, unary_entry<A_OPEN_Q>);
        set(A_QUERY, unary_entry<A_QUERY>);
        set(A_READ, read_entry);
        set(A_RENAME, rename_entry);
        set(A_UPDATE, unary_entry<A_UPDATE>);
        set(A_WRITE, write_entry);
        actions_register(ACTION_COUNT, e);
    }
};
const GenericEntries g_generic_entries;

}  // namespace

}  // namespace kel::ev
