// The in-house sums against plain bit-at-a-time definitions, over the lengths and
// alignments that pick the different code paths (table bytes, 64-byte folding with its
// 16-byte and single-byte tails).
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "evaluator/checksum.h"

namespace kel {
namespace {

u32 crc_bitwise(const u8* p, size_t n) {
    u32 c = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
    }
    return ~c;
}

u32 adler_plain(const u8* p, size_t n) {
    u64 a = 1, b = 0;
    for (size_t i = 0; i < n; ++i) {
        a = (a + p[i]) % 65521;
        b = (b + a) % 65521;
    }
    return u32(a | b << 16);
}

std::vector<u8> noise(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::vector<u8> v(n);
    for (auto& b : v) b = u8(gen());
    return v;
}

TEST(ChecksumTest, Crc32MatchesTheDefinitionAtEveryLengthAndAlignment) {
    auto data = noise(700, 1);
    for (size_t offset = 0; offset < 16; ++offset)
        for (size_t n = 0; n + offset <= 680; ++n)
            ASSERT_EQ(ev::checksum_crc32(data.data() + offset, n), crc_bitwise(data.data() + offset, n))
                << "offset " << offset << " length " << n;
}

TEST(ChecksumTest, Crc32ContinuesAcrossPieces) {
    auto data = noise(1 << 20, 2);
    u32 whole = ev::checksum_crc32(data.data(), data.size());
    EXPECT_EQ(whole, crc_bitwise(data.data(), data.size()));
    for (size_t cut : {size_t(0), size_t(1), size_t(63), size_t(64), size_t(1000), size_t(1 << 19)}) {
        u32 first = codec::crc32(data.data(), cut);
        EXPECT_EQ(codec::crc32(data.data() + cut, data.size() - cut, first), whole) << "cut " << cut;
    }
}

TEST(ChecksumTest, Adler32MatchesTheDefinition) {
    // Long runs of 0xFF are where unreduced sums would overflow.
    std::vector<u8> ff(200000, 0xFF);
    EXPECT_EQ(ev::checksum_adler32(ff.data(), ff.size()), adler_plain(ff.data(), ff.size()));
    auto data = noise(100003, 3);
    for (size_t n : {size_t(0), size_t(1), size_t(15), size_t(16), size_t(17), size_t(5552), size_t(5553), data.size()})
        EXPECT_EQ(ev::checksum_adler32(data.data(), n), adler_plain(data.data(), n)) << "length " << n;
    u32 first = codec::adler32(data.data(), 7000);
    EXPECT_EQ(codec::adler32(data.data() + 7000, data.size() - 7000, first),
              adler_plain(data.data(), data.size()));
    // Continuing from sums near the modulus, on 0xFF and at odd starts: the widest sums a
    // step of sixteen bytes can meet.
    for (size_t cut : {size_t(5551), size_t(5552), size_t(65521), size_t(70001)})
        EXPECT_EQ(codec::adler32(ff.data() + cut, ff.size() - cut, codec::adler32(ff.data(), cut)),
                  adler_plain(ff.data(), ff.size()))
            << "cut " << cut;
}

}  // namespace
}  // namespace kel
