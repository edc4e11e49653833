// libFuzzer target for the inflater: the first byte picks the framing (raw, zlib, gzip),
// the rest is the stream.
//     build-fuzz/tests/fuzz/inflate_fuzz -max_len=4096 corpus
//
// Whatever the input, decoding must stay inside its buffers and end. When zlib accepts the
// whole raw or zlib stream, our inflater must accept it too and give the same bytes. Every
// success, and the input itself taken as data, must survive a round trip through our
// compressor.
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "codec/deflate.h"

namespace {

using kel::codec::Framing;
using kel::codec::InflateStatus;

void check(bool ok) {
    if (!ok) std::abort();
}

// zlib's reading of a raw (window bits -15) or zlib (15) stream; true only when the stream
// ends exactly at the end of the input.
bool zlib_oracle(const uint8_t* in, size_t n, int window_bits, std::vector<uint8_t>& out) {
    z_stream z{};
    if (inflateInit2(&z, window_bits) != Z_OK) return false;
    z.next_in = const_cast<Bytef*>(in);
    z.avail_in = uInt(n);
    out.clear();
    uint8_t buf[65536];
    int r;
    do {
        z.next_out = buf;
        z.avail_out = sizeof buf;
        r = inflate(&z, Z_NO_FLUSH);
        out.insert(out.end(), buf, buf + (sizeof buf - z.avail_out));
        if (out.size() > (64u << 20)) r = Z_MEM_ERROR;
    } while (r == Z_OK);
    bool ok = r == Z_STREAM_END && z.avail_in == 0;
    inflateEnd(&z);
    return ok;
}

void round_trip(Framing f, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> packed = kel::codec::compress(f, data.data(), data.size()), back;
    check(kel::codec::decompress(f, packed.data(), packed.size(), back) == InflateStatus::ok);
    check(back == data);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    Framing f = Framing(data[0] % 3);
    const uint8_t* in = data + 1;
    size_t n = size - 1;
    std::vector<uint8_t> out, expected;
    // A small limit keeps runs fast; it is part of what is tested.
    InflateStatus s = kel::codec::decompress(f, in, n, out, 0, 16u << 20);
    if (f != Framing::gzip && zlib_oracle(in, n, f == Framing::raw ? -15 : 15, expected) &&
        expected.size() <= (16u << 20)) {
        check(s == InflateStatus::ok);
        check(out == expected);
    }
    if (s == InflateStatus::ok) round_trip(f, out);
    round_trip(f, std::vector<uint8_t>(in, in + n));
    return 0;
}
