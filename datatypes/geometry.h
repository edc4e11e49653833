// pair!, point2D!, point3D!, tuple!, vector! and triple!: the cell makers and the arithmetic
// entries that the number datatypes and the lexer reach.
//
// Cell layouts (images, the serialiser and the GUI read them directly):
//   pair!     data2 x, data3 y (int32)
//   point2D!  data1 x, data2 y (float32)        point3D!  data1-3 x, y, z (float32)
//   tuple!    header bits 19-22 the length (3-12), data1-3 the bytes, byte 1 lowest
//   vector!   the string! cell, data3 the element type (char!, integer!, float!, percent!)
//   triple!   data1-3 three int32
#pragma once
#include <cstring>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::dt {

// ---- pair! ------------------------------------------------------------------------------

inline i32 pair_x(const Cell* c) { return i32(c->data2); }
inline i32 pair_y(const Cell* c) { return i32(c->data3); }
Cell* make_pair_at(Cell* c, i32 x, i32 y);
Cell* push_pair(i32 x, i32 y);
// pair/do-math: operands in the first two argument slots, the pair first.
void pair_do_math(i32 code);

// ---- point2D!, point3D! -----------------------------------------------------------------

inline float point_component(const Cell* c, i32 i) {
    float f;
    std::memcpy(&f, &c->data1 + i, sizeof f);
    return f;
}
inline void set_point_component(Cell* c, i32 i, float f) { std::memcpy(&c->data1 + i, &f, sizeof f); }
Cell* make_point2d_at(Cell* c, float x, float y);
Cell* make_point3d_at(Cell* c, float x, float y, float z);
Cell* push_point2d(float x, float y);
Cell* push_point3d(float x, float y, float z);
// A pair cell turned into the point2D! of the same coordinates, in place.
void pair_to_point2d(Cell* c);
// point2D/do-math and point3D/do-math: operands in the first two argument slots, the point
// first; the result replaces the first.
void point_do_math(i32 code);
// The point comparison (a pair! operand compares as a point2D!).
i32 point_compare(Cell* v1, Cell* v2, i32 op);

// ---- tuple! -----------------------------------------------------------------------------

constexpr u32 TUPLE_LENGTH_SHIFT = 19;
constexpr u32 TUPLE_LENGTH_MASK = 0xFu << TUPLE_LENGTH_SHIFT;
inline u32 tuple_length(const Cell* c) { return (c->header & TUPLE_LENGTH_MASK) >> TUPLE_LENGTH_SHIFT; }
inline u8* tuple_bytes(Cell* c) { return reinterpret_cast<u8*>(&c->data1); }
inline const u8* tuple_bytes(const Cell* c) { return reinterpret_cast<const u8*>(&c->data1); }
// A tuple of `count` bytes (3 to 12), the header flags other than the length kept.
Cell* make_tuple_at(Cell* c, const u8* bytes, u32 count);
// tuple/do-math: operands in the first two argument slots (either may be the tuple).
void tuple_do_math(i32 code);
bool tuple_zero_q(const Cell* c);

// ---- mixed operands ------------------------------------------------------------------------

// integer!/float! left with a pair, point or tuple right: the operands change places (the
// number becomes the right operand, keeping its type) and the compound's arithmetic runs.
void compound_math_swapped(i32 code);
// vector! right operand of integer!/char!/float! arithmetic: the vector's elements change in
// place with the number, and the vector becomes the result in the first slot.
void vector_math_scalar_left(i32 code);


// A word selector matching one of the component names (x, y, z), case-insensitively; -1 else.
i32 component_word_index(const Cell* word, i32 count);

}  // namespace kel::dt
