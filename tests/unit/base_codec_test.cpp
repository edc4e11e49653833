// The base-2, 16, 58 and 64 codecs: exact on known texts, strict on bad input, and never
// reading past the characters they are given (each input sits in a block of its exact
// size, so AddressSanitizer sees any over-read).
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "runtime/base_codec.h"

using namespace kel;

namespace {

std::vector<u8> bytes_of(const std::string& s) { return std::vector<u8>(s.begin(), s.end()); }

std::string encode(u32 base, const std::vector<u8>& b) {
    size_t room = base == 2 ? rt::base2_size(b.size()) : base == 16 ? rt::base16_size(b.size())
                : base == 58 ? rt::base58_size(b.size()) : rt::base64_size(b.size());
    std::unique_ptr<char[]> out(new char[room + 1]);
    char* end = base == 2 ? rt::encode_base2(b.data(), b.size(), out.get())
              : base == 16 ? rt::encode_base16(b.data(), b.size(), out.get())
              : base == 58 ? rt::encode_base58(b.data(), b.size(), out.get())
                           : rt::encode_base64(b.data(), b.size(), out.get());
    EXPECT_LE(size_t(end - out.get()), room);
    return std::string(out.get(), end);
}

// Decodes `text` held in units of `unit` bytes, in a heap block of exactly its size.
bool decode(u32 base, const std::u32string& text, u32 unit, std::vector<u8>& out) {
    std::unique_ptr<u8[]> block(new u8[text.size() * unit]);
    for (size_t i = 0; i < text.size(); ++i) {
        u32 c = text[i];
        std::memcpy(block.get() + i * unit, &c, unit);  // little-endian: the low bytes
    }
    return rt::decode_base(base, block.get(), text.size(), unit, out);
}

std::u32string wide(const std::string& s) {
    std::u32string w;
    for (unsigned char c : s) w.push_back(c);
    return w;
}

struct Case {
    u32 base;
    const char* text;
    bool ok;
    std::string bytes;
};

const Case kCases[] = {
    // base 2: bits most significant first, blanks anywhere, whole bytes only
    {2, "00001111", true, "\x0F"},
    {2, "0000 1111\n1000\t0001", true, "\x0F\x81"},
    {2, "", true, ""},
    {2, "0000111", false, ""},
    {2, "00001112", false, ""},
    {2, "0000;comment 2\n1111", true, "\x0F"},
    // base 16: either case, blanks anywhere, an even digit count
    {16, "0Fff", true, "\x0F\xFF"},
    {16, " 4 1\r\n42 ", true, "AB"},
    {16, "", true, ""},
    {16, "ABC", false, ""},
    {16, "4G", false, ""},
    {16, "41 ; x y z\n42", true, "AB"},
    {16, "41 ; no line end", true, "A"},
    {16, "\xC1" "1", false, ""},  // not "A1": characters above 127 are never digits
    // base 64: padding closes a group of 2 or 3; blanks, apostrophes and comments skipped
    {64, "QUJD", true, "ABC"},
    {64, "QQ==", true, "A"},
    {64, "QUI=", true, "AB"},
    {64, "QQ=", true, "A"},
    {64, "QQ", false, ""},
    {64, "QUI", false, ""},
    {64, "Q", false, ""},
    {64, "Q===", false, ""},
    {64, "=", false, ""},
    {64, "QUJD=", false, ""},
    {64, "QQ==QUJD", false, ""},
    {64, "QQ== ;\n", true, "A"},
    {64, "QU'JD\n", true, "ABC"},
    {64, "QU*JD", false, ""},
    {64, "QU-_", false, ""},
    {64, "", true, ""},
    {64, "Zm9vYmFy", true, "foobar"},
    // base 58: leading "1"s are zero bytes; 0, O, I and l are no digits
    {58, "6", true, "\x05"},
    {58, "1", true, std::string(1, '\0')},
    {58, "112", true, std::string("\0\0\x01", 3)},
    {58, "2NEpo7TZRRrLZSi2U", true, "Hello World!"},
    {58, "11233QC4", true, std::string("\0\0\x28\x7F\xB4\xCD", 6)},
    {58, "2NEpo 7TZR\nRrLZSi2U", true, "Hello World!"},
    {58, "0", false, ""},
    {58, "O", false, ""},
    {58, "I", false, ""},
    {58, "l", false, ""},
    {58, "", true, ""},
};

}  // namespace

TEST(BaseCodec, DecodesTheTableInEveryUnit) {
    for (const Case& c : kCases)
        for (u32 unit : {1u, 2u, 4u}) {
            std::vector<u8> out{0xEE};
            bool ok = decode(c.base, wide(c.text), unit, out);
            EXPECT_EQ(ok, c.ok) << "base " << c.base << " unit " << unit << " text " << c.text;
            EXPECT_EQ(out, bytes_of(c.bytes)) << "base " << c.base << " text " << c.text;
        }
}

TEST(BaseCodec, WideCharactersNeverStandForDigits) {
    // Each text is valid when its last character is taken modulo 128 or 256.
    struct {
        u32 base;
        std::u32string text;
    } cases[] = {{2, U"0000111"}, {16, U"4"}, {58, U""}, {64, U"QUJ"}};
    const char32_t last[] = {U'1', U'1', U'6', U'D'};
    for (size_t i = 0; i < std::size(cases); ++i)
        for (char32_t high : {char32_t(0x80), char32_t(0x100), char32_t(0x10000)}) {
            std::vector<u8> out;
            std::u32string text = cases[i].text + std::u32string(1, char32_t(high + last[i]));
            for (u32 unit : {2u, 4u}) {
                if (unit == 2 && high == 0x10000) continue;
                EXPECT_FALSE(decode(cases[i].base, text, unit, out)) << cases[i].base << " " << unsigned(high);
                EXPECT_TRUE(out.empty());
            }
        }
}

TEST(BaseCodec, EncodesKnownTexts) {
    struct {
        u32 base;
        std::string bytes;
        const char* text;
    } cases[] = {
        {2, "\x0F\x81", "0000111110000001"},
        {16, "\x0F\xAB", "0FAB"},
        {64, "", ""},
        {64, "f", "Zg=="},
        {64, "fo", "Zm8="},
        {64, "foo", "Zm9v"},
        {64, "foob", "Zm9vYg=="},
        {64, "\xFF\xFE", "//4="},
        {58, "\x05", "6"},
        {58, std::string(2, '\0'), "11"},
        {58, "a", "2g"},
        {58, "bbb", "a3gV"},
        {58, "Hello World!", "2NEpo7TZRRrLZSi2U"},
        {58, std::string("\0\xEB\x15\x23\x1D\xFC\xEB\x60\x92\x58\x86\xB6\x7D\x06\x52\x99\x92\x59\x15\xAE\xB1\x72\xC0\x66\x47", 25),
         "1NS17iag9jJgTHD1VXjvLCEnZuQ3rJDE9L"},
    };
    for (const auto& c : cases) EXPECT_EQ(encode(c.base, bytes_of(c.bytes)), c.text) << c.base << " " << c.text;
}

TEST(BaseCodec, RandomBytesRoundTripInEveryBase) {
    std::mt19937 rng(7);
    for (int round = 0; round < 300; ++round) {
        std::vector<u8> b(rng() % 70);
        for (u8& x : b) x = u8(rng() % 4 == 0 ? 0 : rng());
        for (u32 base : {2u, 16u, 58u, 64u}) {
            std::string text = encode(base, b);
            std::vector<u8> back;
            ASSERT_TRUE(decode(base, wide(text), 1, back)) << base;
            ASSERT_EQ(back, b) << base << " " << text;
        }
    }
}

TEST(BaseCodec, UnknownBaseFails) {
    std::vector<u8> out{1};
    EXPECT_FALSE(rt::decode_base(10, "12", 2, 1, out));
    EXPECT_TRUE(out.empty());
}
