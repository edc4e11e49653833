// DEFLATE coder and its zlib and gzip framings. See deflate.h.
#include "codec/deflate.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "codec/bytes.h"

namespace kel::codec {

namespace {


uint32_t reverse_bits(uint32_t code, unsigned len) {
    uint32_t r = 0;
    for (unsigned i = 0; i < len; ++i, code >>= 1) r = (r << 1) | (code & 1);
    return r;
}

constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistBase[30] = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,
                                    33,   49,   65,   97,   129,  193,   257,   385,   513, 769,
                                    1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

}  // namespace

// ---- compression ------------------------------------------------------------------------

namespace {

struct Code {
    uint32_t bits;  // already reversed, extra bits included above the code
    uint32_t len;
};

struct FixedCodes {
    Code literal[288];
    Code length[259];  // by match length 3..258: symbol code and extra bits together
    FixedCodes() {
        for (unsigned s = 0; s < 288; ++s) {
            unsigned len, code;
            if (s < 144) len = 8, code = 0x30 + s;
            else if (s < 256) len = 9, code = 0x190 + (s - 144);
            else if (s < 280) len = 7, code = s - 256;
            else len = 8, code = 0xC0 + (s - 280);
            literal[s] = {reverse_bits(code, len), len};
        }
        for (unsigned L = 3; L <= 258; ++L) {
            unsigned k = 28;
            while (kLengthBase[k] > L) --k;
            if (L == 258) k = 28;
            const Code& c = literal[257 + k];
            length[L] = {c.bits | ((L - kLengthBase[k]) << c.len), c.len + kLengthExtra[k]};
        }
    }
};
const FixedCodes g_fixed;

// Distance d (1..32768) as its 5-bit code and extra bits.
inline Code distance_code(uint32_t d) {
    uint32_t x = d - 1, sym, extra_bits, extra;
    if (x < 4) {
        sym = x, extra_bits = 0, extra = 0;
    } else {
        uint32_t hb = 31 - __builtin_clz(x);
        sym = hb * 2 + ((x >> (hb - 1)) & 1);
        extra_bits = hb - 1;
        extra = x & ((1u << extra_bits) - 1);
    }
    return {reverse_bits(sym, 5) | (extra << 5), 5 + extra_bits};
}

struct DistanceCodes {
    Code low[256];   // d - 1 below 256
    Code high[256];  // by (d - 1) >> 7, extra bits left for the caller
    DistanceCodes() {
        for (uint32_t x = 0; x < 256; ++x) low[x] = distance_code(x + 1);
        for (uint32_t h = 2; h < 256; ++h) {
            uint32_t x = h << 7;
            uint32_t hb = 31 - __builtin_clz(x);
            uint32_t sym = hb * 2 + ((x >> (hb - 1)) & 1);
            high[h] = {reverse_bits(sym, 5), hb - 1};
        }
    }
};
const DistanceCodes g_dist;

// Bits go through a small buffer that stays in cache and is appended to the output in
// pieces: the output is reserved (address space only) and each of its pages is touched once,
// by the append. Filling a zeroed output of the worst-case size touched every page twice
// and cost more than the compression.
class BitWriter {
public:
    explicit BitWriter(std::vector<uint8_t>& out) : out_(out) {}
    // n <= 49; fewer than 8 bits stay in the buffer between calls. Branch-free: the whole
    // bytes are stored and the position moves past them.
    inline void put(uint64_t bits, unsigned n) {
        buf_ |= bits << cnt_;
        cnt_ += n;
        store64(chunk_ + pos_, buf_);
        pos_ += cnt_ >> 3;
        buf_ >>= cnt_ & 56;
        cnt_ &= 7;
        if (pos_ >= FLUSH_AT) flush();
    }
    // Pads with zero bits to a byte boundary and appends what is left.
    void finish() {
        if (cnt_) chunk_[pos_++] = uint8_t(buf_);
        buf_ = 0, cnt_ = 0;
        flush();
    }

private:
    static constexpr size_t FLUSH_AT = 16384;
    std::vector<uint8_t>& out_;
    uint8_t chunk_[FLUSH_AT + 16];
    size_t pos_ = 0;
    uint64_t buf_ = 0;
    unsigned cnt_ = 0;

    void flush() {
        out_.insert(out_.end(), chunk_, chunk_ + pos_);
        pos_ = 0;
    }
};

inline uint32_t bucket_of(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    x ^= x >> 16;
    return x & 0x3FF;
}

inline uint32_t three_bytes(const uint8_t* p) { return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]; }

// The match table: per bucket four slots, each the three bytes at a position and that
// position. Positions are kept as 32-bit offsets from `base` plus 32,768 (0 = empty, which no
// distance test passes), so that the four slots are tested at once in 128-bit lanes.
struct MatchTable {
    struct Bucket {
        uint32_t key[4];
        int32_t pos[4];
    };
    Bucket bucket[1024];
    size_t base = 0;

    // Slot s of `b` holds position q = pos - 32,768 + base; it passes when its key is x and
    // 1 <= p - q <= 32,767, that is when r < pos < r + 32,768 with r = p - base. Answers
    // the passing slots as bits.
    inline unsigned passing(const Bucket& b, uint32_t x, int32_t r) const {
#if defined(__SSE2__)
        __m128i keys = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b.key));
        __m128i pos = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b.pos));
        __m128i same = _mm_cmpeq_epi32(keys, _mm_set1_epi32(int32_t(x)));
        __m128i after = _mm_cmpgt_epi32(pos, _mm_set1_epi32(r));
        __m128i near = _mm_cmpgt_epi32(_mm_set1_epi32(r + 32768), pos);
        return unsigned(_mm_movemask_ps(_mm_castsi128_ps(_mm_and_si128(same, _mm_and_si128(after, near)))));
#else
        unsigned mask = 0;
        for (int s = 0; s < 4; ++s)
            mask |= unsigned((b.key[s] == x) & (b.pos[s] > r) & (b.pos[s] < r + 32768)) << s;
        return mask;
#endif
    }

    // Moves `base` up by SHIFT once p - base reaches REBASE_AT, keeping every offset under
    // 2^31. A slot left at or below 0 was too far back to pass and never will: it empties.
    static constexpr size_t SHIFT = size_t(1) << 29, REBASE_AT = size_t(1) << 30;
    void rebase() {
        base += SHIFT;
        for (Bucket& b : bucket)
            for (int32_t& q : b.pos) q = q > int32_t(SHIFT) ? q - int32_t(SHIFT) : 0;
    }
};

// Appends the single fixed-code block to `out`.
void deflate_into(std::vector<uint8_t>& out, const uint8_t* in, size_t n) {
    BitWriter w(out);
    w.put(0b011, 3);  // BFINAL 1, BTYPE 01
    // The first slot that passes wins; the input is not read far back to test a slot, which
    // missed the cache.
    auto table = std::make_unique<MatchTable>();
    std::memset(table->bucket, 0, sizeof table->bucket);
    size_t p = 0;
    uint32_t x = n >= 3 ? three_bytes(in) : 0;
    uint32_t bucket = bucket_of(x);
    // One step from p: a match or a literal, then the insertion of the step's start. `far`
    // is true while 258 + 8 bytes remain past p, so that neither the match length nor the
    // next three bytes need the input's end (the step is the same either way).
    auto step = [&](bool far) __attribute__((always_inline)) {
        size_t start = p, left = n - p;
        uint32_t start_bucket = bucket, start_key = x;
        int32_t r = int32_t(p - table->base);
        bool matched = false;
        if (far || (p >= 3 && left >= 3)) {
            const MatchTable::Bucket& b = table->bucket[bucket];
            if (unsigned mask = table->passing(b, x, r)) {
                size_t q = size_t(b.pos[__builtin_ctz(mask)]) - 32768 + table->base;
                size_t len = common_length(in + q, in + p, 3, far ? 258 : std::min<size_t>(258, left));
                const Code& lc = g_fixed.length[len];
                uint32_t d = uint32_t(p - q);
                Code dc;
                if (d <= 256) {
                    dc = g_dist.low[d - 1];
                } else {
                    const Code& h = g_dist.high[(d - 1) >> 7];
                    dc = {h.bits | (((d - 1) & ((1u << h.len) - 1)) << 5), 5 + h.len};
                }
                w.put(lc.bits | (uint64_t(dc.bits) << lc.len), lc.len + dc.len);
                p += len;
                matched = true;
            }
        }
        if (!matched) {
            const Code& c = g_fixed.literal[in[p]];
            w.put(c.bits, c.len);
            ++p;
        }
        if (far || n - p >= 3) {
            // The three bytes at p, big-endian: one load while the input lasts.
            x = far ? __builtin_bswap32(load32(in + p)) >> 8 : three_bytes(in + p);
            unsigned s = ((x >> 14) - x) & 3;
            table->bucket[start_bucket].key[s] = start_key;
            table->bucket[start_bucket].pos[s] = r + 32768;
            bucket = bucket_of(x);
        }
    };
    while (p < n && p < 3) step(false);
    if (n > 258 + 8) {
        const size_t far_end = n - (258 + 8);
        while (p < far_end) {
            size_t stop = std::min(far_end, table->base + MatchTable::REBASE_AT);
            while (p < stop) step(true);
            if (p - table->base >= MatchTable::REBASE_AT) table->rebase();
        }
    }
    while (p < n) {
        if (p - table->base >= MatchTable::REBASE_AT) table->rebase();
        step(false);
    }
    w.put(0, 7);  // end of block
    w.finish();
}

// Output reserved for n input bytes and `framing` more: the worst case, 9 bits a byte.
std::vector<uint8_t> reserved(size_t n, size_t framing) {
    std::vector<uint8_t> out;
    out.reserve(n + n / 8 + 16 + framing);
    return out;
}

inline void put_be32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24), p[1] = uint8_t(v >> 16), p[2] = uint8_t(v >> 8), p[3] = uint8_t(v);
}

}  // namespace

std::vector<uint8_t> deflate_compress(const uint8_t* data, size_t n) {
    std::vector<uint8_t> out = reserved(n, 0);
    deflate_into(out, data, n);
    return out;
}

std::vector<uint8_t> zlib_compress(const uint8_t* data, size_t n) {
    std::vector<uint8_t> out = reserved(n, 6);
    out.push_back(0x78);
    out.push_back(0x01);
    deflate_into(out, data, n);
    uint8_t check[4];
    put_be32(check, adler32(data, n));
    out.insert(out.end(), check, check + 4);
    return out;
}

std::vector<uint8_t> gzip_compress(const uint8_t* data, size_t n) {
    static const uint8_t header[10] = {0x1F, 0x8B, 0x08, 0, 0, 0, 0, 0, 0x04, 0x04};
    std::vector<uint8_t> out = reserved(n, 18);
    out.insert(out.end(), header, header + 10);
    deflate_into(out, data, n);
    uint8_t trailer[8];
    put_le32(trailer, crc32(data, n));
    put_le32(trailer + 4, uint32_t(n));
    out.insert(out.end(), trailer, trailer + 8);
    return out;
}

std::vector<uint8_t> compress(Framing f, const uint8_t* data, size_t n) {
    switch (f) {
        case Framing::zlib: return zlib_compress(data, n);
        case Framing::gzip: return gzip_compress(data, n);
        default: return deflate_compress(data, n);
    }
}

// ---- inflation --------------------------------------------------------------------------

namespace {

enum EntryType : uint8_t { E_LITERAL, E_BASE, E_END, E_SUB, E_BAD };

// A decoding table entry: `len` bits to drop, then by type a literal byte, a length or
// distance base with `extra` bits to add, the end of the block, or a subtable at `val`
// indexed by the next `extra` bits.
struct Entry {
    uint16_t val;
    uint8_t len;
    uint8_t type : 3;
    uint8_t extra : 5;
};
static_assert(sizeof(Entry) == 4);

constexpr unsigned LIT_BITS = 10, DIST_BITS = 8, CL_BITS = 7;
// Primary table plus one subtable of 2^(15 - bits) entries per long-code prefix, at most one
// prefix per symbol.
constexpr size_t LIT_TABLE = (1u << LIT_BITS) + 288 * (1u << (15 - LIT_BITS));
constexpr size_t DIST_TABLE = (1u << DIST_BITS) + 32 * (1u << (15 - DIST_BITS));

Entry litlen_entry(unsigned sym) {
    if (sym < 256) return {uint16_t(sym), 0, E_LITERAL, 0};
    if (sym == 256) return {0, 0, E_END, 0};
    if (sym < 286) return {kLengthBase[sym - 257], 0, E_BASE, kLengthExtra[sym - 257]};
    return {0, 0, E_BAD, 0};
}
Entry dist_entry(unsigned sym) {
    if (sym < 30) return {kDistBase[sym], 0, E_BASE, kDistExtra[sym]};
    return {0, 0, E_BAD, 0};
}
Entry plain_entry(unsigned sym) { return {uint16_t(sym), 0, E_LITERAL, 0}; }

// Builds the canonical-code table for the lengths; false when the code is over-subscribed.
// Codes an incomplete set leaves unused decode as E_BAD.
bool build_table(Entry* table, unsigned primary_bits, const uint8_t* lens, unsigned nsym,
                 Entry (*entry_of)(unsigned)) {
    unsigned count[16] = {};
    for (unsigned s = 0; s < nsym; ++s) ++count[lens[s]];
    int left = 1;
    unsigned maxlen = 0;
    for (unsigned len = 1; len <= 15; ++len) {
        left = left * 2 - int(count[len]);
        if (left < 0) return false;
        if (count[len]) maxlen = len;
    }
    // Symbols in canonical order: by length, then by symbol.
    unsigned offs[16];
    offs[1] = 0;
    for (unsigned len = 1; len < 15; ++len) offs[len + 1] = offs[len] + count[len];
    uint16_t sorted[288];
    for (unsigned s = 0; s < nsym; ++s)
        if (lens[s]) sorted[offs[lens[s]]++] = uint16_t(s);

    const unsigned psize = 1u << primary_bits;
    const Entry bad{0, 0, E_BAD, 0};
    std::fill(table, table + psize, bad);
    unsigned sub_bits = maxlen > primary_bits ? maxlen - primary_bits : 0;
    unsigned sub_size = 1u << sub_bits;
    unsigned next_sub = psize;
    uint32_t code = 0;
    unsigned k = 0;
    for (unsigned len = 1; len <= maxlen; ++len, code <<= 1) {
        for (unsigned c = 0; c < count[len]; ++c, ++code) {
            Entry e = entry_of(sorted[k++]);
            uint32_t rev = reverse_bits(code, len);
            if (len <= primary_bits) {
                e.len = uint8_t(len);
                for (uint32_t i = rev; i < psize; i += 1u << len) table[i] = e;
                continue;
            }
            Entry& head = table[rev & (psize - 1)];
            if (head.type != E_SUB) {
                head = {uint16_t(next_sub), uint8_t(primary_bits), E_SUB, uint8_t(sub_bits)};
                std::fill(table + next_sub, table + next_sub + sub_size, bad);
                next_sub += sub_size;
            }
            unsigned l2 = len - primary_bits;
            e.len = uint8_t(l2);
            for (uint32_t i = rev >> primary_bits; i < sub_size; i += 1u << l2) table[head.val + i] = e;
        }
    }
    return true;
}

struct FixedTables {
    Entry lit[LIT_TABLE];
    Entry dist[DIST_TABLE];
    FixedTables() {
        uint8_t lens[288];
        for (unsigned s = 0; s < 288; ++s) lens[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
        build_table(lit, LIT_BITS, lens, 288, litlen_entry);
        for (unsigned s = 0; s < 32; ++s) lens[s] = 5;
        build_table(dist, DIST_BITS, lens, 32, dist_entry);
    }
};
const FixedTables g_fixed_tables;

class Inflater {
public:
    Inflater(const uint8_t* in, size_t n, std::vector<uint8_t>& out, size_t initial, size_t limit)
        : ip_(in), end_(in + n), out_(out), limit_(limit) {
        out_.clear();
        out_.resize(std::min(initial, limit) + kSlack);
        cap_ = out_.size() - kSlack;
    }

    InflateStatus run() {
        for (;;) {
            if (!refill()) return InflateStatus::bad_data;
            unsigned final = take(1);
            unsigned type = take(2);
            InflateStatus s;
            if (type == 0) s = stored();
            else if (type == 1) s = huffman(g_fixed_tables.lit, g_fixed_tables.dist);
            else if (type == 2) s = dynamic();
            else s = InflateStatus::bad_block_type;
            if (s != InflateStatus::ok) return s;
            if (final) break;
        }
        // Bits past the input were read as zeros: the stream was cut short.
        if (bc_ < phantom_ * 8) return InflateStatus::bad_data;
        out_.resize(op_);
        return InflateStatus::ok;
    }

private:
    // Room for a whole match and the 8-byte over-copy of the fast copy.
    static constexpr size_t kSlack = 258 + 16;

    // Keeps at least 56 bits in the buffer. Past the input, zero bytes are appended and
    // counted; false once a bit of them has been consumed.
    inline bool refill() {
        if (end_ - ip_ >= 8) {
            bb_ |= load64(ip_) << bc_;
            ip_ += (63 - bc_) >> 3;
            bc_ |= 56;
            return true;
        }
        while (bc_ < 56) {
            if (ip_ < end_) {
                bb_ |= uint64_t(*ip_++) << bc_;
            } else {
                if (bc_ < phantom_ * 8) return false;
                ++phantom_;
            }
            bc_ += 8;
        }
        return bc_ >= phantom_ * 8;
    }
    inline uint32_t take(unsigned n) {
        uint32_t v = uint32_t(bb_ & ((uint64_t(1) << n) - 1));
        bb_ >>= n;
        bc_ -= n;
        return v;
    }

    // Makes room for `need` more bytes past op_; false when that passes the limit.
    bool reserve(size_t need) {
        if (op_ + need <= cap_) return true;
        if (op_ + need > limit_) return false;
        size_t cap = std::max(cap_ * 2, op_ + need);
        cap = std::min(std::max<size_t>(cap, 4096), limit_);
        out_.resize(cap + kSlack);
        cap_ = cap;
        return true;
    }

    InflateStatus stored() {
        take(bc_ & 7);
        size_t held = bc_ / 8;
        if (held < phantom_) return InflateStatus::bad_data;
        ip_ -= held - phantom_;  // give back the whole bytes held in the buffer
        bb_ = 0, bc_ = 0, phantom_ = 0;
        if (end_ - ip_ < 4) return InflateStatus::bad_data;
        unsigned len = ip_[0] | ip_[1] << 8, nlen = ip_[2] | ip_[3] << 8;
        ip_ += 4;
        if ((len ^ 0xFFFF) != nlen) return InflateStatus::bad_data;
        if (size_t(end_ - ip_) < len) return InflateStatus::stored_overrun;
        if (!reserve(len)) return InflateStatus::too_large;
        std::memcpy(out_.data() + op_, ip_, len);
        op_ += len;
        ip_ += len;
        return InflateStatus::ok;
    }

    InflateStatus dynamic() {
        static constexpr uint8_t order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
        if (!refill()) return InflateStatus::bad_data;
        unsigned hlit = take(5) + 257, hdist = take(5) + 1, hclen = take(4) + 4;
        if (hlit > 286 || hdist > 30) return InflateStatus::bad_data;
        uint8_t cl_lens[19] = {};
        for (unsigned i = 0; i < hclen; ++i) {
            if (!refill()) return InflateStatus::bad_data;
            cl_lens[order[i]] = uint8_t(take(3));
        }
        Entry cl_table[1u << CL_BITS];
        if (!build_table(cl_table, CL_BITS, cl_lens, 19, plain_entry)) return InflateStatus::bad_data;
        uint8_t lens[286 + 30];
        unsigned total = hlit + hdist;
        for (unsigned i = 0; i < total;) {
            if (!refill()) return InflateStatus::bad_data;
            Entry e = cl_table[bb_ & ((1u << CL_BITS) - 1)];
            if (e.type == E_BAD) return InflateStatus::bad_data;
            take(e.len);
            unsigned sym = e.val, rep;
            uint8_t value = 0;
            if (sym < 16) {
                lens[i++] = uint8_t(sym);
                continue;
            }
            if (sym == 16) {
                if (i == 0) return InflateStatus::bad_data;
                value = lens[i - 1];
                rep = 3 + take(2);
            } else if (sym == 17) {
                rep = 3 + take(3);
            } else {
                rep = 11 + take(7);
            }
            if (i + rep > total) return InflateStatus::bad_data;
            std::memset(lens + i, value, rep);
            i += rep;
        }
        if (lens[256] == 0) return InflateStatus::bad_data;  // no end-of-block code
        if (!build_table(lit_, LIT_BITS, lens, hlit, litlen_entry)) return InflateStatus::bad_data;
        if (!build_table(dist_, DIST_BITS, lens + hlit, hdist, dist_entry)) return InflateStatus::bad_data;
        return huffman(lit_, dist_);
    }

    InflateStatus huffman(const Entry* lit, const Entry* dist) {
        constexpr uint64_t LIT_MASK = (1u << LIT_BITS) - 1, DIST_MASK = (1u << DIST_BITS) - 1;
        uint8_t* out = out_.data();
        for (;;) {
            if (!refill()) return InflateStatus::bad_data;
            if (op_ + 258 > cap_ && cap_ < limit_) {
                reserve(std::min<size_t>(258, limit_ - op_));
                out = out_.data();
            }
            Entry e = lit[bb_ & LIT_MASK];
            if (e.type == E_SUB) {
                bb_ >>= LIT_BITS, bc_ -= LIT_BITS;
                e = lit[e.val + (bb_ & ((1u << e.extra) - 1))];
            }
            bb_ >>= e.len, bc_ -= e.len;
            if (e.type == E_LITERAL) {
                if (op_ >= cap_) return InflateStatus::too_large;
                out[op_++] = uint8_t(e.val);
                // A second literal from the same refill when the bits are there.
                Entry e2 = lit[bb_ & LIT_MASK];
                if (e2.type == E_LITERAL && bc_ >= 16 && op_ < cap_) {
                    bb_ >>= e2.len, bc_ -= e2.len;
                    out[op_++] = uint8_t(e2.val);
                }
                continue;
            }
            if (e.type == E_END) return InflateStatus::ok;
            if (e.type != E_BASE) return InflateStatus::bad_data;
            size_t len = e.val + take(e.extra);
            Entry d = dist[bb_ & DIST_MASK];
            if (d.type == E_SUB) {
                bb_ >>= DIST_BITS, bc_ -= DIST_BITS;
                d = dist[d.val + (bb_ & ((1u << d.extra) - 1))];
            }
            if (d.type != E_BASE) return InflateStatus::bad_data;
            bb_ >>= d.len, bc_ -= d.len;
            size_t distance = d.val + take(d.extra);
            if (distance > op_) return InflateStatus::bad_distance;
            if (op_ + len > cap_) return InflateStatus::too_large;
            uint8_t* dst = out + op_;
            const uint8_t* src = dst - distance;
            if (distance >= 8) {
                // Eight bytes at a time; the over-copy lands in the slack.
                for (size_t k = 0; k < len; k += 8) store64(dst + k, load64(src + k));
            } else if (distance == 1) {
                std::memset(dst, *src, len);
            } else {
                for (size_t k = 0; k < len; ++k) dst[k] = src[k];
            }
            op_ += len;
        }
    }

    const uint8_t* ip_;
    const uint8_t* end_;
    uint64_t bb_ = 0;
    unsigned bc_ = 0;
    size_t phantom_ = 0;  // zero bytes appended past the input
    std::vector<uint8_t>& out_;
    size_t op_ = 0, cap_ = 0;
    size_t limit_;
    Entry lit_[LIT_TABLE];
    Entry dist_[DIST_TABLE];
};

// Deflate expands at most 1,032 to 1: a size hint beyond that cannot be true.
size_t initial_size(size_t n, size_t hint, size_t limit) {
    size_t most = n * 1032 + 64;
    size_t want = hint ? hint : n * 4 + 64;
    return std::min({want, most, limit});
}

InflateStatus inflate_raw(const uint8_t* in, size_t n, std::vector<uint8_t>& out, size_t hint, size_t limit) {
    auto inflater = std::make_unique<Inflater>(in, n, out, initial_size(n, hint, limit), limit);
    InflateStatus s = inflater->run();
    if (s != InflateStatus::ok) out.clear();
    return s;
}

InflateStatus inflate_zlib(const uint8_t* in, size_t n, std::vector<uint8_t>& out, size_t hint, size_t limit) {
    if (n < 6) return InflateStatus::bad_data;
    unsigned cmf = in[0], flg = in[1];
    if ((cmf * 256 + flg) % 31 != 0 || (cmf & 0x0F) != 8 || (cmf & 0x80) || (flg & 0x20))
        return InflateStatus::bad_data;
    InflateStatus s = inflate_raw(in + 2, n - 6, out, hint, limit);
    if (s != InflateStatus::ok) return s;
    const uint8_t* t = in + n - 4;
    uint32_t expected = uint32_t(t[0]) << 24 | uint32_t(t[1]) << 16 | uint32_t(t[2]) << 8 | t[3];
    if (adler32(out.data(), out.size()) != expected) {
        out.clear();
        return InflateStatus::bad_data;
    }
    return s;
}

InflateStatus inflate_gzip(const uint8_t* in, size_t n, std::vector<uint8_t>& out, size_t hint, size_t limit) {
    if (n < 18 || in[0] != 0x1F || in[1] != 0x8B || in[2] != 8 || in[3] >= 32) return InflateStatus::bad_data;
    unsigned flg = in[3];
    size_t pos = 10;
    const size_t body_end = n - 8;
    if (flg & 4) {
        if (body_end - pos < 2) return InflateStatus::bad_data;
        size_t xlen = in[pos] | in[pos + 1] << 8;
        pos += 2;
        if (body_end - pos < xlen) return InflateStatus::bad_data;
        pos += xlen;
    }
    for (unsigned bit : {8u, 16u}) {  // FNAME, FCOMMENT
        if (!(flg & bit)) continue;
        const void* nul = std::memchr(in + pos, 0, body_end - pos);
        if (!nul) return InflateStatus::bad_data;
        pos = static_cast<const uint8_t*>(nul) - in + 1;
    }
    if (flg & 2) {
        if (body_end - pos < 2) return InflateStatus::bad_data;
        uint32_t hcrc = crc32(in, pos) & 0xFFFF;
        if (uint32_t(in[pos] | in[pos + 1] << 8) != hcrc) return InflateStatus::bad_data;
        pos += 2;
    }
    uint32_t isize = get_le32(in + n - 4);
    InflateStatus s = inflate_raw(in + pos, body_end - pos, out, hint ? hint : isize, limit);
    if (s != InflateStatus::ok) return s;
    if (uint32_t(out.size()) != isize || crc32(out.data(), out.size()) != get_le32(in + n - 8)) {
        out.clear();
        return InflateStatus::bad_data;
    }
    return s;
}

}  // namespace

InflateStatus decompress(Framing f, const uint8_t* in, size_t n, std::vector<uint8_t>& out, size_t hint,
                         size_t limit) {
    switch (f) {
        case Framing::zlib: return inflate_zlib(in, n, out, hint, limit);
        case Framing::gzip: return inflate_gzip(in, n, out, hint, limit);
        default: return inflate_raw(in, n, out, hint, limit);
    }
}

}  // namespace kel::codec
