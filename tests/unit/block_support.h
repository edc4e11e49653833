// Helpers for the series and block tests: building blocks of simple values, calling the
// stack-form actions, and reading molded text back.
#pragma once
#include <initializer_list>
#include <string>

#include "datatypes/block.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "evaluator/actions.h"
#include "runtime/series.h"
#include "runtime/stack.h"
#include "support.h"

// A namespace of their own: other test helpers use some of the same short names.
namespace kel::test::blocks {

inline Cell none_v() {
    Cell c;
    set_cell(&c, T_NONE);
    return c;
}
inline Cell logic_v(bool t) {
    Cell c;
    set_cell(&c, T_LOGIC, t ? 1 : 0);
    return c;
}
// A datatype! value: a distinct atom that molds as its name ("integer!").
inline Cell dt_v(u32 type) {
    Cell c;
    set_cell(&c, T_DATATYPE, type);
    return c;
}
inline Cell int_v(i32 n) {
    Cell c;
    set_cell(&c, T_INTEGER, 0, u32(n));
    return c;
}
// A string! of ASCII text (the cell; its buffer is reached through the conservative scan
// until it is put on the stack or in a block).
inline Cell str_v(const char* s) {
    Cell* c = dt::push_string(16);
    dt::append_c_string(c, s);
    Cell r = *c;
    rt::stack_pop(1);
    return r;
}
// The same value starting a new line when molded.
inline Cell nl(Cell c) {
    c.header |= CELL_NEW_LINE;
    return c;
}

// A new block on the argument stack holding copies of the cells; answers the stack slot.
inline Cell* blk(std::initializer_list<Cell> cells, u32 type = T_BLOCK) {
    Cell* b = dt::push_new_block(i32(cells.size()));
    for (const Cell& c : cells) dt::ks_append(b, &c);
    set_cell_type(b, type);
    return b;
}
// A block value as a plain cell (to nest it in another block).
inline Cell blk_v(std::initializer_list<Cell> cells, u32 type = T_BLOCK) {
    Cell c = *blk(cells, type);
    rt::stack_pop(1);
    return c;
}

inline std::string text_of(const Cell* str) {
    std::string s;
    u32 n = dt::string_length(str);
    for (u32 i = 0; i < n; ++i) {
        u32 cp = dt::string_char_at(str, i);
        s += cp < 0x80 ? char(cp) : '?';
    }
    return s;
}

// mold with the refinements given; limit < 0 means no /part.
inline std::string mold(Cell* v, bool only = false, bool all = false, bool flat = false, i32 limit = -1) {
    Cell* out = dt::push_string(16);
    Cell part;
    set_cell(&part, T_INTEGER, 0, u32(limit));
    ev::mold_dispatch(v, out, only, all, flat, limit < 0 ? nullptr : &part, limit < 0 ? 0x7FFFFFFF : limit, 0);
    std::string s = text_of(out);
    if (limit >= 0 && s.size() > size_t(limit)) s.resize(size_t(limit));
    return s;
}

inline std::string form(Cell* v, i32 limit = -1) {
    Cell* out = dt::push_string(16);
    Cell part;
    set_cell(&part, T_INTEGER, 0, u32(limit));
    ev::form_dispatch(v, out, limit < 0 ? nullptr : &part, limit < 0 ? 0x7FFFFFFF : limit);
    std::string s = text_of(out);
    if (limit >= 0 && s.size() > size_t(limit)) s.resize(size_t(limit));
    return s;
}

// Runs a stack-form action with the series (and argument) in a fresh call window; answers
// the result cell.
inline Cell stack_action(int action, const Cell& series, const Cell* arg = nullptr) {
    Cell* saved = rt::g_args.base;
    Cell* base = rt::stack_push(&series);
    if (arg) rt::stack_push(arg);
    rt::g_args.base = base;
    auto fn = reinterpret_cast<dt::StackFn>(dt::action_entry(type_of(&series), action));
    fn();
    Cell r = *base;
    rt::g_args.base = saved;
    rt::g_args.top = base;
    return r;
}

inline i32 head_of(const Cell& s) { return series_head(&s); }

// A fresh argument-stack slot holding none (a result slot for copy and the like).
inline Cell* none_slot() {
    Cell n = none_v();
    return rt::stack_push(&n);
}

}  // namespace kel::test::blocks
