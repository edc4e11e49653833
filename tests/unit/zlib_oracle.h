// zlib as the oracle of the DEFLATE tests (unit tests and the inflate fuzz target): the
// product never links it.
#pragma once
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace codec_test {

// zlib's reading of a raw (window bits -15), zlib (15) or gzip (31) stream; true only when
// the stream ends exactly at the end of the input and gives at most max_out bytes.
inline bool zlib_inflate(const std::vector<uint8_t>& in, int window_bits, std::vector<uint8_t>& out,
                         size_t max_out = SIZE_MAX) {
    z_stream z{};
    if (inflateInit2(&z, window_bits) != Z_OK) return false;
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = uInt(in.size());
    out.clear();
    uint8_t buf[65536];
    int r;
    do {
        z.next_out = buf;
        z.avail_out = sizeof buf;
        r = inflate(&z, Z_NO_FLUSH);
        out.insert(out.end(), buf, buf + (sizeof buf - z.avail_out));
        if (out.size() > max_out) r = Z_MEM_ERROR;
    } while (r == Z_OK);
    inflateEnd(&z);
    return r == Z_STREAM_END && z.avail_in == 0;
}

}  // namespace codec_test
