// The DEFLATE coder against zlib as the oracle: zlib inflates everything we compress, we
// inflate what zlib writes at every level and strategy, in all three framings; the
// compressor's bytes are exactly the documented ones; corrupt streams are refused with
// the status that names their fault.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "codec/deflate.h"
#include "codec_support.h"
#include "zlib_oracle.h"

using namespace codec_test;
using kel::codec::Framing;
using kel::codec::InflateStatus;

namespace {

constexpr Framing kFramings[] = {Framing::raw, Framing::zlib, Framing::gzip};
constexpr int kWindowBits[] = {-15, 15, 31};  // zlib's names for the three framings

const char* name_of(Framing f) { return f == Framing::raw ? "raw" : f == Framing::zlib ? "zlib" : "gzip"; }

Bytes zlib_deflate(const Bytes& in, int window_bits, int level, int strategy) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, window_bits, 8, strategy), Z_OK);
    Bytes out(deflateBound(&z, uLong(in.size())));
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = uInt(in.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

InflateStatus ours(Framing f, const Bytes& in, Bytes& out, size_t hint = 0,
                   size_t limit = kel::codec::kInflateDefaultLimit) {
    return kel::codec::decompress(f, in.data(), in.size(), out, hint, limit);
}

std::string hex(const Bytes& b) {
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    for (uint8_t x : b) s += digits[x >> 4], s += digits[x & 15];
    return s;
}

}  // namespace

TEST(Deflate, ZlibInflatesWhatWeCompressAndSoDoWe) {
    for (const auto& sample : samples()) {
        for (int k = 0; k < 3; ++k) {
            SCOPED_TRACE(std::string(sample.name) + " " + name_of(kFramings[k]));
            Bytes packed = kel::codec::compress(kFramings[k], sample.data.data(), sample.data.size()), back;
            EXPECT_LE(packed.size(), sample.data.size() + sample.data.size() / 8 + 16 + 18);
            ASSERT_TRUE(zlib_inflate(packed, kWindowBits[k], back));
            EXPECT_TRUE(back == sample.data);
            ASSERT_EQ(ours(kFramings[k], packed, back), InflateStatus::ok);
            EXPECT_TRUE(back == sample.data);
        }
    }
}

TEST(Deflate, WeInflateZlibAtEveryLevelAndStrategy) {
    struct Setting {
        int level, strategy;
    };
    std::vector<Setting> settings;
    for (int level = 0; level <= 9; ++level) settings.push_back({level, Z_DEFAULT_STRATEGY});
    // Huffman-only and RLE give dynamic blocks of unusual shape; Z_FIXED fixed-code blocks.
    for (int s : {Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED}) settings.push_back({6, s});
    for (const auto& sample : samples()) {
        for (const auto& st : settings) {
            // The longest sample at the default level only: the rest cover the settings.
            if (sample.data.size() > 1000000 && st.level != 6) continue;
            for (int k = 0; k < 3; ++k) {
                SCOPED_TRACE(std::string(sample.name) + " " + name_of(kFramings[k]) + " level " +
                             std::to_string(st.level) + " strategy " + std::to_string(st.strategy));
                Bytes packed = zlib_deflate(sample.data, kWindowBits[k], st.level, st.strategy), back;
                ASSERT_EQ(ours(kFramings[k], packed, back), InflateStatus::ok);
                EXPECT_TRUE(back == sample.data);
            }
        }
    }
}

// The compressor's output is fully determined: one fixed-code block, first-fit matches.
TEST(Deflate, CompressorBytesAreExact) {
    struct Case {
        const char* name;
        Bytes input;
        Framing framing;
        const char* hex;
    };
    const Case cases[] = {
        {"empty raw", {}, Framing::raw, "0300"},
        {"empty zlib", {}, Framing::zlib, "7801030000000001"},
        {"empty gzip", {}, Framing::gzip, "1F8B080000000000040403000000000000000000"},
        // 3 literals, then 258 bytes at distance 1, twice 258 and once 223 at distance 258.
        {"run of 1000", Bytes(1000, 'a'), Framing::raw, "4B4C4C1C05A321301A02C33C0400"},
        // The repeat is found 6 bytes back: the first 3 bytes are always literals.
        {"hello x3", bytes_of("hello hello hello"), Framing::raw, "CB48CDC9C957402201"},
        {"two bytes", bytes_of("ab"), Framing::zlib, "78014B4C0200012600C4"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(hex(kel::codec::compress(c.framing, c.input.data(), c.input.size())), c.hex);
    }
}

// Data that begins like a gzip member is compressed like any other, so it comes back.
TEST(Deflate, GzipAlwaysCompresses) {
    Bytes data = bytes_of("\x1f\x8b\x08\x00 looks like a member"), back;
    Bytes packed = kel::codec::gzip_compress(data.data(), data.size());
    EXPECT_NE(packed, data);
    ASSERT_EQ(ours(Framing::gzip, packed, back), InflateStatus::ok);
    EXPECT_EQ(back, data);
}

TEST(Deflate, Checksums) {
    Bytes abc = bytes_of("123456789");
    EXPECT_EQ(kel::codec::crc32(abc.data(), abc.size()), 0xCBF43926u);
    EXPECT_EQ(kel::codec::adler32(abc.data(), abc.size()), 0x091E01DEu);
    // Long enough to pass the point where the sums must be reduced.
    Bytes ff(100000, 0xFF);
    EXPECT_EQ(kel::codec::adler32(ff.data(), ff.size()), uint32_t(::adler32(1, ff.data(), uInt(ff.size()))));
    EXPECT_EQ(kel::codec::crc32(ff.data(), ff.size()), uint32_t(::crc32(0, ff.data(), uInt(ff.size()))));
}

namespace {

// Bits least significant first; Huffman codes go in most significant bit first.
struct Bits {
    Bytes out;
    unsigned used = 0;
    void put(uint32_t v, unsigned n) {
        for (unsigned i = 0; i < n; ++i) {
            if (used % 8 == 0) out.push_back(0);
            out.back() |= uint8_t(((v >> i) & 1) << (used % 8));
            ++used;
        }
    }
    void code(uint32_t c, unsigned n) {
        for (unsigned i = n; i-- > 0;) put((c >> i) & 1, 1);
    }
};

Bytes with_gzip_header(uint8_t flags, const Bytes& extra_fields, const Bytes& payload) {
    Bytes raw = zlib_deflate(payload, -15, 6, Z_DEFAULT_STRATEGY);
    Bytes g = {0x1F, 0x8B, 0x08, flags, 0, 0, 0, 0, 0, 3};
    g.insert(g.end(), extra_fields.begin(), extra_fields.end());
    if (flags & 2) {
        uint32_t h = uint32_t(::crc32(0, g.data(), uInt(g.size())));
        g.push_back(uint8_t(h)), g.push_back(uint8_t(h >> 8));
    }
    g.insert(g.end(), raw.begin(), raw.end());
    uint32_t crc = uint32_t(::crc32(0, payload.data(), uInt(payload.size())));
    for (uint32_t v : {crc, uint32_t(payload.size())})
        for (int i = 0; i < 4; ++i) g.push_back(uint8_t(v >> (8 * i)));
    return g;
}

}  // namespace

TEST(Deflate, CorruptStreamsAreRefused) {
    Bytes text = text_like(5000, 9);
    Bytes z = kel::codec::zlib_compress(text.data(), text.size());
    Bytes raw = kel::codec::deflate_compress(text.data(), text.size());
    Bytes gz = kel::codec::gzip_compress(text.data(), text.size());

    Bits far;  // a literal, then a match reaching 2 bytes back
    far.put(1, 1), far.put(1, 2), far.code(0x30 + 'a', 8), far.code(1, 7), far.code(1, 5), far.code(0, 7);
    Bits repeat_first;  // dynamic block whose first length is a repeat of nothing
    repeat_first.put(1, 1), repeat_first.put(2, 2), repeat_first.put(0, 5), repeat_first.put(0, 5);
    repeat_first.put(0, 4), repeat_first.put(1, 3), repeat_first.put(0, 3), repeat_first.put(0, 3);
    repeat_first.put(1, 3), repeat_first.code(1, 1), repeat_first.put(0, 8);
    Bits oversubscribed;  // three code-length codes of one bit
    oversubscribed.put(1, 1), oversubscribed.put(2, 2), oversubscribed.put(0, 10), oversubscribed.put(0, 4);
    oversubscribed.put(1, 3), oversubscribed.put(1, 3), oversubscribed.put(1, 3), oversubscribed.put(0, 8);
    Bits length_286;  // fixed-code length symbol 286 (code 0xC6, 8 bits) has no meaning
    length_286.put(1, 1), length_286.put(1, 2), length_286.code(0x30 + 'a', 8), length_286.code(0xC6, 8);
    length_286.put(0, 16);

    auto cut = [](Bytes b, size_t n) { b.resize(b.size() - n); return b; };
    auto flip = [](Bytes b, size_t at) { b[at] ^= 0x01; return b; };
    Bytes fdict = z;
    fdict[1] = 0x20;  // FDICT set, header check still a multiple of 31
    Bytes huge_isize = gz;
    for (size_t i = gz.size() - 4; i < gz.size(); ++i) huge_isize[i] = 0xFF;

    struct Case {
        const char* name;
        Framing framing;
        Bytes stream;
        InflateStatus expected;
    };
    const Case cases[] = {
        {"stored, not final, then the end", Framing::raw, {0x00, 1, 0, 0xFE, 0xFF, 'x'}, InflateStatus::bad_data},
        {"stored NLEN mismatch", Framing::raw, {0x01, 1, 0, 0, 0, 'x'}, InflateStatus::bad_data},
        {"stored longer than the input", Framing::raw, {0x01, 5, 0, 0xFA, 0xFF, 'x'}, InflateStatus::stored_overrun},
        {"stored header cut", Framing::raw, {0x01, 1, 0}, InflateStatus::bad_data},
        {"block type 3", Framing::raw, {0x07}, InflateStatus::bad_block_type},
        {"distance before the start", Framing::raw, far.out, InflateStatus::bad_distance},
        {"repeat with no previous length", Framing::raw, repeat_first.out, InflateStatus::bad_data},
        {"over-subscribed code", Framing::raw, oversubscribed.out, InflateStatus::bad_data},
        {"length symbol 286", Framing::raw, length_286.out, InflateStatus::bad_data},
        {"raw cut in the middle", Framing::raw, cut(raw, raw.size() / 2), InflateStatus::bad_data},
        {"raw missing its last byte", Framing::raw, cut(raw, 1), InflateStatus::bad_data},
        {"empty input", Framing::raw, {}, InflateStatus::bad_data},
        {"zlib cut", Framing::zlib, cut(z, 10), InflateStatus::bad_data},
        {"zlib bad Adler-32", Framing::zlib, flip(z, z.size() - 1), InflateStatus::bad_data},
        {"zlib FDICT", Framing::zlib, fdict, InflateStatus::bad_data},
        {"zlib header not a multiple of 31", Framing::zlib, flip(z, 1), InflateStatus::bad_data},
        {"zlib method 7", Framing::zlib, {0x77, 0x01, 3, 0, 0, 0, 0, 1}, InflateStatus::bad_data},
        {"gzip bad CRC", Framing::gzip, flip(gz, gz.size() - 8), InflateStatus::bad_data},
        {"gzip size mismatch", Framing::gzip, flip(gz, gz.size() - 4), InflateStatus::bad_data},
        {"gzip size 4 GiB", Framing::gzip, huge_isize, InflateStatus::bad_data},
        {"gzip cut", Framing::gzip, cut(gz, 12), InflateStatus::bad_data},
        {"gzip under 18 bytes", Framing::gzip, cut(kel::codec::gzip_compress(nullptr, 0), 1), InflateStatus::bad_data},
        {"gzip reserved flag", Framing::gzip, with_gzip_header(0x20, {}, text), InflateStatus::bad_data},
        {"gzip name not ended", Framing::gzip, with_gzip_header(0x08, bytes_of("name"), {}), InflateStatus::bad_data},
        {"gzip extra longer than the member", Framing::gzip, with_gzip_header(0x04, {0xFF, 0x00, 1, 2}, {}), InflateStatus::bad_data},
        {"gzip header CRC wrong", Framing::gzip, flip(with_gzip_header(0x0A, bytes_of(std::string("n\0", 2)), text), 12), InflateStatus::bad_data},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes out;
        EXPECT_EQ(ours(c.framing, c.stream, out), c.expected);
        EXPECT_TRUE(out.empty());
    }
}

TEST(Deflate, GzipHeaderFieldsAreSkipped) {
    Bytes text = text_like(3000, 4), out;
    Bytes fields = {3, 0, 'a', 'b', 'c'};  // FEXTRA: XLEN 3
    for (char c : std::string("file.txt")) fields.push_back(uint8_t(c));
    fields.push_back(0);
    for (char c : std::string("a comment")) fields.push_back(uint8_t(c));
    fields.push_back(0);
    ASSERT_EQ(ours(Framing::gzip, with_gzip_header(0x1E, fields, text), out), InflateStatus::ok);
    EXPECT_EQ(out, text);
    Bytes name_only = bytes_of(std::string("n\0", 2));
    ASSERT_EQ(ours(Framing::gzip, with_gzip_header(0x0A, name_only, text), out), InflateStatus::ok);
    EXPECT_EQ(out, text);
}

// Size hints only pre-size the output: a wrong one changes nothing, a huge one allocates
// nothing like it, and the limit holds whatever the stream claims.
TEST(Deflate, SizesAreHintsAndTheLimitHolds) {
    Bytes zeros(1 << 20, 0), out;
    Bytes z = kel::codec::zlib_compress(zeros.data(), zeros.size());
    for (size_t hint : {size_t(0), size_t(1), size_t(1000), size_t(1) << 20, size_t(1) << 40}) {
        SCOPED_TRACE(hint);
        ASSERT_EQ(ours(Framing::zlib, z, out, hint), InflateStatus::ok);
        EXPECT_EQ(out, zeros);
    }
    EXPECT_EQ(ours(Framing::zlib, z, out, 0, 1000), InflateStatus::too_large);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(ours(Framing::zlib, z, out, 0, zeros.size()), InflateStatus::ok);
    Bytes stored = {0x01, 4, 0, 0xFB, 0xFF, 'a', 'b', 'c', 'd'};
    EXPECT_EQ(ours(Framing::raw, stored, out, 0, 3), InflateStatus::too_large);
    ASSERT_EQ(ours(Framing::raw, stored, out, 0, 4), InflateStatus::ok);
    EXPECT_EQ(out, bytes_of("abcd"));
}
