// Base-2, base-16, base-58 and base-64 encoders and decoders (see base_codec.h).
#include "runtime/base_codec.h"

#include <algorithm>
#include <cstring>

namespace kel::rt {

using i8 = signed char;

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kBase58Alphabet[] = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";

// Character classes of the decoders' tables (values 0-63 are digits).
constexpr i8 BAD = -1, SKIP = -2, COMMENT = -3, PAD = -4;

// Indexed by a byte: 128-255 are never valid, so unit-1 text needs no range check.
struct Table {
    i8 v[256];
};

// Hexadecimal digits; every character up to 32 is skipped.
constexpr Table make_hex_table() {
    Table t{};
    for (int c = 0; c < 256; ++c) {
        t.v[c] = c <= 32 ? SKIP : BAD;
        if (c >= '0' && c <= '9') t.v[c] = i8(c - '0');
        if (c >= 'A' && c <= 'F') t.v[c] = i8(c - 'A' + 10);
        if (c >= 'a' && c <= 'f') t.v[c] = i8(c - 'a' + 10);
    }
    t.v[int(';')] = COMMENT;
    return t;
}

// Base-64 and base-58 skip only some blanks (and the apostrophe).
constexpr Table make_alphabet_table(const char* alphabet, bool pad) {
    Table t{};
    for (int c = 0; c < 256; ++c) t.v[c] = BAD;
    for (int i = 0; alphabet[i]; ++i) t.v[int(alphabet[i])] = i8(i);
    for (int c : {8, 9, 10, 12, 13, 32, 39}) t.v[c] = SKIP;
    t.v[int(';')] = COMMENT;
    if (pad) t.v[int('=')] = PAD;
    return t;
}

constexpr Table kHexTable = make_hex_table();

// Two base-64 characters for each 12 bits: an encoder step writes a group with two loads.
struct PairTable {
    char v[4096][2];
};
constexpr PairTable make_pair_table() {
    PairTable t{};
    for (int i = 0; i < 4096; ++i) {
        t.v[i][0] = kBase64Alphabet[i >> 6];
        t.v[i][1] = kBase64Alphabet[i & 63];
    }
    return t;
}
constexpr PairTable kBase64Pairs = make_pair_table();
constexpr Table kBase64Table = make_alphabet_table(kBase64Alphabet, true);
constexpr Table kBase58Table = make_alphabet_table(kBase58Alphabet, false);

// The class of a character: code points above 127 are never valid.
template <class C>
inline i8 classify(const Table& t, C c) {
    if constexpr (sizeof(C) == 1) return t.v[u8(c)];
    return u32(c) < 256 ? t.v[u32(c)] : BAD;
}

// Index of the line feed that ends a comment started at i (or n).
template <class C>
inline size_t comment_end(const C* p, size_t i, size_t n) {
    while (i < n && p[i] != C('\n')) ++i;
    return i;
}

template <class C>
bool base2(const C* p, size_t n, std::vector<u8>& out) {
    out.resize(n / 8 + 1);
    u8* w = out.data();
    u32 acc = 0, bits = 0;
    for (size_t i = 0; i < n; ++i) {
        u32 c = u32(p[i]);
        if (c == '0' || c == '1') {
            acc = (acc << 1) | (c - '0');
            if (++bits == 8) {
                *w++ = u8(acc);
                acc = bits = 0;
            }
        } else if (c == ';') {
            i = comment_end(p, i, n);
        } else if (c > 32) {
            return false;
        }
    }
    if (bits) return false;
    out.resize(size_t(w - out.data()));
    return true;
}

template <class C>
bool base16(const C* p, size_t n, std::vector<u8>& out) {
    out.resize(n / 2 + 1);
    u8* w = out.data();
    u32 acc = 0;
    bool half = false;
    for (size_t i = 0; i < n; ++i) {
        i8 v = classify(kHexTable, p[i]);
        if (v >= 0) {
            acc = (acc << 4) | u32(v);
            if (half) *w++ = u8(acc);
            half = !half;
        } else if (v == SKIP) {
        } else if (v == COMMENT) {
            i = comment_end(p, i, n);
        } else {
            return false;
        }
    }
    if (half) return false;
    out.resize(size_t(w - out.data()));
    return true;
}

template <class C>
bool base64(const C* p, size_t n, std::vector<u8>& out) {
    out.resize(n / 4 * 3 + 3);
    u8* w = out.data();
    u32 acc = 0, k = 0;
    size_t i = 0;
    while (i < n) {
        // Whole groups of four digits at once: the common case of unbroken text.
        if (k == 0) {
            while (i + 4 <= n) {
                i8 a = classify(kBase64Table, p[i]), b = classify(kBase64Table, p[i + 1]);
                i8 c = classify(kBase64Table, p[i + 2]), d = classify(kBase64Table, p[i + 3]);
                if ((a | b | c | d) < 0) break;
                u32 g = u32(a) << 18 | u32(b) << 12 | u32(c) << 6 | u32(d);
                w[0] = u8(g >> 16);
                w[1] = u8(g >> 8);
                w[2] = u8(g);
                w += 3;
                i += 4;
            }
            if (i >= n) break;
        }
        i8 v = classify(kBase64Table, p[i]);
        if (v >= 0) {
            acc = (acc << 6) | u32(v);
            if (++k == 4) {
                w[0] = u8(acc >> 16);
                w[1] = u8(acc >> 8);
                w[2] = u8(acc);
                w += 3;
                acc = k = 0;
            }
        } else if (v == SKIP) {
        } else if (v == COMMENT) {
            i = comment_end(p, i, n);
        } else if (v == PAD) {
            // "=" ends the data; it may only close a group of 2 or 3 digits.
            if (k == 2) {
                *w++ = u8(acc >> 4);
            } else if (k == 3) {
                w[0] = u8(acc >> 10);
                w[1] = u8(acc >> 2);
                w += 2;
            } else {
                return false;
            }
            k = 0;
            // Only padding, blanks and comments may follow: never data that would be lost.
            for (++i; i < n; ++i) {
                i8 rest = classify(kBase64Table, p[i]);
                if (rest == COMMENT) i = comment_end(p, i, n);
                else if (rest != SKIP && rest != PAD) return false;
            }
            break;
        } else {
            return false;
        }
        ++i;
    }
    if (k) return false;
    out.resize(size_t(w - out.data()));
    return true;
}

// Base-58 numbers are carried in limbs of 5 digits (58^5 < 2^32) or 4 bytes.
constexpr u64 kBase58Limb = 58ull * 58 * 58 * 58 * 58;

template <class C>
bool base58(const C* p, size_t n, std::vector<u8>& out) {
    size_t zeros = 0;
    bool leading = true;
    std::vector<u32> limbs;  // the value in base 2^32, least significant first
    u64 group = 0, scale = 1;
    auto flush = [&] {
        u64 carry = group;
        for (u32& l : limbs) {
            carry += u64(l) * scale;
            l = u32(carry);
            carry >>= 32;
        }
        if (carry) limbs.push_back(u32(carry));
        group = 0;
        scale = 1;
    };
    for (size_t i = 0; i < n; ++i) {
        i8 v = classify(kBase58Table, p[i]);
        if (v == SKIP) continue;
        if (v == COMMENT) {
            i = comment_end(p, i, n);
            continue;
        }
        if (v < 0) return false;
        if (leading && v == 0) {
            ++zeros;
            continue;
        }
        leading = false;
        group = group * 58 + u64(v);
        scale *= 58;
        if (scale == kBase58Limb) flush();
    }
    if (scale > 1) flush();
    out.assign(zeros, 0);
    size_t start = out.size();
    for (u32 l : limbs)
        for (int b = 0; b < 4; ++b) out.push_back(u8(l >> (8 * b)));
    while (out.size() > start && out.back() == 0) out.pop_back();
    std::reverse(out.begin() + i64(start), out.end());
    return true;
}

template <class C>
const C* as(const void* p) {
    return static_cast<const C*>(p);
}

}  // namespace

// ---- encoders ---------------------------------------------------------------------------

char* encode_base2(const u8* bytes, size_t n, char* out) {
    for (size_t i = 0; i < n; ++i)
        for (int b = 7; b >= 0; --b) *out++ = char('0' + ((bytes[i] >> b) & 1));
    return out;
}

char* encode_base16(const u8* bytes, size_t n, char* out) {
    for (size_t i = 0; i < n; ++i) {
        *out++ = kHexDigits[bytes[i] >> 4];
        *out++ = kHexDigits[bytes[i] & 15];
    }
    return out;
}

char* encode_base64(const u8* bytes, size_t n, char* out) {
    size_t i = 0;
    for (; i + 3 <= n; i += 3) {
        u32 g = u32(bytes[i]) << 16 | u32(bytes[i + 1]) << 8 | bytes[i + 2];
        std::memcpy(out, kBase64Pairs.v[g >> 12], 2);
        std::memcpy(out + 2, kBase64Pairs.v[g & 4095], 2);
        out += 4;
    }
    if (n - i == 1) {
        u32 g = u32(bytes[i]) << 16;
        *out++ = kBase64Alphabet[g >> 18];
        *out++ = kBase64Alphabet[(g >> 12) & 63];
        *out++ = '=';
        *out++ = '=';
    } else if (n - i == 2) {
        u32 g = u32(bytes[i]) << 16 | u32(bytes[i + 1]) << 8;
        *out++ = kBase64Alphabet[g >> 18];
        *out++ = kBase64Alphabet[(g >> 12) & 63];
        *out++ = kBase64Alphabet[(g >> 6) & 63];
        *out++ = '=';
    }
    return out;
}

char* encode_base58(const u8* bytes, size_t n, char* out) {
    size_t zeros = 0;
    while (zeros < n && bytes[zeros] == 0) ++zeros;
    // The number in limbs of 58^5, least significant first.
    std::vector<u32> limbs;
    for (size_t i = zeros; i < n; ++i) {
        u64 carry = bytes[i];
        for (u32& l : limbs) {
            carry += u64(l) << 8;
            l = u32(carry % kBase58Limb);
            carry /= kBase58Limb;
        }
        while (carry) {
            limbs.push_back(u32(carry % kBase58Limb));
            carry /= kBase58Limb;
        }
    }
    for (size_t i = 0; i < zeros; ++i) *out++ = '1';
    std::vector<char> digits;
    digits.reserve(limbs.size() * 5);
    for (u32 l : limbs)
        for (int d = 0; d < 5; ++d) {
            digits.push_back(kBase58Alphabet[l % 58]);
            l /= 58;
        }
    while (!digits.empty() && digits.back() == '1') digits.pop_back();
    for (size_t i = digits.size(); i-- > 0;) *out++ = digits[i];
    return out;
}

// ---- decoders ---------------------------------------------------------------------------

#define KEL_BY_UNIT(fn)                                                        \
    bool ok;                                                                   \
    switch (unit) {                                                            \
        case 1: ok = fn(as<u8>(chars), count, out); break;                     \
        case 2: ok = fn(as<u16>(chars), count, out); break;                    \
        case 4: ok = fn(as<u32>(chars), count, out); break;                    \
        default: ok = false; break;                                            \
    }                                                                          \
    if (!ok) out.clear();                                                      \
    return ok;

bool decode_base2(const void* chars, size_t count, u32 unit, std::vector<u8>& out) { KEL_BY_UNIT(base2) }
bool decode_base16(const void* chars, size_t count, u32 unit, std::vector<u8>& out) { KEL_BY_UNIT(base16) }
bool decode_base64(const void* chars, size_t count, u32 unit, std::vector<u8>& out) { KEL_BY_UNIT(base64) }
bool decode_base58(const void* chars, size_t count, u32 unit, std::vector<u8>& out) { KEL_BY_UNIT(base58) }

#undef KEL_BY_UNIT

bool decode_base(u32 base, const void* chars, size_t count, u32 unit, std::vector<u8>& out) {
    switch (base) {
        case 2: return decode_base2(chars, count, unit, out);
        case 16: return decode_base16(chars, count, unit, out);
        case 58: return decode_base58(chars, count, unit, out);
        case 64: return decode_base64(chars, count, unit, out);
        default: out.clear(); return false;
    }
}

}  // namespace kel::rt
