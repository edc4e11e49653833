// Digests through libcrypto's EVP interface (opened on first use).
#include "host/crypto.h"

#include <openssl/evp.h>

#include <cerrno>
#include <mutex>

#include "host/shared_library.h"

namespace kel::host {

namespace {

// libcrypto, bound on the first digest (host/shared_library.h): most programs never take
// one, and loading it cost every start-up a few milliseconds.
struct CryptoApi {
    decltype(&EVP_md5) md5;
    decltype(&EVP_sha1) sha1;
    decltype(&EVP_sha256) sha256;
    decltype(&EVP_sha384) sha384;
    decltype(&EVP_sha512) sha512;
    decltype(&EVP_MD_CTX_new) ctx_new;
    decltype(&EVP_MD_CTX_free) ctx_free;
    decltype(&EVP_DigestInit_ex) init;
    decltype(&EVP_DigestUpdate) update;
    decltype(&EVP_DigestFinal_ex) final;
};
CryptoApi libcrypto;

// Raises internal/not-here when the library is missing.
void bind_crypto() {
    static std::mutex lock;
    static bool bound = false;
    std::lock_guard<std::mutex> hold(lock);
    if (bound) return;
    bind_shared_library("libcrypto.so.3",
                        {{"EVP_md5", &libcrypto.md5}, {"EVP_sha1", &libcrypto.sha1},
                         {"EVP_sha256", &libcrypto.sha256}, {"EVP_sha384", &libcrypto.sha384},
                         {"EVP_sha512", &libcrypto.sha512}, {"EVP_MD_CTX_new", &libcrypto.ctx_new},
                         {"EVP_MD_CTX_free", &libcrypto.ctx_free}, {"EVP_DigestInit_ex", &libcrypto.init},
                         {"EVP_DigestUpdate", &libcrypto.update}, {"EVP_DigestFinal_ex", &libcrypto.final}});
    bound = true;
}

const EVP_MD* digest_algorithm(DigestKind kind) {
    switch (kind) {
        case DigestKind::md5: return libcrypto.md5();
        case DigestKind::sha1: return libcrypto.sha1();
        case DigestKind::sha256: return libcrypto.sha256();
        case DigestKind::sha384: return libcrypto.sha384();
        case DigestKind::sha512: return libcrypto.sha512();
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

Digest::~Digest() {
    // A context exists only once the library is bound.
    if (ctx_) libcrypto.ctx_free(static_cast<EVP_MD_CTX*>(ctx_));
}

bool Digest::begin(DigestKind kind) {
    bind_crypto();
    const EVP_MD* md = digest_algorithm(kind);
    if (!md) return false;
    if (!ctx_) ctx_ = libcrypto.ctx_new();
    if (!ctx_) return false;
    return libcrypto.init(static_cast<EVP_MD_CTX*>(ctx_), md, nullptr) == 1;
}

bool Digest::update(const void* bytes, size_t n) {
    if (!ctx_) return false;
    return n == 0 || libcrypto.update(static_cast<EVP_MD_CTX*>(ctx_), bytes, n) == 1;
}

bool Digest::finish(uint8_t* out) {
    if (!ctx_) return false;
    unsigned int written = 0;
    return libcrypto.final(static_cast<EVP_MD_CTX*>(ctx_), out, &written) == 1;
}

}  // namespace kel::host
