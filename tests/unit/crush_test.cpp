// The crush LZ format: round trips over the shared samples and across the 1 MiB chunk
// boundary, what the encoder refuses, and hand-made streams that the decoder must refuse
// (or, for the overlapping copy, read exactly).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec/crush.h"
#include "codec_support.h"

using namespace codec_test;
using kel::codec::CrushError;

namespace {

Bytes decode(const Bytes& in, CrushError expected = CrushError::none) {
    Bytes out;
    EXPECT_EQ(kel::codec::crush_decompress(in.data(), in.size(), out), expected);
    return out;
}

// A stream by hand: bits least significant first, chunk words on byte boundaries.
struct Stream {
    Bytes body;
    unsigned used = 0;
    void word(uint32_t v) {
        used = 0;
        for (int i = 0; i < 4; ++i) body.push_back(uint8_t(v >> (8 * i)));
    }
    void put(uint32_t v, unsigned n) {
        for (unsigned i = 0; i < n; ++i) {
            if (used % 8 == 0) body.push_back(0);
            body.back() |= uint8_t(((v >> i) & 1) << (used % 8));
            ++used;
        }
    }
    void literal(uint8_t b) { put(0, 1), put(b, 8); }
    // Length codes 0-3 and distances 1-8 only: enough for the fixtures.
    void match(uint32_t length, uint32_t distance) {
        put(1, 1), put(1, 1), put(length - 3, 2), put(0, 4), put(distance - 1, 3);
    }
    Bytes with_header(uint32_t unpacked) const {
        Bytes s;
        for (uint32_t v : {uint32_t(body.size()), unpacked})
            for (int i = 0; i < 4; ++i) s.push_back(uint8_t(v >> (8 * i)));
        s.insert(s.end(), body.begin(), body.end());
        return s;
    }
};

}  // namespace

TEST(Crush, RoundTrips) {
    auto cases = samples();
    cases.push_back({"128 bytes", text_like(128, 5)});
    cases.push_back({"one chunk exactly", text_like(1 << 20, 6)});
    cases.push_back({"one chunk and a byte", text_like((1 << 20) + 1, 6)});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes packed;
        CrushError e = kel::codec::crush_compress(c.data.data(), c.data.size(), packed);
        if (c.data.size() < 128) {
            EXPECT_EQ(e, CrushError::too_short);
            continue;
        }
        if (e == CrushError::no_gain) {
            EXPECT_EQ(std::string(c.name), "incompressible");
            continue;
        }
        ASSERT_EQ(e, CrushError::none);
        EXPECT_LE(packed.size(), c.data.size());
        EXPECT_EQ(decode(packed), c.data);
    }
}

TEST(Crush, EncoderRefusals) {
    Bytes out;
    Bytes a127(127, 'a'), a128(128, 'a'), noise = random_bytes(5000, 11);
    EXPECT_EQ(kel::codec::crush_compress(a127.data(), a127.size(), out), CrushError::too_short);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(kel::codec::crush_compress(a128.data(), a128.size(), out), CrushError::none);
    EXPECT_EQ(decode(out), a128);
    EXPECT_EQ(kel::codec::crush_compress(noise.data(), noise.size(), out), CrushError::no_gain);
    EXPECT_TRUE(out.empty());
}

TEST(Crush, OverlappingCopyRepeatsTheByte) {
    Stream s;
    s.word(11);
    s.literal('z');
    s.put(1, 1), s.put(0b10, 2), s.put(3, 2), s.put(0, 4), s.put(0, 3);  // length 10, distance 1
    EXPECT_EQ(decode(s.with_header(11)), Bytes(11, 'z'));
}

TEST(Crush, CorruptStreamsAreRefused) {
    struct Case {
        const char* name;
        Bytes stream;
        CrushError expected;
    };
    auto chunk_of = [](uint32_t length, uint32_t unpacked) {
        Stream s;
        s.word(length);
        s.literal('x');
        return s.with_header(unpacked);
    };
    // Long enough a body that the header's unpacked size is believable.
    auto padded = [](Bytes stream) {
        stream.resize(stream.size() + 6000);
        uint32_t packed = uint32_t(stream.size() - 8);
        for (int i = 0; i < 4; ++i) stream[i] = uint8_t(packed >> (8 * i));
        return stream;
    };
    Stream match_first;
    match_first.word(4);
    match_first.match(4, 1);
    Stream too_long;
    too_long.word(4);
    too_long.literal('a');
    too_long.match(4, 1);  // 5 bytes in a chunk of 4
    Stream too_far;
    too_far.word(5);
    too_far.literal('a');
    too_far.match(4, 2);
    Stream second_chunk_reaches_back;  // matches never cross a chunk boundary
    second_chunk_reaches_back.word(1);
    second_chunk_reaches_back.literal('a');
    second_chunk_reaches_back.word(3);
    second_chunk_reaches_back.match(3, 1);
    Stream cut;
    cut.word(3);
    cut.literal('a');
    cut.literal('b');
    Bytes big_claim = chunk_of(1, 1);
    big_claim[4] = 0xFF, big_claim[5] = 0xFF, big_claim[6] = 0xFF, big_claim[7] = 0x7F;
    Bytes negative = chunk_of(1, 1);
    negative[3] = 0x80;
    Bytes packed_past_end = chunk_of(1, 1);
    packed_past_end[0] += 1;
    Bytes short_word = chunk_of(1, 1);
    short_word.push_back(0);
    short_word[0] += 1;  // a 1-byte remainder where a chunk word should be

    const Case cases[] = {
        {"chunk length 0", chunk_of(0, 1), CrushError::bad_chunk_length},
        {"chunk length 1,048,577", padded(chunk_of(1048577, 1048577)), CrushError::bad_chunk_length},
        {"chunk beyond the unpacked size", chunk_of(2, 1), CrushError::bad_chunk_length},
        {"match at chunk position 0", match_first.with_header(4), CrushError::bad_match},
        {"match past the chunk's end", too_long.with_header(4), CrushError::bad_match},
        {"distance before the chunk", too_far.with_header(5), CrushError::bad_match},
        {"match into the previous chunk", second_chunk_reaches_back.with_header(4), CrushError::bad_match},
        {"symbols cut short", cut.with_header(3), CrushError::truncated},
        {"chunks short of the unpacked size", chunk_of(1, 2), CrushError::size_mismatch},
        {"unpacked size beyond any expansion", big_claim, CrushError::bad_header},
        {"negative packed size", negative, CrushError::bad_header},
        {"packed size past the input", packed_past_end, CrushError::truncated},
        {"chunk word cut", short_word, CrushError::truncated},
        {"under 8 bytes", {1, 0, 0, 0}, CrushError::truncated},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(decode(c.stream, c.expected).empty());
        EXPECT_STRNE(kel::codec::crush_error_text(c.expected), "unknown error");
    }
}

TEST(Crush, DecoderLimit) {
    Bytes data = text_like(10000, 8), packed, out;
    ASSERT_EQ(kel::codec::crush_compress(data.data(), data.size(), packed), CrushError::none);
    EXPECT_EQ(kel::codec::crush_decompress(packed.data(), packed.size(), out, 9999), CrushError::too_large);
    EXPECT_EQ(kel::codec::crush_decompress(packed.data(), packed.size(), out, 10000), CrushError::none);
}
