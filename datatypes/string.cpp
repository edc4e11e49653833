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

namespace {
// "00000000", then the digit set, then a two-character area.
char g_hex_area[8 + 1 + 16 + 3] = "00000000\0" "0123456789ABCDEF" "00";
constexpr const char* HEX_DIGITS = "0123456789ABCDEF";
}  // namespace

const char* byte_to_hex(u32 value) {
    char* out = g_hex_area + 8 + 1 + 16;
    out[0] = HEX_DIGITS[(value >> 4) & 0xF];
    out[1] = HEX_DIGITS[value & 0xF];
    out[2] = 0;
    return out;
}

const char* int_to_hex(i32 value, bool strip) {
    char* buf = g_hex_area;
    i32 fill = value < 0 ? -1 : 0;
    i32 pos = 8;
    buf[8] = 0;
    // From the right by arithmetic shifts, until only the sign fill is left.
    while (value != fill && pos > 0) {
        buf[--pos] = HEX_DIGITS[value & 0xF];
        value >>= 4;
    }
    if (strip) {
        if (pos == 8) {  // nothing significant: zero (or all ones)
            buf[6] = buf[7] = fill ? 'F' : '0';
            return buf + 6;
        }
        return buf + pos;
    }
    while (pos > 0) buf[--pos] = fill ? 'F' : '0';
    return buf;
}

void append_char_escape(Cell* out, u32 cp, bool all) {
    if (cp == 30 || (cp >= 128 && cp <= 159) || (all && cp > 127)) {
        append_c_string(out, "^(");
        append_c_string(out, int_to_hex(i32(cp), true));
        append_char(out, ')');
        return;
    }
    u32 caret = 0;
    if (cp < 32) caret = cp == 9 ? '-' : cp == 10 ? '/' : '@' + cp;
    else if (cp == '"') caret = '"';
    else if (cp == '^') caret = '^';
    else if (cp == 127) caret = '~';
    if (caret) {
        append_char(out, '^');
        append_char(out, caret);
    } else {
        append_char(out, cp);
    }
}

}  // namespace kel::dt
