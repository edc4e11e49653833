// libFuzzer target for the crush decoder.
//     build-fuzz/tests/fuzz/crush_fuzz -max_len=4096 corpus
//
// Whatever the input, decoding must stay inside its buffers and end. A decoded stream, and
// the input itself taken as data, must come back unchanged through the encoder and the
// decoder whenever the encoder accepts them.
#include <cstdlib>
#include <vector>

#include "codec/crush.h"

namespace {

using kel::codec::CrushError;

void check(bool ok) {
    if (!ok) std::abort();
}

void round_trip(const std::vector<uint8_t>& data) {
    std::vector<uint8_t> packed, back;
    CrushError e = kel::codec::crush_compress(data.data(), data.size(), packed);
    if (e != CrushError::none) {
        check(packed.empty() && (e == CrushError::too_short || e == CrushError::no_gain));
        check(data.size() >= 128 || e == CrushError::too_short);
        return;
    }
    check(packed.size() <= data.size());
    check(kel::codec::crush_decompress(packed.data(), packed.size(), back) == CrushError::none);
    check(back == data);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> out;
    CrushError e = kel::codec::crush_decompress(data, size, out, 64u << 20);
    if (e == CrushError::none) round_trip(out);
    else check(out.empty());
    round_trip(std::vector<uint8_t>(data, data + size));
    return 0;
}
