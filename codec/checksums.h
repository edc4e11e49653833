// CRC-32 (the reflected polynomial 0xEDB88320 that zlib and gzip use) and Adler-32, for the
// stream framings and the `checksum` native. Both continue a running value, so data may come
// in pieces: crc32(b, nb, crc32(a, na)) is the CRC of a followed by b.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kel::codec {

uint32_t crc32(const uint8_t* data, size_t n, uint32_t crc = 0);
uint32_t adler32(const uint8_t* data, size_t n, uint32_t adler = 1);

}  // namespace kel::codec
