// Helpers for the number datatype tests: making cells, running actions the way the
// generic action entries do, and reading the text they write.
#pragma once
#include <cstring>
#include <string>

#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "runtime/cell.h"
#include "runtime/errors.h"
#include "runtime/series.h"
#include "runtime/stack.h"
#include "support.h"

namespace kel::test {

inline Cell int_cell(i32 v) {
    Cell c;
    set_cell(&c, T_INTEGER, 0, u32(v));
    return c;
}
inline Cell char_cell(u32 cp) {
    Cell c;
    set_cell(&c, T_CHAR, 0, cp);
    return c;
}
inline Cell float_cell(double d, u32 type = T_FLOAT) {
    Cell c;
    set_cell(&c, type);
    set_float_payload(&c, d);
    return c;
}
inline Cell datatype_cell(u32 type) {
    Cell c;
    set_cell(&c, T_DATATYPE, type);
    return c;
}
inline Cell logic_cell(bool b) {
    Cell c;
    set_cell(&c, T_LOGIC, b ? 1 : 0);
    return c;
}
inline Cell none_cell() {
    Cell c;
    set_cell(&c, T_NONE);
    return c;
}
inline u64 bits_of(double d) {
    u64 b;
    std::memcpy(&b, &d, 8);
    return b;
}

// A string value (of `type`) holding UTF-8 text decoded as code points.
inline Cell text_cell(const std::u32string& s, u32 type = T_STRING) {
    Cell c;
    dt::make_string_at(&c, u32(s.size()) + 1, type);
    for (char32_t ch : s) dt::append_char(&c, u32(ch));
    return c;
}
inline Cell binary_cell(std::initializer_list<u8> bytes) {
    Node n = rt::alloc_bytes(u32(bytes.size()) + 1);
    rt::series_append_bytes(n, bytes.begin(), u32(bytes.size()));
    Cell c;
    set_cell(&c, T_BINARY, 0, n, 0);
    return c;
}
inline Cell block_cell(std::initializer_list<Cell> values, u32 type = T_BLOCK) {
    Node n = rt::alloc_cells(u32(values.size()) + 1);
    for (const Cell& v : values) *rt::block_alloc_tail(n) = v;
    Cell c;
    set_cell(&c, type, 0, n, 0);
    return c;
}

inline std::u32string text_of(const Cell* s) {
    std::u32string r;
    for (u32 i = 0, n = dt::string_length(s); i < n; ++i) r += char32_t(dt::string_char_at(s, i));
    return r;
}
inline std::string ascii_of(const Cell* s) {
    std::u32string t = text_of(s);
    return std::string(t.begin(), t.end());
}

// A stack-form action on (left, right) as its generic entry runs it: the operands in the
// first two argument slots; answers the result slot.
inline Cell run_stack_action(int action, const Cell& left, const Cell& right) {
    rt::g_args.top = rt::g_args.base;
    *rt::stack_push_slot() = left;
    *rt::stack_push_slot() = right;
    auto fn = reinterpret_cast<dt::StackFn>(dt::action_entry(type_of(&left), u32(action)));
    EXPECT_NE(fn, nullptr) << "action " << action << " of type " << int(type_of(&left));
    fn();
    Cell r = *rt::g_args.base;
    rt::g_args.top = rt::g_args.base;
    return r;
}
inline Cell run_unary_action(int action, const Cell& value) {
    return run_stack_action(action, value, none_cell());
}

// The error a stack-form action raises (Err::count when none).
inline rt::Err stack_action_error(int action, const Cell& left, const Cell& right) {
    return catch_error([&] { run_stack_action(action, left, right); });
}

// form and mold through the datatype's handlers.
inline std::string form_text(Cell v, i32* left = nullptr, Cell* part = nullptr, i32 limit = 2147483647) {
    Cell* out = dt::push_string(16);
    i32 l = dt::handler<A_FORM>(type_of(&v))(&v, out, part, limit);
    if (left) *left = l;
    return ascii_of(out);
}
inline std::u32string mold_text(Cell v, bool only = false, bool all = false, i32* left = nullptr,
                                Cell* part = nullptr, i32 limit = 2147483647) {
    Cell* out = dt::push_string(16);
    i32 l = dt::handler<A_MOLD>(type_of(&v))(&v, out, only, all, false, part, limit, 0);
    if (left) *left = l;
    return text_of(out);
}

// make/to through the datatype's handlers; answers the result cell.
inline Cell make_value(int action, u32 type, Cell spec) {
    Cell proto = datatype_cell(type);
    auto fn = reinterpret_cast<dt::MakeFn>(dt::action_entry(type, u32(action)));
    return *fn(&proto, &spec, type);
}
inline rt::Err make_error(int action, u32 type, Cell spec) {
    return catch_error([&] { make_value(action, type, spec); });
}

inline i32 compare_op(Cell a, Cell b, i32 op) { return dt::handler<A_COMPARE>(type_of(&a))(&a, &b, op); }

}  // namespace kel::test
