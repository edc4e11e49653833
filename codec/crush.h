// crush: the system's own LZ77 format (bytes in, bytes out).
//
// Stream: packed size and unpacked size (int32, little-endian), then chunks of at most
// 1 MiB of output, each an int32 length followed by its bit stream (bits least significant
// first). A symbol is a literal (bit 0, 8 bits) or a match (bit 1, a length code for
// 3-566 bytes, a distance code for 1-262,144 bytes back within the chunk).
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kel::codec {

enum class CrushError {
    none = 0,
    too_short,         // compress: fewer than 128 bytes
    no_gain,           // compress: the stream would not be smaller than the input
    too_large,         // the size passes the format's int32 fields or the caller's limit
    truncated,         // the stream ends before its header, a chunk or a symbol does
    bad_header,        // a negative size, or an unpacked size no stream of that length can give
    bad_chunk_length,  // a chunk length outside 1-1,048,576 or beyond the unpacked size
    bad_match,         // a match reaching before its chunk or past its chunk's end
    size_mismatch,     // the chunks do not add up to the unpacked size
};

// What went wrong, in a few words.
const char* crush_error_text(CrushError e);

constexpr size_t kCrushChunk = 1u << 20;
// A match of 566 bytes costs 22 bits: no stream can expand further than this per byte.
constexpr uint64_t kCrushMaxExpansion = 206;

// Compresses `data` into `out` (replaced). Refuses inputs under 128 bytes and output that
// would not fit in n - 8 bytes after the 8-byte header, leaving `out` empty.
CrushError crush_compress(const uint8_t* data, size_t n, std::vector<uint8_t>& out);

// Decompresses the whole stream `in` of n bytes into `out` (replaced; empty on failure).
// The header's unpacked size is refused beyond `limit` and beyond what the packed size can
// expand to; bytes after the packed area are ignored.
CrushError crush_decompress(const uint8_t* in, size_t n, std::vector<uint8_t>& out,
                            size_t limit = size_t(0x7FFFFFFF));

}  // namespace kel::codec
