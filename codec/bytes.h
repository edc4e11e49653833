// Byte-level helpers the codecs share: unaligned little-endian loads and stores, and the
// length of a common run.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kel::codec {

inline uint64_t load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;  // little-endian host
}
inline void store64(uint8_t* p, uint64_t v) { std::memcpy(p, &v, 8); }
inline uint32_t load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

inline uint32_t get_le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline void put_le32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v), p[1] = uint8_t(v >> 8), p[2] = uint8_t(v >> 16), p[3] = uint8_t(v >> 24);
}

// How far a and b agree from `start`, at most `max`; eight bytes a step.
inline size_t common_length(const uint8_t* a, const uint8_t* b, size_t start, size_t max) {
    size_t len = start;
    while (len + 8 <= max) {
        uint64_t diff = load64(a + len) ^ load64(b + len);
        if (diff) return len + (__builtin_ctzll(diff) >> 3);
        len += 8;
    }
    while (len < max && a[len] == b[len]) ++len;
    return len;
}

}  // namespace kel::codec
