// DEFLATE (RFC 1951) with the zlib (RFC 1950) and gzip (RFC 1952) framings.
//
// The compressor writes one final block with the fixed Huffman codes and a first-fit match
// search over a 1,024 x 4 bucket table, so its bytes are fully determined by the input.
// The inflater reads every block type. Sizes from the caller or from a gzip trailer are
// only hints: the output grows as the stream demands, up to a limit, and a stream that
// ends early, reads past its input or fails a check is bad data.
#pragma once
#include "codec/checksums.h"
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kel::codec {

enum class Framing { raw, zlib, gzip };

enum class InflateStatus {
    ok = 0,
    bad_data = 2,        // framing, check value, truncated stream, bad code or NLEN
    stored_overrun = 3,  // a stored block is longer than the input left
    bad_block_type = 4,  // block type 3
    bad_distance = 5,    // a distance reaches before the start of the output
    too_large = 6,       // the output would pass the caller's limit
};

// The largest output a caller may ask of inflate by default: far above any series size the
// runtime can hold, so only the runtime's own limit applies.
constexpr size_t kInflateDefaultLimit = size_t(1) << 32;

// Compressed bytes; never fails. The output of deflate_compress is at most
// n * 9 / 8 + 8 bytes; the framings add 6 (zlib) or 18 (gzip).
std::vector<uint8_t> deflate_compress(const uint8_t* data, size_t n);
std::vector<uint8_t> zlib_compress(const uint8_t* data, size_t n);
std::vector<uint8_t> gzip_compress(const uint8_t* data, size_t n);
std::vector<uint8_t> compress(Framing f, const uint8_t* data, size_t n);

// Decompresses `in` into `out` (replaced). `size_hint` (0 = none; the gzip trailer's size
// is used when there is none) only pre-sizes the output, and never beyond what the input
// could expand to. `limit` caps the output size.
InflateStatus decompress(Framing f, const uint8_t* in, size_t n, std::vector<uint8_t>& out,
                         size_t size_hint = 0, size_t limit = kInflateDefaultLimit);

}  // namespace kel::codec
