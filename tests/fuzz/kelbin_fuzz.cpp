// libFuzzer target for the KELBIN decoder, both record forms: built with -DKEL_FUZZ=ON under
// clang.
//     build-fuzz/tests/fuzz/kelbin_fuzz -max_len=512 -dict=tests/fuzz/kelbin.dict corpus
//
// The input's first byte picks the header flags (compact or standard records, with or
// without a symbol table); the rest is the body after the header. Whatever decodes is
// encoded again in both forms, and each encoding must decode.
#include <cstdlib>
#include <vector>

#include "codec/kelbin.h"
#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "fuzz_boot.h"
#include "runtime/exits.h"
#include "runtime/stack.h"

namespace {

using namespace kel;

using fuzz::guarded;

void decode_and_back(const std::vector<u8>& bytes) {
    guarded([&] {
        Cell* out = dt::push_new_block(4);
        codec::kelbin_decode(bytes.data(), bytes.size(), out, out);
        for (bool compact : {true, false}) {
            Cell* bin = codec::kelbin_encode(out, compact);
            Cell* again = dt::push_new_block(4);
            // A decoded value always encodes and decodes again.
            if (!guarded([&] { codec::kelbin_decode(dt::binary_head_ptr(bin), dt::binary_length(bin), again, bin); }))
                std::abort();
        }
    });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::boot_runtime_once();
    if (size < 1) return 0;
    static const u8 flags[4] = {codec::KB_COMPACT, codec::KB_COMPACT | codec::KB_SYMBOLS, 0, codec::KB_SYMBOLS};
    std::vector<u8> bytes = {'K', 'E', 'L', 'B', 'I', 'N', 2, flags[data[0] & 3]};
    bytes.insert(bytes.end(), data + 1, data + size);
    decode_and_back(bytes);
    return 0;
}
