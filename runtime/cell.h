// Value cells.
//
// Every value of the language is a 16-byte cell of four 32-bit words:
//
//   header  bits 0-7   type id (TypeId)
//           bits 8-31  flags owned by the type; 0x40000000 = a line break stands before the value
//   data1, data2, data3  payload whose meaning each datatype fixes, for example:
//     logic!      data1 = 1 for true (anything else reads as false)
//     integer!    data2 = value (signed 32-bit); char! data2 = code point
//     float!      data2..data3 = IEEE double, low word first (also percent!, time!)
//     series      data1 = head index (signed), data2 = node, data3 = type-specific
//     word kinds  data1 = context node, data2 = symbol id, data3 = index in context (-1 unknown)
//
// Cells hold arena offsets (nodes), never host pointers, so they stay valid when the
// collector moves buffers. Cells inside series buffers are only 4-byte aligned: read doubles
// through get_float/set_float, never through a double*.
#pragma once
#include <cstring>

#include "runtime/types.h"

namespace kel {

struct Cell {
    u32 header;
    u32 data1;
    u32 data2;
    u32 data3;
};
static_assert(sizeof(Cell) == 16, "a value cell is 16 bytes");

constexpr u32 CELL_NEW_LINE = 0x40000000;
constexpr u32 CELL_TYPE_MASK = 0xFF;

inline TypeId type_of(const Cell* c) { return TypeId(c->header & CELL_TYPE_MASK); }
inline bool is_type(const Cell* c, TypeId t) { return type_of(c) == t; }

// set-cell-type: replace the type id, keep the flags.
inline void set_cell_type(Cell* c, u32 type) { c->header = (c->header & ~CELL_TYPE_MASK) | type; }
// clear-cell-flag: forget the line-break mark.
inline void clear_cell_flag(Cell* c) { c->header &= ~CELL_NEW_LINE; }

// copy-cell: four words; a copy onto itself is skipped.
inline Cell* copy_cell(const Cell* src, Cell* dst) {
    if (src != dst) *dst = *src;
    return dst;
}

inline void set_header(Cell* c, u32 header) { c->header = header; }
inline void set_cell(Cell* c, u32 header, u32 d1 = 0, u32 d2 = 0, u32 d3 = 0) {
    c->header = header;
    c->data1 = d1;
    c->data2 = d2;
    c->data3 = d3;
}

inline double get_float(const Cell* c) {
    double d;
    std::memcpy(&d, &c->data2, sizeof d);
    return d;
}
inline void set_float_payload(Cell* c, double d) { std::memcpy(&c->data2, &d, sizeof d); }

inline i32 get_int(const Cell* c) { return i32(c->data2); }
inline void set_int_payload(Cell* c, i32 v) { c->data2 = u32(v); }

// Series cells.
inline i32 series_head(const Cell* c) { return i32(c->data1); }
inline Node series_node(const Cell* c) { return c->data2; }

// Words.
inline Node word_context(const Cell* c) { return c->data1; }
inline u32 word_symbol(const Cell* c) { return c->data2; }
inline i32 word_index(const Cell* c) { return i32(c->data3); }

}  // namespace kel
