// Series primitives.
#include "runtime/series.h"

#include <cstring>

namespace kel::rt {

Cell* buffer_alloc_tail(SeriesBuffer*& b) {
    if (b->tail >= b->data_end()) b = expand_series(b, 0);
    Cell* c = at<Cell>(b->tail);
    c->header = T_UNSET;
    b->tail += sizeof(Cell);
    return c;
}

Cell* block_alloc_tail(Node block) {
    SeriesBuffer* b = buffer_of(block);
    return buffer_alloc_tail(b);
}

u8* buffer_reserve(SeriesBuffer*& b, u32 n) {
    if (u64(b->tail) + n > b->data_end()) b = expand_series(b, n > b->size ? i64(n) * 2 : 0);
    // Doubling may still be short when the head room eats into the data area.
    while (u64(b->tail) + n > b->data_end()) b = expand_series(b, i64(b->size) * 2);
    u8* old = at(b->tail);
    b->tail += n;
    return old;
}

Node copy_series_part(Node node, u32 i, u32 n) {
    u32 w = buffer_of(node)->unit();
    Node copy = alloc_bytes(n * w);
    SeriesBuffer* src = buffer_of(node);
    SeriesBuffer* dst = buffer_of(copy);
    dst->flags = (src->flags & ~(SB_OWNED | SB_BIG | SB_FIXED | SB_MARK | SB_HEAD_ROOM)) |
                 (dst->flags & (SB_BIG | SB_IN_USE | SB_ALLOCATED));
    std::memcpy(at(dst->offset), at(src->offset) + size_t(i) * w, size_t(n) * w);
    dst->tail = dst->offset + n * w;
    return copy;
}

Node make_unit_series(u32 n, u32 width) {
    Node node = alloc_bytes(n * width);
    SeriesBuffer* b = buffer_of(node);
    b->flags = (b->flags & ~SB_UNIT_MASK) | width;
    return node;
}

void series_append_byte(Node n, u8 byte) {
    SeriesBuffer* b = buffer_of(n);
    *buffer_reserve(b, 1) = byte;
}

void series_append_bytes(Node n, const void* src, u32 count) {
    if (count == 0) return;  // an empty source may be null, which memcpy must not see
    SeriesBuffer* b = buffer_of(n);
    // The source may lie in the buffer being grown: copy it aside first when it does.
    const u8* s = static_cast<const u8*>(src);
    if (in_arena(s) && s >= b->data() && s < b->data() + b->size + 4) {
        u8* tmp = new u8[count];
        std::memcpy(tmp, s, count);
        std::memcpy(buffer_reserve(b, count), tmp, count);
        delete[] tmp;
        return;
    }
    std::memcpy(buffer_reserve(b, count), s, count);
}

void series_append_int(Node n, u32 value) {
    SeriesBuffer* b = buffer_of(n);
    std::memcpy(buffer_reserve(b, 4), &value, 4);
}

i32 series_find_int(Node n, u32 value) {
    SeriesBuffer* b = buffer_of(n);
    const u32* p = at<u32>(b->offset);
    u32 count = (b->tail - b->offset) / 4;
    for (u32 i = 0; i < count; ++i)
        if (p[i] == value) return i32(i * 4);
    return -1;
}

void series_insert_int_at(Node n, u32 value, u32 index0) {
    SeriesBuffer* b = buffer_of(n);
    if (b->data_end() - b->tail < 4) b = expand_series(b, 0);
    u32* p = at<u32>(b->offset);
    u32 count = (b->tail - b->offset) / 4;
    std::memmove(p + index0 + 1, p + index0, (count - index0) * 4);
    p[index0] = value;
    b->tail += 4;
}

void series_remove_ptr(Node n, Off p) {
    i32 at_byte = series_find_int(n, p);
    if (at_byte >= 0) series_remove_at(n, u32(at_byte), 4);
}

void series_remove_at(Node n, u32 byte_offset, u32 count) {
    SeriesBuffer* b = buffer_of(n);
    u8* start = at(b->offset) + byte_offset;
    u8* tail = at(b->tail);
    std::memmove(start, start + count, size_t(tail - start - count));
    b->tail -= count;
}

}  // namespace kel::rt
