// Helpers for the hash-table and symbol tests: cells of the basic kinds, blocks built from
// them, and stand-in compare actions for types whose datatypes may not be registered yet.
#pragma once
#include <initializer_list>
#include <string>

#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "runtime/series.h"
#include "runtime/symbols.h"
#include "support.h"

namespace kel::test {

inline Cell int_cell(i32 v) {
    Cell c;
    set_cell(&c, T_INTEGER, 0, u32(v), 0);
    return c;
}

inline Cell str_cell(const char* utf8, u32 type = T_STRING) {
    Cell c;
    dt::make_string_at(&c, 16, type);
    dt::append_utf8(&c, utf8);
    return c;
}

inline Cell word_cell(const char* name, u32 type = T_WORD) {
    Cell c;
    set_cell(&c, type, 0, rt::make_symbol(name), u32(-1));
    return c;
}

inline Node make_block(std::initializer_list<Cell> cells) {
    Node b = rt::alloc_cells(u32(cells.size()) + 1);
    for (const Cell& c : cells) *rt::block_alloc_tail(b) = c;
    return b;
}

inline Cell block_cell(Node b, u32 type = T_BLOCK) {
    Cell c;
    set_cell(&c, type, 0, b, 0);
    return c;
}

inline u32 block_len(Node b) { return rt::series_length(b); }
inline Cell* cell_at(Node b, u32 i) { return rt::cells_of(rt::buffer_of(b)) + i; }
inline u32 index_of(Node b, const Cell* c) { return c ? u32(c - rt::cells_of(rt::buffer_of(b))) : u32(-1); }

// Installs minimal compare actions for integer!, the text kinds, the word kinds and block!
// where none is registered, and takes them out again afterwards.
class CompareActions {
public:
    CompareActions() {
        console::runtime_init();  // registering the datatypes clears the table
        install(T_INTEGER, integer_compare);
        for (u32 t : {T_STRING, T_FILE, T_URL, T_TAG, T_EMAIL, T_REF}) install(t, string_compare);
        for (u32 t = T_WORD; t <= T_ISSUE; ++t) install(t, word_compare);
        install(T_BLOCK, same_series_compare);
    }
    ~CompareActions() {
        for (u32 t = 0; t < TYPE_ROWS; ++t)
            if (saved_[t]) slot(t) = nullptr;
    }

private:
    static dt::AnyFn& slot(u32 t) { return dt::g_action_table[t * ACTION_ROW_SIZE + A_COMPARE - 1]; }
    void install(u32 t, dt::CompareFn fn) {
        if (slot(t)) return;
        slot(t) = reinterpret_cast<dt::AnyFn>(fn);
        saved_[t] = true;
    }
    static i32 integer_compare(Cell* a, Cell* b, i32) {
        if (type_of(b) != T_INTEGER) return -2;
        i32 x = get_int(a), y = get_int(b);
        return x < y ? -1 : x > y ? 1 : 0;
    }
    static i32 string_compare(Cell* a, Cell* b, i32 op) {
        if (!dt::is_any_string_type(type_of(b))) return -2;
        return dt::compare_string_values(a, b, op, false);
    }
    static i32 word_compare(Cell* a, Cell* b, i32 op) {
        if (type_of(b) < T_WORD || type_of(b) > T_ISSUE) return -2;
        if (op == 2) return type_of(a) == type_of(b) && a->data2 == b->data2 ? 0 : 1;
        return rt::resolve_symbol_alias(a->data2) == rt::resolve_symbol_alias(b->data2) ? 0 : 1;
    }
    // Blocks by identity only: enough for keys that are the same series.
    static i32 same_series_compare(Cell* a, Cell* b, i32) {
        if (type_of(b) != type_of(a)) return -2;
        return a->data1 == b->data1 && a->data2 == b->data2 ? 0 : 1;
    }
    bool saved_[TYPE_ROWS] = {};
};

}  // namespace kel::test
