// crush encoder and decoder. See crush.h.
#include "codec/crush.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "codec/bytes.h"

namespace kel::codec {

const char* crush_error_text(CrushError e) {
    switch (e) {
        case CrushError::none: return "no error";
        case CrushError::too_short: return "input shorter than 128 bytes";
        case CrushError::no_gain: return "input does not compress";
        case CrushError::too_large: return "size too large";
        case CrushError::truncated: return "stream cut short";
        case CrushError::bad_header: return "bad stream header";
        case CrushError::bad_chunk_length: return "bad chunk length";
        case CrushError::bad_match: return "match outside its chunk";
        case CrushError::size_mismatch: return "unpacked size does not match the chunks";
    }
    return "unknown error";
}

namespace {

constexpr size_t kMaxMatch = 566;
constexpr int32_t kWindow = 0x40000;
constexpr uint32_t kH3Mask = 0x7FFFF, kH4Mask = 0xFFFFF, kChainMask = 0x3FFFF;
constexpr int kChainDepth = 256;

// Bits least significant first into `out`, which has room up to `room`; `full` tells that
// a write went past it.
class BitWriter {
public:
    BitWriter(uint8_t* out, size_t pos, size_t room) : out_(out), pos_(pos), room_(room) {}
    void put(uint32_t bits, unsigned n) {
        buf_ |= uint64_t(bits) << cnt_;
        cnt_ += n;
        while (cnt_ >= 8) {
            if (pos_ < room_) out_[pos_] = uint8_t(buf_);
            ++pos_;
            buf_ >>= 8;
            cnt_ -= 8;
        }
    }
    // The 7 zero bits that end a chunk complete its last byte; the rest is dropped.
    void end_chunk() {
        put(0, 7);
        buf_ = 0;
        cnt_ = 0;
    }
    void put_word(uint32_t v) {
        uint8_t b[4];
        put_le32(b, v);
        for (uint8_t x : b) {
            if (pos_ < room_) out_[pos_] = x;
            ++pos_;
        }
    }
    size_t pos() const { return pos_; }
    bool full() const { return pos_ > room_; }

private:
    uint8_t* out_;
    size_t pos_;
    size_t room_;
    uint64_t buf_ = 0;
    unsigned cnt_ = 0;
};

// The encoder's head tables (3-byte and 4-byte hashes) and chain, kept per thread: making
// and clearing 7 MiB for every call cost more than compressing a small input. An entry
// holds its chunk's stamp above the position, so starting a chunk needs no clearing.
struct HashTables {
    static constexpr uint32_t kPosBits = 21, kPosMask = (1u << kPosBits) - 1;
    static constexpr uint32_t kStamps = 1u << (31 - kPosBits);
    std::unique_ptr<int32_t[]> heads{new int32_t[0x180000]};
    std::unique_ptr<int32_t[]> chain{new int32_t[kChainMask + 1]};
    uint32_t stamp = kStamps - 1;

    void next_chunk() {
        if (++stamp == kStamps) {
            std::fill(heads.get(), heads.get() + 0x180000, 0);
            stamp = 1;
        }
    }
    int32_t get(size_t i) const {
        uint32_t e = uint32_t(heads[i]);
        return (e >> kPosBits) == stamp ? int32_t(e & kPosMask) : -1;
    }
    void set(size_t i, int32_t p) { heads[i] = int32_t(stamp << kPosBits | uint32_t(p)); }
    int32_t head3(uint32_t h) const { return get(h); }
    int32_t head4(uint32_t h) const { return get(0x80000 + h); }
    void set_head3(uint32_t h, int32_t p) { set(h, p); }
    void set_head4(uint32_t h, int32_t p) { set(0x80000 + h, p); }
};

HashTables& hash_tables() {
    thread_local HashTables tables;
    return tables;
}

void put_length(BitWriter& w, uint32_t l) {
    // Prefix bits in reading order (first bit lowest), then the extra bits.
    if (l < 4) w.put(1 | (l << 1), 3);
    else if (l < 8) w.put(2 | ((l - 4) << 2), 4);
    else if (l < 12) w.put(4 | ((l - 8) << 3), 5);
    else if (l < 20) w.put(8 | ((l - 12) << 4), 7);
    else if (l < 52) w.put(16 | ((l - 20) << 5), 10);
    else w.put((l - 52) << 5, 14);
}

void put_distance(BitWriter& w, uint32_t d) {
    unsigned j = 2;
    while (d >= (1u << (j + 1))) ++j;
    w.put(j - 2, 4);
    if (j > 2) w.put(d - (1u << j), j);
    else w.put(d, 3);
}

}  // namespace

CrushError crush_compress(const uint8_t* data, size_t n, std::vector<uint8_t>& out) {
    out.clear();
    if (n < 128) return CrushError::too_short;
    if (n > 0x7FFFFFFF) return CrushError::too_large;
    const size_t room = n;  // the 8-byte header and the chunks must fit in n bytes
    std::vector<uint8_t> stream(room);
    HashTables& t = hash_tables();
    int32_t* chain = t.chain.get();
    // The bytes past a chunk's end read as zeros, so hashing near the end is deterministic.
    std::vector<uint8_t> chunk(std::min(n, kCrushChunk) + kMaxMatch + 8);
    BitWriter w(stream.data(), 8, room);

    for (size_t off = 0; off < n; off += kCrushChunk) {
        const size_t len = std::min(kCrushChunk, n - off);
        const uint8_t* buf = chunk.data();
        std::memcpy(chunk.data(), data + off, len);
        std::memset(chunk.data() + len, 0, chunk.size() - len);
        w.put_word(uint32_t(len));
        t.next_chunk();
        uint32_t h3 = 0, h4 = 0;
        for (int i = 0; i < 3; ++i) h3 = ((h3 << 7) + buf[i]) & kH3Mask;
        for (int i = 0; i < 4; ++i) h4 = ((h4 << 5) + buf[i]) & kH4Mask;

        int32_t p = 0;
        const int32_t end = int32_t(len);
        while (p < end) {
            const size_t m = std::min<size_t>(kMaxMatch, size_t(end - p));
            const int32_t limit = std::max(0, p - kWindow);
            size_t best = 2;
            int32_t best_dist = kWindow;
            int32_t q = t.head3(h3);
            if (q >= limit) {
                size_t l = common_length(buf + q, buf + p, 0, m);
                if (l > best) best = l, best_dist = p - q;
            }
            // Once the best reaches m no candidate can beat it.
            if (best < kMaxMatch && best < m) {
                int32_t cand = t.head4(h4);
                for (int k = 0; k < kChainDepth && cand >= limit; ++k) {
                    if (buf[cand + best] == buf[p + best] && buf[cand] == buf[p]) {
                        size_t l = common_length(buf + cand, buf + p, 0, m);
                        unsigned penalty = 0;
                        for (uint32_t v = uint32_t(p - cand) >> 4; v > uint32_t(best_dist); v >>= 3) ++penalty;
                        if (l > best + penalty) best = l, best_dist = p - cand;
                        if (l >= m) break;
                    }
                    cand = chain[cand & kChainMask];
                }
            }
            if (best == 3 && best_dist > 65536) best = 2;
            size_t step;
            if (best < 3) {
                w.put(uint32_t(buf[p]) << 1, 9);
                step = 1;
            } else {
                w.put(1, 1);
                put_length(w, uint32_t(best - 3));
                put_distance(w, uint32_t(best_dist - 1));
                step = best;
            }
            if (w.full()) return CrushError::no_gain;
            for (size_t k = 0; k < step; ++k) {
                t.set_head3(h3, p);
                chain[p & kChainMask] = t.head4(h4);
                t.set_head4(h4, p);
                h3 = ((h3 << 7) + buf[p + 3]) & kH3Mask;
                h4 = ((h4 << 5) + buf[p + 4]) & kH4Mask;
                ++p;
            }
        }
        w.end_chunk();
        if (w.full()) return CrushError::no_gain;
    }
    size_t total = w.pos();
    put_le32(stream.data(), uint32_t(total - 8));
    put_le32(stream.data() + 4, uint32_t(n));
    stream.resize(total);
    out = std::move(stream);
    return CrushError::none;
}

namespace {

// Bits least significant first from [pos, end); a read past the end sets `short_`.
class BitReader {
public:
    BitReader(const uint8_t* p, const uint8_t* end) : ip_(p), end_(end) {}
    inline void refill() {
        if (end_ - ip_ >= 8) {
            bb_ |= load64(ip_) << bc_;
            ip_ += (63 - bc_) >> 3;
            bc_ |= 56;
            return;
        }
        while (bc_ < 56 && ip_ < end_) {
            bb_ |= uint64_t(*ip_++) << bc_;
            bc_ += 8;
        }
    }
    inline uint32_t take(unsigned n) {
        if (n > bc_) {
            short_ = true;
            bc_ = n;  // the missing bits read as zeros; the caller stops at the flag
        }
        uint32_t v = uint32_t(bb_ & ((uint64_t(1) << n) - 1));
        bb_ >>= n;
        bc_ -= n;
        return v;
    }
    bool cut_short() const { return short_; }
    // The first byte from which no bit was taken.
    const uint8_t* next_byte() const { return ip_ - bc_ / 8; }

private:
    const uint8_t* ip_;
    const uint8_t* end_;
    uint64_t bb_ = 0;
    unsigned bc_ = 0;
    bool short_ = false;
};

inline uint32_t read_length(BitReader& r) {
    // Up to 5 prefix bits: the position of the first 1 picks the row.
    uint32_t bits = r.take(1);
    if (bits) return r.take(2);
    if (r.take(1)) return 4 + r.take(2);
    if (r.take(1)) return 8 + r.take(2);
    if (r.take(1)) return 12 + r.take(3);
    if (r.take(1)) return 20 + r.take(5);
    return 52 + r.take(9);
}

inline uint32_t read_distance(BitReader& r) {
    unsigned j = r.take(4) + 2;
    if (j == 2) return r.take(3);
    return r.take(j) + (1u << j);
}

}  // namespace

CrushError crush_decompress(const uint8_t* in, size_t n, std::vector<uint8_t>& out, size_t limit) {
    out.clear();
    if (n < 8) return CrushError::truncated;
    int32_t packed = int32_t(get_le32(in)), unpacked = int32_t(get_le32(in + 4));
    if (packed < 0 || unpacked < 0) return CrushError::bad_header;
    if (size_t(packed) > n - 8) return CrushError::truncated;
    if (uint64_t(unpacked) > uint64_t(packed) * kCrushMaxExpansion) return CrushError::bad_header;
    if (size_t(unpacked) > limit) return CrushError::too_large;
    std::vector<uint8_t> buf(static_cast<size_t>(unpacked));
    uint8_t* o = buf.data();
    const uint8_t* pos = in + 8;
    const uint8_t* end = pos + packed;
    size_t produced = 0;
    while (pos < end) {
        if (end - pos < 4) return CrushError::truncated;
        int32_t chunk_len = int32_t(get_le32(pos));
        pos += 4;
        if (chunk_len < 1 || size_t(chunk_len) > kCrushChunk) return CrushError::bad_chunk_length;
        if (size_t(chunk_len) > size_t(unpacked) - produced) return CrushError::bad_chunk_length;
        const size_t chunk_start = produced, target = produced + size_t(chunk_len);
        BitReader r(pos, end);
        while (produced < target) {
            r.refill();
            if (r.take(1) == 0) {
                o[produced++] = uint8_t(r.take(8));
            } else {
                size_t len = read_length(r) + 3;
                size_t dist = size_t(read_distance(r)) + 1;
                if (r.cut_short()) return CrushError::truncated;
                if (dist > produced - chunk_start || len > target - produced) return CrushError::bad_match;
                const uint8_t* src = o + produced - dist;
                uint8_t* dst = o + produced;
                if (dist >= len) std::memcpy(dst, src, len);
                else for (size_t k = 0; k < len; ++k) dst[k] = src[k];
                produced += len;
            }
            if (r.cut_short()) return CrushError::truncated;
        }
        pos = r.next_byte();
    }
    if (produced != size_t(unpacked)) return CrushError::size_mismatch;
    out = std::move(buf);
    return CrushError::none;
}

}  // namespace kel::codec
