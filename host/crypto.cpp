// Digests through libcrypto's EVP interface; secure random bytes through getrandom.
#include "host/crypto.h"

#include <openssl/evp.h>
#include <sys/random.h>

#include <cerrno>

namespace kel::host {

namespace {

const EVP_MD* digest_algorithm(DigestKind kind) {
    switch (kind) {
        case DigestKind::md5: return EVP_md5();
        case DigestKind::sha1: return EVP_sha1();
        case DigestKind::sha256: return EVP_sha256();
        case DigestKind::sha384: return EVP_sha384();
        case DigestKind::sha512: return EVP_sha512();
    }
    return nullptr;
}

}  // namespace

size_t digest_size(DigestKind kind) {
    switch (kind) {
        case DigestKind::md5: return 16;
        case DigestKind::sha1: return 20;
        case DigestKind::sha256: return 32;
        case DigestKind::sha384: return 48;
        case DigestKind::sha512: return 64;
    }
    return 0;
}

Digest::~Digest() { EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(ctx_)); }

bool Digest::begin(DigestKind kind) {
    const EVP_MD* md = digest_algorithm(kind);
    if (!md) return false;
    if (!ctx_) ctx_ = EVP_MD_CTX_new();
    if (!ctx_) return false;
    return EVP_DigestInit_ex(static_cast<EVP_MD_CTX*>(ctx_), md, nullptr) == 1;
}

bool Digest::update(const void* bytes, size_t n) {
    if (!ctx_) return false;
    return n == 0 || EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(ctx_), bytes, n) == 1;
}

bool Digest::finish(uint8_t* out) {
    if (!ctx_) return false;
    unsigned int written = 0;
    return EVP_DigestFinal_ex(static_cast<EVP_MD_CTX*>(ctx_), out, &written) == 1;
}

bool secure_random_bytes(void* out, size_t n) {
    auto* p = static_cast<uint8_t*>(out);
    while (n > 0) {
        ssize_t got = getrandom(p, n, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += got;
        n -= size_t(got);
    }
    return true;
}

}  // namespace kel::host
