// libFuzzer target for the inflater: the first byte picks the framing (raw, zlib, gzip),
// the rest is the stream.
//     build-fuzz/tests/fuzz/inflate_fuzz -max_len=4096 corpus
//
// Whatever the input, decoding must stay inside its buffers and end. When zlib accepts the
// whole raw or zlib stream, our inflater must accept it too and give the same bytes. Every
// success, and the input itself taken as data, must survive a round trip through our
// compressor.
#include <cstdlib>
#include <vector>

#include "codec/deflate.h"
#include "tests/unit/zlib_oracle.h"

namespace {

using kel::codec::Framing;
using kel::codec::InflateStatus;

void check(bool ok) {
    if (!ok) std::abort();
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
    std::vector<uint8_t> stream(in, in + n);
    if (f != Framing::gzip && codec_test::zlib_inflate(stream, f == Framing::raw ? -15 : 15, expected, 16u << 20)) {
        check(s == InflateStatus::ok);
        check(out == expected);
    }
    if (s == InflateStatus::ok) round_trip(f, out);
    round_trip(f, stream);
    return 0;
}
