// Checksums, digests and HMAC, and the `checksum` native.
#include "evaluator/checksum.h"

#include <cstring>
#include <vector>

#include "datatypes/binary.h"
#include "evaluator/actions.h"
#include "evaluator/interpreter.h"
#include "host/crypto.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/symbols.h"
#include "runtime/unicode.h"

namespace kel::ev {

using namespace rt;

namespace {

// ---- digests ------------------------------------------------------------------------------

host::DigestKind digest_kind(i32 kind) {
    if (kind < 2 || kind > 6) {
        Cell k;
        set_cell(&k, T_INTEGER, 0, u32(kind));
        raise_error(Err::script_invalid_arg, &k);
    }
    return host::DigestKind(kind);
}

// One digest over up to two pieces (HMAC hashes a pad followed by data).
void digest_pieces(i32 kind, const u8* a, size_t an, const u8* b, size_t bn, u8* out) {
    host::DigestKind k = digest_kind(kind);
    host::Digest d;
    if (!d.begin(k) || !d.update(a, an) || !d.update(b, bn) || !d.finish(out))
        raise_error(Err::internal_feature_na);
}

}  // namespace


u32 checksum_tcp(const u8* p, size_t n) {
    // A 64-bit sum keeps the carries of long data, which a 32-bit one would drop.
    u64 sum = 0;
    size_t i = 0;
    for (; i + 1 < n; i += 2) sum += u32(p[i]) << 8 | p[i + 1];
    if (i < n) sum += p[i];
    while (sum >> 16) sum = (sum >> 16) + (sum & 0xFFFF);
    return u32(~sum) & 0xFFFF;
}

u32 hash_size(i32 kind) {
    static const u32 sizes[] = {0, 0, 16, 20, 32, 48, 64};
    return kind >= 0 && kind <= 6 ? sizes[kind] : 0;
}

void crypto_hash(const u8* bytes, size_t n, i32 kind, u8* out) { digest_pieces(kind, bytes, n, nullptr, 0, out); }

void hmac_compute(const u8* data, size_t n, const u8* key, size_t key_n, i32 kind, u8* out) {
    size_t block = kind == 5 || kind == 6 ? 128 : 64;
    size_t size = hash_size(kind);
    u8 hashed_key[host::DIGEST_MAX_SIZE];
    if (key_n > block) {
        crypto_hash(key, key_n, kind, hashed_key);
        key = hashed_key;
        key_n = size;
    }
    u8 inner_pad[128] = {}, outer_pad[128] = {};
    if (key_n) {
        std::memcpy(inner_pad, key, key_n);
        std::memcpy(outer_pad, key, key_n);
    }
    for (size_t i = 0; i < block; ++i) {
        inner_pad[i] ^= 0x36;
        outer_pad[i] ^= 0x5C;
    }
    u8 inner[host::DIGEST_MAX_SIZE];
    digest_pieces(kind, inner_pad, block, data, n, inner);
    digest_pieces(kind, outer_pad, block, inner, size, out);
}

// ---- the checksum native ---------------------------------------------------------------------

namespace {

enum Method : i32 { M_TCP, M_CRC32, M_MD5, M_SHA1, M_SHA256, M_SHA384, M_SHA512, M_ADLER32, M_HASH, M_COUNT };

// The method words, interned on first use and compared through their case-folded names.
i32 method_of(const Cell* word) {
    static const char* const names[M_COUNT] = {"tcp", "crc32", "md5", "sha1", "sha256", "sha384", "sha512",
                                               "adler32", "hash"};
    static u32 symbols[M_COUNT] = {};
    if (!symbols[0])
        for (i32 m = 0; m < M_COUNT; ++m) symbols[m] = resolve_symbol_alias(make_symbol(names[m]));
    u32 s = resolve_symbol_alias(word_symbol(word));
    for (i32 m = 0; m < M_COUNT; ++m)
        if (symbols[m] == s) return m;
    return -1;
}

// The bytes of a key: its UTF-8 for text, copied out so that later conversions cannot move them.
std::vector<u8> key_bytes(Cell* key) {
    if (type_of(key) == T_BINARY) return dt::binary_bytes(key);
    i32 length = -1;
    const char* text = string_to_utf8(key, &length);
    return std::vector<u8>(text, text + length);
}

Status checksum_native(bool, const i32* refs) {
    Cell* data = stack_arg(0);
    Cell* method_word = stack_arg(1);
    Cell* spec = refinement_arg(refs, 0);
    u32 t = type_of(data);
    if (t != T_BINARY && t != T_STRING && t != T_FILE) raise_error(Err::script_invalid_arg, data);
    i32 method = method_of(method_word);
    if (method < 0) raise_error(Err::script_invalid_arg, method_word);
    bool sum = method == M_CRC32 || method == M_TCP || method == M_ADLER32;
    const Cell* with = &g_refinement_words[REF_WITH];
    if (spec && sum) raise_error(Err::script_invalid_refine_arg, with, method_word);
    if (!spec && method == M_HASH) raise_error(Err::script_invalid_refine_arg, with, method_word);
    std::vector<u8> key;
    if (spec) {
        u32 st = type_of(spec);
        // The table hash of a given size is not built.
        if (st == T_INTEGER) raise_error(Err::internal_not_done);
        if (st != T_BINARY && st != T_STRING) raise_error(Err::script_invalid_arg, spec);
        if (method == M_HASH) raise_error(Err::script_invalid_refine_arg, with, method_word);
        key = key_bytes(spec);
    }
    if (t == T_FILE) {
        // The file's content, held in the data slot while it is summed.
        Cell* content = dispatch<A_READ>(data, nullptr, nullptr, true, false, false, nullptr);
        *data = *content;
        if (type_of(data) != T_BINARY) raise_error(Err::script_invalid_arg, stack_arg(0));
        t = T_BINARY;
    }
    // Nothing allocates from here on, so the bytes stay where they are.
    const u8* bytes;
    size_t n;
    if (t == T_BINARY) {
        bytes = dt::binary_head_ptr(data);
        n = dt::binary_length(data);
    } else {
        i32 length = -1;
        bytes = reinterpret_cast<const u8*>(string_to_utf8(data, &length));
        n = size_t(length);
    }
    Cell* result = stack_result();
    if (sum) {
        u32 v = method == M_CRC32 ? checksum_crc32(bytes, n)
                : method == M_TCP ? checksum_tcp(bytes, n)
                                  : checksum_adler32(bytes, n);
        set_cell(result, T_INTEGER, 0, v);
        return 0;
    }
    u8 digest[host::DIGEST_MAX_SIZE];
    if (spec) hmac_compute(bytes, n, key.data(), key.size(), method, digest);
    else crypto_hash(bytes, n, method, digest);
    dt::binary_append_bytes(dt::make_binary_at(result, hash_size(method)), digest, hash_size(method));
    return 0;
}

}  // namespace

KEL_NATIVE(87, checksum_native);

}  // namespace kel::ev
