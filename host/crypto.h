// The system's cryptographic services: message digests (through OpenSSL's libcrypto).
// Plain C++ types only, so that the evaluator reaches them without OS or library headers.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kel::host {

// The digest algorithms, numbered as the checksum code counts them.
enum class DigestKind : int { md5 = 2, sha1 = 3, sha256 = 4, sha384 = 5, sha512 = 6 };

constexpr size_t DIGEST_MAX_SIZE = 64;

// A digest computed in pieces. Every step reports failure instead of going on with a
// half-made state; the caller decides what a failure means.
class Digest {
public:
    Digest() = default;
    ~Digest();
    Digest(const Digest&) = delete;
    Digest& operator=(const Digest&) = delete;
    bool begin(DigestKind kind);
    bool update(const void* bytes, size_t n);
    // Writes the digest (digest_size(kind) bytes) into `out`.
    bool finish(uint8_t* out);

private:
    void* ctx_ = nullptr;
};

// Bytes in a digest of this kind: 16, 20, 32, 48 or 64.
size_t digest_size(DigestKind kind);

}  // namespace kel::host
