// string! datatype.
#include "datatypes/string.h"

#include "runtime/series.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kel::dt {

using namespace rt;

Cell* make_string_at(Cell* out, u32 capacity, u32 type) {
    Node n = alloc_codepoints(capacity, 1);
    set_cell(out, type, 0, n, 0);
    return out;
}

Cell* push_string(u32 capacity) {
    Cell* slot = stack_push_slot();
    set_cell(slot, T_NONE);
    return make_string_at(slot, capacity);
}

void append_char(Cell* str, u32 cp) {
    SeriesBuffer* b = buffer_of(series_node(str));
    u32 unit = b->unit();
    if (cp >= 0x80 && unit == 1) {
        b = cp < 0x10000 ? widen_latin1_to_ucs2(b) : widen_latin1_to_ucs4(b);
        unit = b->unit();
    } else if (cp >= 0x10000 && unit == 2) {
        b = widen_ucs2_to_ucs4(b);
        unit = 4;
    }
    u8* p = buffer_reserve(b, unit);
    switch (unit) {
        case 1: *p = u8(cp); break;
        case 2: { u16 v = u16(cp); __builtin_memcpy(p, &v, 2); break; }
        default: __builtin_memcpy(p, &cp, 4); break;
    }
}

void append_c_string(Cell* str, const char* s) {
    while (*s) append_char(str, u8(*s++));
}

u32 string_length(const Cell* str) {
    SeriesBuffer* b = buffer_of(series_node(str));
    i32 len = i32((b->tail - b->offset) >> unit_shift(b->unit())) - series_head(str);
    return len < 0 ? 0 : u32(len);
}

u32 string_char_at(const Cell* str, u32 i) {
    SeriesBuffer* b = buffer_of(series_node(str));
    u32 idx = u32(series_head(str)) + i;
    switch (b->unit()) {
        case 1: return at(b->offset)[idx];
        case 2: { u16 v; __builtin_memcpy(&v, at(b->offset) + idx * 2, 2); return v; }
        default: { u32 v; __builtin_memcpy(&v, at(b->offset) + idx * 4, 4); return v; }
    }
}

}  // namespace kel::dt
