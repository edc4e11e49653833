// Digests through libcrypto's EVP interface.
#include "host/crypto.h"

#include <openssl/evp.h>

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

}  // namespace kel::host
