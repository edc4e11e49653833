// Series primitives: appending at a buffer's tail with growth, copying parts, and the
// runtime's own growable arrays of bytes, 32-bit integers and pointers (offsets).
//
// Every operation that may grow a buffer may move it: re-read buffers through their
// nodes afterwards.
#pragma once
#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::rt {

// buffer-alloc-tail: a new unset cell at the tail (the buffer doubles when full).
Cell* buffer_alloc_tail(SeriesBuffer*& b);
// block-alloc-tail: the same on the buffer of a block value's node.
Cell* block_alloc_tail(Node block);
// buffer-reserve: moves the tail by n bytes (growing first) and answers the old tail.
u8* buffer_reserve(SeriesBuffer*& b, u32 n);
// copy-series-part: n units from unit i into a new node (flags without the owned bit).
Node copy_series_part(Node node, u32 i, u32 n);

// Unit series (1-based indexes unless said otherwise).
Node make_unit_series(u32 n, u32 width);
inline u32 series_length(Node n) {
    SeriesBuffer* b = buffer_of(n);
    return (b->tail - b->offset) >> unit_shift(b->unit());
}
inline void series_clear(Node n) { buffer_of(n)->tail = buffer_of(n)->offset; }
inline void series_set_length(Node n, u32 len) {
    SeriesBuffer* b = buffer_of(n);
    b->tail = b->offset + ((len - 1) << unit_shift(b->unit()));
}
inline Node series_copy_node(Node n) { return copy_series_buffer(buffer_of(n)); }
inline u32 series_flags(Node n) { return buffer_of(n)->flags; }
void series_append_byte(Node n, u8 byte);
inline u8 series_byte_at(Node n, u32 i) { return at(buffer_of(n)->offset)[i - 1]; }
void series_append_bytes(Node n, const void* src, u32 count);
void series_append_int(Node n, u32 value);
i32 series_find_int(Node n, u32 value);
inline u32 series_int_at(Node n, u32 i) { return at<u32>(buffer_of(n)->offset)[i - 1]; }
inline void series_append_ptr(Node n, Off p) { series_append_int(n, p); }
void series_insert_int_at(Node n, u32 value, u32 index0);
inline i32 series_find_ptr(Node n, Off p) { return series_find_int(n, p); }
inline Off series_ptr_at(Node n, u32 i) { return series_int_at(n, i); }
inline void series_poke_int(Node n, u32 i, u32 value) { at<u32>(buffer_of(n)->offset)[i - 1] = value; }
void series_remove_ptr(Node n, Off p);
void series_remove_at(Node n, u32 byte_offset, u32 count);

}  // namespace kel::rt
