// Building string! values of a chosen unit width, and reading them back, for tests of the
// Unicode and console layers.
#pragma once
#include <cstring>
#include <string>

#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kel::test {

// A string! on the argument stack holding `text` in units of `unit` bytes.
inline Cell* push_text(u32 unit, const std::u32string& text, TypeId type = T_STRING) {
    Node n = rt::alloc_codepoints(u32(text.size()), unit);
    rt::SeriesBuffer* b = rt::buffer_of(n);
    u8* p = rt::at(b->offset);
    for (size_t i = 0; i < text.size(); ++i) {
        u32 cp = text[i];
        std::memcpy(p + i * unit, &cp, unit);  // little-endian: the low bytes
    }
    b->tail = b->offset + u32(text.size()) * unit;
    Cell* c = rt::stack_push_slot();
    set_cell(c, type, 0, n, 0);
    return c;
}

// The code points of a series node's buffer from its first used unit.
inline std::u32string node_text(Node n) {
    rt::SeriesBuffer* b = rt::buffer_of(n);
    std::u32string out;
    u32 count = (b->tail - b->offset) / b->unit();
    for (u32 i = 0; i < count; ++i) out += char32_t(rt::unit_char_at(rt::at(b->offset), b->unit(), i));
    return out;
}

inline u32 node_unit(Node n) { return rt::buffer_of(n)->unit(); }

// The bytes of a binary! (or any byte series) value from its head.
inline std::string binary_bytes(const Cell* c) {
    rt::SeriesBuffer* b = rt::buffer_of(series_node(c));
    return std::string(reinterpret_cast<const char*>(rt::at(b->offset)) + series_head(c), b->tail - b->offset - series_head(c));
}

}  // namespace kel::test
