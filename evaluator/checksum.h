// Checksums computed in the runtime (CRC-32, Adler-32, the 16-bit tcp sum) and the digests
// and HMAC behind the `checksum` native. The compression framings (gzip, zlib) use the
// CRC-32 and Adler-32 here too.
#pragma once
#include <cstddef>

#include "codec/checksums.h"
#include "runtime/types.h"

namespace kel::ev {

// CRC-32 and Adler-32 as zlib computes them (the codec's, shared with the stream framings).
inline u32 checksum_crc32(const u8* bytes, size_t n) { return codec::crc32(bytes, n); }
inline u32 checksum_adler32(const u8* bytes, size_t n) { return codec::adler32(bytes, n); }

// The 16-bit ones' complement sum of big-endian byte pairs; a final odd byte counts as a
// low-order value.
u32 checksum_tcp(const u8* bytes, size_t n);

// Digest kinds: 2 md5, 3 sha1, 4 sha256, 5 sha384, 6 sha512 (0 tcp and 1 crc32 name the
// sums). hash_size answers the digest's bytes, 0 for another kind.
u32 hash_size(i32 kind);
// The digest of the bytes into `out` (room for 64); another kind raises script/invalid-arg,
// a failing digest step internal/feature-na.
void crypto_hash(const u8* bytes, size_t n, i32 kind, u8* out);
// HMAC (RFC 2104) over the digest of `kind`, into `out` (room for 64).
void hmac_compute(const u8* data, size_t n, const u8* key, size_t key_n, i32 kind, u8* out);

}  // namespace kel::ev
