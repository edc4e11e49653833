// Unicode conversion: decoding, validation, loading into string buffers, UTF-8 and UTF-16
// output and the round trips between them.
#include <string>

#include "runtime/errors.h"
#include "runtime/unicode.h"
#include "support.h"
#include "text_support.h"

namespace kel::rt {
namespace {

using test::catch_error;
using test::node_text;
using test::node_unit;
using test::push_text;

const u8* bytes(const std::string& s) { return reinterpret_cast<const u8*>(s.data()); }

class UnicodeTest : public test::RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        bare_.install();
    }
    void TearDown() override {
        bare_.remove();
    }
    // The bytes of the binary! argument of an invalid-utf8 error, or "<no error>".
    static std::string utf8_fault(const std::function<void()>& body) {
        Err e = catch_error(body);
        if (e != Err::access_invalid_utf8) return "<no error>";
        EXPECT_EQ(type_of(&test::BareErrors::last_arg1), T_BINARY);
        return test::binary_bytes(&test::BareErrors::last_arg1);
    }

private:
    test::BareErrors bare_;
};

TEST_F(UnicodeTest, DfaDecoder) {
    struct Case {
        std::string in;
        i32 cp;
        size_t used;
    };
    for (Case c : {Case{"A", 'A', 1}, Case{"\xC3\xA9z", 0xE9, 2}, Case{"\xE2\x82\xAC", 0x20AC, 3},
                   Case{"\xF0\x9F\x98\x80", 0x1F600, 4}, Case{"\xF4\x8F\xBF\xBF", 0x10FFFF, 4},
                   Case{"\x80z", -1, 1}, Case{"\xC0\x80", -1, 1}, Case{"\xF5\x80", -1, 1}, Case{"\xE2\x41", -1, 2},
                   Case{"\xE2\x82", -1, 2}, Case{"\xED\xA0\x80", -1, 2}, Case{"\xE0\x80\x80", -1, 2},
                   Case{"\xF4\x90\x80\x80", -1, 2}}) {
        i32 cp = 0;
        const u8* end = bytes(c.in) + c.in.size();
        const u8* next = utf8_decode_char(bytes(c.in), end, &cp);
        EXPECT_EQ(cp, c.cp) << c.in;
        EXPECT_EQ(size_t(next - bytes(c.in)), c.used) << c.in;
    }
    std::string s = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
    EXPECT_EQ(utf8_count_chars(bytes(s), bytes(s) + s.size()), 4u);
    EXPECT_EQ(utf8_skip_chars(bytes(s), bytes(s) + s.size(), 2), bytes(s) + 3);
    EXPECT_EQ(utf8_skip_chars(bytes(s), bytes(s) + s.size(), 9), bytes(s) + s.size());
    EXPECT_EQ(utf8_lead_length(0xF0), 4u);
    EXPECT_EQ(utf8_lead_length(0xE2), 3u);
    EXPECT_EQ(utf8_lead_length(0xC3), 2u);
    EXPECT_EQ(utf8_lead_length(0x80), 0u);
    EXPECT_EQ(utf8_lead_length('A'), 0u);
}

TEST_F(UnicodeTest, ValidatingDecoderAccepts) {
    struct Case {
        std::string in;
        i32 cp;
        u32 used;
    };
    for (Case c : {Case{std::string(1, '\0'), 0, 1}, Case{"\xC3\xA9", 0xE9, 2}, Case{"\xEE\xB0\x80", 0xEC00, 3},
                   Case{"\xEF\xBF\xBF", 0xFFFF, 3}, Case{"\xF4\x8F\xBF\xBF", 0x10FFFF, 4},
                   // Too few bytes for a sequence that is well-formed so far: left for the next chunk.
                   Case{"\xE2\x82", -1, 0}, Case{"\xF0\x9F\x98", -1, 0}, Case{"\xC3", -1, 0}}) {
        u32 used = 99;
        EXPECT_EQ(utf8_decode_next(bytes(c.in), u32(c.in.size()), &used), c.cp) << c.in;
        EXPECT_EQ(used, c.used) << c.in;
    }
}

TEST_F(UnicodeTest, ValidatingDecoderRejectsWithTheFaultyBytes) {
    struct Case {
        std::string in, fault;
    };
    for (Case c : {Case{"\x80", "\x80"}, Case{"\xBF\x41", "\xBF\x41"}, Case{"\xC0\x80", "\xC0\x80"},
                   Case{"\xC1\xBF", "\xC1\xBF"}, Case{"\xE0\x80\x80", "\xE0\x80\x80"}, Case{"\xE0\x9F\xBF", "\xE0\x9F\xBF"},
                   Case{"\xF0\x8F\xBF\xBF", "\xF0\x8F\xBF\xBF"}, Case{"\xED\xA0\x80", "\xED\xA0\x80"},
                   Case{"\xED\xB0\x80", "\xED\xB0\x80"}, Case{"\xED\xBF\xBF", "\xED\xBF\xBF"},
                   Case{"\xF4\x90\x80\x80", "\xF4\x90\x80\x80"}, Case{"\xF5\x80\x80\x80", "\xF5\x80\x80\x80"},
                   Case{"\xF8", "\xF8"}, Case{"\xEF\xBF\xBE", "\xEF\xBF\xBE"}, Case{"\xE2\x41\x42", "\xE2\x41\x42"},
                   // A bad byte shows before the sequence is complete.
                   Case{"\xE2\x41", "\xE2\x41"}, Case{"\xF0\x9F\x41", "\xF0\x9F\x41"},
                   // At most four bytes are copied.
                   Case{"\x80\x41\x42\x43\x44", "\x80\x41\x42\x43"}}) {
        u32 used;
        EXPECT_EQ(utf8_fault([&] { utf8_decode_next(bytes(c.in), u32(c.in.size()), &used); }), c.fault) << c.in;
    }
}

TEST_F(UnicodeTest, CharSizesAndEncoding) {
    EXPECT_EQ(utf8_char_size(0x7F), 1u);
    EXPECT_EQ(utf8_char_size(0x80), 2u);
    EXPECT_EQ(utf8_char_size(0xFFFF), 3u);
    EXPECT_EQ(utf8_char_size(0x10FFFF), 4u);
    EXPECT_EQ(catch_error([] { utf8_char_size(0x110000); }), Err::script_invalid_char);
    EXPECT_EQ(get_int(&test::BareErrors::last_arg1), 0x110000);
    u8 out[4];
    EXPECT_EQ(catch_error([&] { utf8_encode_char(0xFFFFFFFF, out); }), Err::script_invalid_char);
    EXPECT_EQ(utf8_encode_char_bounded(0x20AC, out, 2), 0u);  // never cut
    EXPECT_EQ(utf8_encode_char_bounded(0x20AC, out, 3), 3u);
    std::u32string text = U"a\u00E9\u20AC\U0001F600";
    Cell* s = push_text(4, text);
    SeriesBuffer* b = buffer_of(series_node(s));
    EXPECT_EQ(utf8_string_size(at(b->offset), at(b->tail), 4), 10u);
}

TEST_F(UnicodeTest, LoadingWidensAsWiderCharactersArrive) {
    Node n = load_utf8_new(bytes("\xC3\xA9"), 2);
    EXPECT_EQ(node_unit(n), 1u);
    EXPECT_EQ(node_text(n), U"\u00E9");
    n = load_utf8_new(bytes("\xC3\xA9\xE2\x82\xAC"), 5);
    EXPECT_EQ(node_unit(n), 2u);
    EXPECT_EQ(node_text(n), U"\u00E9\u20AC");
    n = load_utf8_new(bytes("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"), 9);
    EXPECT_EQ(node_unit(n), 4u);
    EXPECT_EQ(node_text(n), U"\u00E9\u20AC\U0001F600");
    // Widening late in a long text leaves room for the rest.
    std::string in(3000, 'x');
    in += "\xE2\x82\xAC";
    in += std::string(3000, 'y');
    in += "\xF0\x9F\x98\x80z";
    n = load_utf8_new(bytes(in), u32(in.size()));
    EXPECT_EQ(node_unit(n), 4u);
    EXPECT_EQ(node_text(n), std::u32string(3000, U'x') + U"\u20AC" + std::u32string(3000, U'y') + U"\U0001F600z");
}

TEST_F(UnicodeTest, LoadingChunksMarksAndLineEnds) {
    u32 remaining = 99;
    Node n = load_utf8(bytes("ab\xE2\x82"), 4, 0, &remaining, false);
    EXPECT_EQ(node_text(n), U"ab");
    EXPECT_EQ(remaining, 2u);

    n = load_utf8(bytes("\xEF\xBB\xBF"), 3, 0, &remaining, false);
    EXPECT_EQ(node_text(n), U"");
    EXPECT_EQ(remaining, 0u);
    EXPECT_EQ(node_text(load_utf8_new(bytes("\xEF\xBB\xBFx"), 4)), U"x");

    n = load_utf8(bytes("A\r\nB\rD\r"), 7, 0, nullptr, true);
    EXPECT_EQ(node_text(n), U"A\nB\nD\n");
    EXPECT_EQ(node_text(load_utf8_new(bytes("A\r\nB"), 4)), U"A\r\nB");  // untouched without the flag

    EXPECT_EQ(utf8_fault([] { load_utf8_new(bytes("ok\xC0\x80"), 4); }), "\xC0\x80");
}

TEST_F(UnicodeTest, LoadingIntoAnExistingStringReplacesItsText) {
    Cell* s = push_text(2, U"old text that is long");
    u32 remaining = 7;
    Node n = load_utf8_into(bytes("new"), 3, s, &remaining);
    EXPECT_EQ(n, series_node(s));
    EXPECT_EQ(remaining, 0u);
    EXPECT_EQ(node_unit(n), 2u);  // a buffer never narrows
    EXPECT_EQ(node_text(n), U"new");
    // A small buffer grows to hold the text.
    Cell* t = push_text(1, U"");
    std::string in(500, 'q');
    load_utf8_into(bytes(in), u32(in.size()), t, nullptr);
    EXPECT_EQ(node_text(series_node(t)), std::u32string(500, U'q'));
}

TEST_F(UnicodeTest, StringToUtf8Variants) {
    Cell* s = push_text(1, U"caf\u00E9\nbar");
    i32 len = -1;
    EXPECT_STREQ(string_to_utf8(s, &len), "caf\xC3\xA9\nbar");
    EXPECT_EQ(len, 9);
    Node scratch = s->data3;
    EXPECT_NE(scratch, 0u);
    len = 3;
    EXPECT_STREQ(string_to_utf8(s, &len), "caf");
    EXPECT_EQ(len, 3);
    EXPECT_EQ(s->data3, scratch);  // reused
    len = -1;
    EXPECT_STREQ(string_to_utf8_len(s, &len, true), "caf\xC3\xA9\r\nbar");
    EXPECT_EQ(len, 10);
    s->data1 = 5;  // from the head
    len = -1;
    EXPECT_STREQ(string_to_utf8(s, &len), "bar");

    Cell* wide = push_text(4, U"a\u20ACb");
    u8 out[16];
    std::memset(out, 0xAA, sizeof out);
    EXPECT_EQ(string_to_utf8_into(wide, out, -1, true), 5u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 6), std::string("a\xE2\x82\xAC" "b", 5) + '\0');
    EXPECT_EQ(string_to_utf8_into(wide, out, 1, false), 1u);

    struct Bounded {
        u32 room;
        bool nul;
        std::string expect;
    };
    for (Bounded c : {Bounded{5, true, "a\xE2\x82\xAC"}, Bounded{4, true, "a"}, Bounded{4, false, "a\xE2\x82\xAC"},
                      Bounded{6, true, "a\xE2\x82\xAC" "b"}, Bounded{1, true, ""}, Bounded{0, false, ""}}) {
        std::memset(out, 0xAA, sizeof out);
        u32 n = string_to_utf8_bounded(wide, out, c.room, 0, c.nul);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(out), n), c.expect) << c.room << c.nul;
        if (c.nul) {
            EXPECT_EQ(out[n], 0) << c.room;
        }
        EXPECT_EQ(out[c.room], 0xAA) << "wrote past the room " << c.room;
    }

    Cell* bad = push_text(4, U"x");
    *at<u32>(buffer_of(series_node(bad))->offset) = 0x110000;
    len = -1;
    EXPECT_EQ(catch_error([&] { string_to_utf8(bad, &len); }), Err::script_invalid_char);

    // The collector marks the third word of string kinds only: a binary! keeps none.
    Cell* bin = push_text(1, U"\u00FF", T_BINARY);
    len = -1;
    EXPECT_STREQ(string_to_utf8(bin, &len), "\xC3\xBF");
    EXPECT_EQ(bin->data3, 0u);
}

std::u16string utf16_of(const u16* p, i32 n) { return std::u16string(reinterpret_cast<const char16_t*>(p), size_t(n)); }

TEST_F(UnicodeTest, StringToUtf16) {
    Cell* s = push_text(4, U"\U0001F600");
    const u16* out = string_to_utf16(s);
    EXPECT_EQ(utf16_of(out, 3), (std::u16string{0xD83D, 0xDE00, 0}));

    Cell* lines = push_text(1, U"a\nb");
    EXPECT_EQ(utf16_of(string_to_utf16(lines), 4), std::u16string(u"a\nb\0", 4));  // no CR for the OS
    i32 len = -1;
    out = string_to_utf16_len(lines, &len, true);
    EXPECT_EQ(utf16_of(out, len + 1), std::u16string(u"a\r\nb\0", 5));
    EXPECT_EQ(len, 4);

    u16 units[2];
    EXPECT_EQ(utf16_encode_char('A', units), 1u);
    EXPECT_EQ(utf16_encode_char(0x10FFFF, units), 2u);
    EXPECT_EQ(units[0], 0xDBFF);
    EXPECT_EQ(units[1], 0xDFFF);
    EXPECT_EQ(utf16_encode_char(0x110000, units), 0u);
    u16 ascii[4];
    ascii_to_utf16("ab\xE9", ascii);
    EXPECT_EQ(utf16_of(ascii, 4), (std::u16string{'a', 'b', 0xE9, 0}));

    Cell* bad = push_text(4, U"x");
    *at<u32>(buffer_of(series_node(bad))->offset) = 0x110000;
    EXPECT_EQ(catch_error([&] { string_to_utf16(bad); }), Err::script_invalid_char);
}

TEST_F(UnicodeTest, LoadUtf16PicksTheNarrowestUnit) {
    struct Case {
        std::u16string in;
        u32 unit;
        std::u32string out;
    };
    for (Case c : {Case{u"AB\u00E9", 1, U"AB\u00E9"}, Case{u"A\u20AC", 2, U"A\u20AC"},
                   Case{u"A\U0001F600\u20AC", 4, U"A\U0001F600\u20AC"}, Case{u"", 2, U""}}) {
        Node n = load_utf16le(c.in.data(), u32(c.in.size()), nullptr, false);
        EXPECT_EQ(node_unit(n), c.unit);
        EXPECT_EQ(node_text(n), c.out);
        EXPECT_TRUE(buffer_of(n)->flags & SB_UTF16_LOADED);
    }
    std::u16string crlf = u"a\r\nb";
    EXPECT_EQ(node_text(load_utf16le(crlf.data(), 4, nullptr, true)), U"a\nb");
    // Any alignment.
    std::string odd = std::string("x") + std::string("h\0i\0", 4);
    EXPECT_EQ(node_text(load_utf16le(odd.data() + 1, 2, nullptr, false)), U"hi");
}

TEST_F(UnicodeTest, BrokenUtf16PairsAreErrorsWithTheirUnits) {
    struct Case {
        std::u16string in;
        std::string fault;
    };
    for (Case c : {Case{std::u16string{0xD83D, 'A'}, std::string("\x3D\xD8" "A\0", 4)},
                   Case{std::u16string{'x', 0xD83D}, "\x3D\xD8"}, Case{std::u16string{0xDE00, 'y'}, std::string("\x00\xDE", 2)},
                   Case{std::u16string{0xD83D, 0xD83D, 0xDE00}, "\x3D\xD8\x3D\xD8"}})
        EXPECT_EQ(utf8_fault([&] { load_utf16le(c.in.data(), u32(c.in.size()), nullptr, false); }), c.fault);
}

TEST_F(UnicodeTest, RoundTrips) {
    std::u32string text = U"A\x7F\x80\u00FF\u0100\u07FF\u0800\uD7FF\uE000\uFFFD\uFFFF\U00010000\U0001F600\U0010FFFF";
    for (char32_t c = 1; c < 0x3000; c += 7) text += c;
    Cell* s = push_text(4, text);
    i32 len = -1;
    const char* utf8 = string_to_utf8(s, &len);
    EXPECT_EQ(node_text(load_utf8_new(reinterpret_cast<const u8*>(utf8), u32(len))), text);
    len = -1;
    const u16* utf16 = string_to_utf16_len(s, &len, false);
    EXPECT_EQ(node_text(load_utf16le(utf16, u32(len), nullptr, false)), text);
    // Through the value's own scratch buffer, as an OS call would leave it.
    len = -1;
    string_to_utf16_len(s, &len, false);
    Cell* target = push_text(1, U"");
    target->data3 = s->data3;
    EXPECT_EQ(node_text(load_utf16le(nullptr, u32(len), target, false)), text);
    // Without a scratch buffer there is nothing to take.
    Cell* bare = push_text(1, U"abc");
    EXPECT_EQ(node_text(load_utf16le(nullptr, 5, bare, false)), U"");
}

TEST_F(UnicodeTest, WideningKeepsTextAfterHeadRoom) {
    Node n = alloc_series(8, 1, -1);  // the first used unit in the middle of the data
    SeriesBuffer* b = buffer_of(n);
    std::memcpy(at(b->offset), "abcd", 4);
    b->tail = b->offset + 4;
    b = widen_latin1_to_ucs2(b);
    EXPECT_EQ(node_text(n), U"abcd");
    b = widen_ucs2_to_ucs4(b);
    EXPECT_EQ(node_unit(n), 4u);
    EXPECT_EQ(node_text(n), U"abcd");
    EXPECT_EQ(buffer_of(n), b);
}

}  // namespace
}  // namespace kel::rt
