// binary! primitives that Kel code cannot reach directly (they serve parse, the codecs
// and the host services), and the bitset membership test they share.
#include <string>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/string.h"
#include "support.h"

using namespace kel;
using namespace kel::dt;

namespace {

class BinaryTest : public test::RuntimeTest {
protected:
    static Cell* bin(const std::string& bytes) { return push_binary_copy(bytes.data(), u32(bytes.size())); }
    static std::string text_of(const Cell* b) {
        std::vector<u8> v = binary_bytes(b);
        return std::string(v.begin(), v.end());
    }
    static Cell* str(const char* s) {
        Cell* c = push_string(0);
        append_utf8(c, s);
        return c;
    }
};

TEST_F(BinaryTest, InsertAppendAndGrow) {
    Cell* b = bin("ad");
    b->data1 = 1;  // head on "d"
    binary_insert_bytes(b, 0, "bc", 2);
    b->data1 = 0;
    EXPECT_EQ(text_of(b), "abcd");
    // Growth past the first buffer keeps every byte.
    for (int i = 0; i < 100; ++i) binary_append_int32_be(b, 0x01020304);
    EXPECT_EQ(binary_length(b), 404u);
    EXPECT_EQ(text_of(b).substr(0, 8), std::string("abcd\x01\x02\x03\x04"));
    // A head beyond the tail reads as empty, not past the buffer.
    b->data1 = 1000;
    EXPECT_EQ(binary_length(b), 0u);
    EXPECT_TRUE(binary_bytes(b).empty());
}

TEST_F(BinaryTest, LoadInAppendsToTheBlock) {
    Cell* blk = rt::stack_push_slot();
    set_cell(blk, T_NONE);
    make_block_at(blk, 1);
    load_binary_in("xy", 2, blk);
    load_binary_in("", 0, blk);
    ASSERT_EQ(ks_length_q(blk), 2);
    EXPECT_EQ(text_of(ks_head(blk)), "xy");
    EXPECT_EQ(binary_length(ks_head(blk) + 1), 0u);
}

TEST_F(BinaryTest, CompareAndMatch) {
    struct {
        std::string a, b;
        i32 order;     // plain comparison
        bool matches;  // b matched at a's head
    } cases[] = {
        {"abc", "abc", 0, true},
        {"abc", "ab", 1, true},
        {"ab", "abc", -1, false},
        {"\x01", "\xFF", -1, false},  // unsigned bytes
        {"abc", "", 1, true},
        {"", "", 0, true},
        {"abd", "abc", 1, false},
    };
    for (const auto& c : cases) {
        Cell* a = bin(c.a);
        Cell* b = bin(c.b);
        EXPECT_EQ(binary_compare_value(a, b, 0, false), c.order) << c.a << " " << c.b;
        EXPECT_EQ(binary_match_value_q(a, b), c.matches) << c.a << " " << c.b;
    }
    // Text matches as its UTF-8 bytes; other values never match.
    Cell* utf = bin("\xC3\xA9x");
    EXPECT_TRUE(binary_match_value_q(utf, str("\xC3\xA9")));
    EXPECT_FALSE(binary_match_value_q(utf, str("x")));
    Cell ch;
    set_cell(&ch, T_CHAR, 0, 0xC3);
    EXPECT_TRUE(binary_match_value_q(utf, &ch));
    Cell n;
    set_cell(&n, T_INTEGER, 0, 0xC3);
    EXPECT_FALSE(binary_match_value_q(utf, &n));
    EXPECT_EQ(binary_compare_value(utf, &n, 0, false), -2);
}

TEST_F(BinaryTest, ByteInBitset) {
    Cell* set = rt::stack_push_slot();
    make_bitset_at(set, 2, false);  // bits 0-15
    Cell* b = bin(std::string("\x03\x20", 2));
    EXPECT_FALSE(binary_byte_in_bitset_q(b, set));
    rt::at(rt::buffer_of(series_node(set))->offset)[0] = 0x10;  // bit 3
    EXPECT_TRUE(binary_byte_in_bitset_q(b, set));
    // Past the stored bits the complement flag answers; at the tail nothing matches.
    b->data1 = 1;
    EXPECT_FALSE(binary_byte_in_bitset_q(b, set));
    Cell* comp = rt::stack_push_slot();
    make_bitset_at(comp, 2, true);
    EXPECT_TRUE(binary_byte_in_bitset_q(b, comp));
    EXPECT_TRUE(bitset_has_bit(comp, 1u << 30));
    b->data1 = 2;
    EXPECT_FALSE(binary_byte_in_bitset_q(b, comp));
}

TEST_F(BinaryTest, DebaseAndEnbaseOnValues) {
    Cell* t = str("QUJD\n");
    Cell* b = push_debase(t, 64);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(text_of(b), "ABC");
    EXPECT_EQ(push_debase(str("QUJ"), 64), nullptr);
    EXPECT_EQ(push_debase(str("41"), 10), nullptr);
    // Text in wide units decodes the same.
    Cell* w = str("\xE2\x82\xAC");  // a 2-byte unit buffer
    append_c_string(w, "4142");
    w->data1 = 1;
    Cell* ab = push_debase(w, 16);
    ASSERT_NE(ab, nullptr);
    EXPECT_EQ(text_of(ab), "AB");
    Cell* e = push_enbase(bin(std::string("\x00\x05", 2)), 58);
    EXPECT_EQ(string_code_points(e), (std::vector<u32>{'1', '6'}));
    EXPECT_EQ(push_enbase(b, 10), nullptr);
}

}  // namespace
