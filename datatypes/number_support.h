// Helpers shared by the number datatypes (integer!, float!, char!, typeset!): error
// arguments and reading the characters of a text value.
#pragma once
#include "datatypes/registry.h"
#include "runtime/cell.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace kel::dt::num {

// A word! for a name, once words exist; until then a none stands in for it.
inline void word_named(const char* name, Cell* out) {
    set_cell(out, T_NONE);
    if (g_load_word_hook) g_load_word_hook(name, out);
}

inline Cell datatype_cell(u32 type) {
    Cell c;
    set_cell(&c, T_DATATYPE, type);
    return c;
}

// script/not-related: the word `name` and a datatype.
[[noreturn]] inline void raise_not_related(const char* name, u32 type) {
    Cell word, dt = datatype_cell(type);
    word_named(name, &word);
    raise_error(rt::Err::script_not_related, &word, &dt);
}
// script/not-related naming the current call and a datatype.
[[noreturn]] inline void raise_call_not_related(u32 type) {
    Cell call, dt = datatype_cell(type);
    rt::stack_get_call(&call);
    raise_error(rt::Err::script_not_related, &call, &dt);
}
[[noreturn]] inline void raise_invalid_type(u32 type) {
    Cell dt = datatype_cell(type);
    raise_error(rt::Err::script_invalid_type, &dt);
}
[[noreturn]] inline void raise_bad_to_arg(u32 type, const Cell* spec) {
    Cell dt = datatype_cell(type);
    raise_error(rt::Err::script_bad_to_arg, &dt, spec);
}

// The string kinds whose characters make, to and scanning read.
inline bool is_text_type(u32 t) {
    return t == T_STRING || t == T_FILE || t == T_URL || t == T_TAG || t == T_EMAIL || t == T_REF;
}

// The units of a series value from its index to its tail. Valid until the next allocation.
struct UnitRange {
    const u8* start;
    u32 count;
    u32 unit;
};
inline UnitRange series_units(const Cell* s) {
    rt::SeriesBuffer* b = rt::buffer_of(series_node(s));
    u32 unit = b->unit();
    u32 total = b->used_bytes() >> rt::unit_shift(unit);
    i32 head = series_head(s);
    u32 index = head < 0 ? 0 : u32(head);
    if (index > total) index = total;
    return UnitRange{rt::at(b->offset) + size_t(index) * unit, total - index, unit};
}

// The code point at unit i of a range.
inline u32 unit_at(const UnitRange& r, u32 i) {
    const u8* p = r.start + size_t(i) * r.unit;
    switch (r.unit) {
        case 1: return *p;
        case 2: { u16 v; __builtin_memcpy(&v, p, 2); return v; }
        default: { u32 v; __builtin_memcpy(&v, p, 4); return v; }
    }
}

}  // namespace kel::dt::num
