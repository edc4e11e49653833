// Hash tables: hashing by type, creation sizes, the map!, hash!, context and record kinds,
// growth (and the same-size rebuild of a hash! full of deleted entries), index refresh
// after block edits, node moves, copies and the pointer map.
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "evaluator/actions.h"
#include "hash_support.h"
#include "runtime/gc.h"
#include "runtime/hashtable.h"

namespace kel::rt {
namespace {

using namespace test;

class HashTableTest : public RuntimeTest {
protected:
    CompareActions actions_;
};

HashTable* table(Node t) { return hashtable_of(t); }

// ---- hashing --------------------------------------------------------------------------

TEST(MurmurHash, KnownVectors) {
    struct Case { const char* text; u32 seed, hash; };
    for (Case c : {Case{"", 0, 0}, Case{"", 1, 0x514E28B7}, Case{"", 0xffffffff, 0x81F16F39},
                   Case{"aaaa", 0x9747b28c, 0x5A97808A}, Case{"aaa", 0x9747b28c, 0x283E0130},
                   Case{"a", 0x9747b28c, 0x7FA09EA6}, Case{"Hello, world!", 0x9747b28c, 0x24884CBA},
                   Case{"The quick brown fox jumps over the lazy dog", 0x9747b28c, 0x2FA826CD}})
        EXPECT_EQ(murmur3_32(c.text, u32(std::strlen(c.text)), c.seed), c.hash) << c.text;
    const u8 zeros[4] = {};
    EXPECT_EQ(murmur3_32(zeros, 4, 0), 0x2362F9DEu);
}

// The folded hash folds four bytes at a time: every byte value, in every position of a
// block and of the tail, must fold as A-Z alone fold.
TEST(MurmurHash, FoldedHashFoldsOnlyAsciiCapitals) {
    for (u32 b = 0; b < 256; ++b)
        for (u32 n = 1; n <= 7; ++n)
            for (u32 at = 0; at < n; ++at) {
                u8 text[7], folded[7];
                for (u32 i = 0; i < n; ++i) text[i] = u8("aZ@[`{\x80"[i]);
                text[at] = u8(b);
                for (u32 i = 0; i < n; ++i) folded[i] = ascii_fold(text[i]);
                ASSERT_EQ(murmur3_32_ascii_folded(text, n), murmur3_32(folded, n)) << b << " at " << at << " of " << n;
            }
}

TEST_F(HashTableTest, HashOfPayloadTypes) {
    Cell c;
    set_cell(&c, T_UNSET);
    EXPECT_EQ(hash_value(&c), u32(-2));
    set_cell(&c, T_NONE);
    EXPECT_EQ(hash_value(&c), u32(-1));
    set_cell(&c, T_LOGIC, 1);
    EXPECT_EQ(hash_value(&c), fmix32(1));
    Cell i = int_cell(42);
    EXPECT_EQ(hash_value(&i), fmix32(42));
    set_cell(&c, T_CHAR, 0, 'a');
    EXPECT_EQ(hash_value(&c), fmix32('a'));
    set_cell(&c, T_FLOAT);
    set_float_payload(&c, 1.5);
    EXPECT_EQ(hash_value(&c), murmur3_32(&c.data2, 8));
    set_cell(&c, T_CONTEXT, 1, 2, 3);
    EXPECT_EQ(hash_value(&c), 0u);
}

TEST_F(HashTableTest, TextHashesIgnoreCaseUnlessAsked) {
    struct Case { const char* a; const char* b; bool alike; };
    for (Case c : {Case{"Hello", "hELLO", true}, Case{"Été", "éTÉ", true}, Case{"straße", "STRASSE", false},
                   Case{"abc", "abd", false}, Case{"", "", true}}) {
        Cell a = str_cell(c.a), b = str_cell(c.b);
        EXPECT_EQ(hash_value(&a) == hash_value(&b), c.alike) << c.a << " / " << c.b;
    }
    Cell a = str_cell("Hello"), b = str_cell("hello");
    EXPECT_NE(hash_value(&a, true), hash_value(&b, true));
    // The kind of text and the unit width do not matter; the head does.
    Cell file = str_cell("hello", T_FILE);
    Cell wide = str_cell("hello\xE2\x82\xAC");
    dt::string_remove_chars(&wide, 5, 1);
    ASSERT_EQ(buffer_of(series_node(&wide))->unit(), 2u);
    EXPECT_EQ(hash_value(&file), hash_value(&b));
    EXPECT_EQ(hash_value(&wide), hash_value(&b));
    Cell later = str_cell("xhello");
    later.data1 = 1;
    EXPECT_EQ(hash_value(&later), hash_value(&b));
    // A slice hashes only its first data3 characters.
    Cell slice = str_cell("hello world");
    set_cell_type(&slice, T_SLICE);
    slice.data3 = 5;
    EXPECT_EQ(hash_value(&slice), hash_value(&b));
}

TEST_F(HashTableTest, WordsHashByTheirFirstSpelling) {
    Cell lower = word_cell("hash-foo"), upper = word_cell("HASH-FOO", T_SET_WORD), other = word_cell("hash-bar");
    EXPECT_NE(lower.data2, upper.data2);
    EXPECT_EQ(hash_value(&lower), hash_value(&upper));
    EXPECT_EQ(hash_value(&lower), fmix32(lower.data2));
    EXPECT_NE(hash_value(&lower), hash_value(&other));
    // A symbol hashes its name with A-Z folded, as the symbol table does.
    Cell* sym = symbol_cell(upper.data2);
    EXPECT_EQ(hash_value(sym), murmur3_32_ascii_folded(reinterpret_cast<const u8*>("hash-foo"), 8));
}

TEST_F(HashTableTest, MoneyHashKeepsOnlyTheSignOfItsHeader) {
    Cell a, b, c;
    set_cell(&a, T_MONEY | 0x4000, 1, 2, 3);
    set_cell(&b, T_MONEY | 0x4000 | 0x30000, 1, 2, 3);
    set_cell(&c, T_MONEY, 1, 2, 3);
    EXPECT_EQ(hash_value(&a), hash_value(&b));
    EXPECT_NE(hash_value(&a), hash_value(&c));
}

// ---- creation -------------------------------------------------------------------------

TEST_F(HashTableTest, CreationSizes) {
    struct Case { i32 size; u32 kind, capacity, upper; };
    for (Case c : {Case{0, HASH_MAP, 8, 6}, Case{-5, HASH_BLOCK, 8, 6}, Case{10, HASH_MAP, 16, 12},
                   Case{100, HASH_BLOCK, 256, 197}, Case{4000, HASH_SYMBOLS, 16384, 12615},
                   Case{4000, HASH_MAP, 8192, 6307}, Case{3, HASH_RECORDS, 8, 6}}) {
        Node t = hashtable_init(c.size, nullptr, c.kind, 1);
        EXPECT_EQ(table(t)->capacity, c.capacity) << c.size;
        EXPECT_EQ(table(t)->upper, c.upper) << c.size;
        EXPECT_EQ(table(t)->count, 0u);
        EXPECT_EQ(table(t)->kind, c.kind);
    }
}

// ---- map! -----------------------------------------------------------------------------

TEST_F(HashTableTest, MapFindsWordKeysStoredAsSetWords) {
    Node b = make_block({word_cell("a"), int_cell(1), word_cell("b"), int_cell(2), str_cell("Key"), int_cell(3)});
    Cell blk = block_cell(b);
    Node t = hashtable_init(6, &blk, HASH_MAP);
    EXPECT_EQ(table(t)->count, 3u);
    EXPECT_EQ(type_of(cell_at(b, 0)), T_SET_WORD);
    for (u32 kind : {T_WORD, T_SET_WORD, T_LIT_WORD, T_GET_WORD}) {
        Cell k = word_cell("a", kind);
        EXPECT_EQ(index_of(b, hashtable_get(t, &k)), 0u) << kind;
        EXPECT_EQ(type_of(&k), kind);  // the caller's key is left as it was
    }
    Cell upper = word_cell("B");
    EXPECT_EQ(index_of(b, hashtable_get(t, &upper)), 2u);
    EXPECT_EQ(hashtable_get(t, &upper, 0, 1, ev::OP_STRICT_EQUAL), nullptr);
    Cell key = str_cell("KEY");
    EXPECT_EQ(index_of(b, hashtable_get(t, &key)), 4u);
    EXPECT_EQ(hashtable_get(t, &key, 0, 1, ev::OP_STRICT_EQUAL), nullptr);
    Cell absent = int_cell(1);
    EXPECT_EQ(hashtable_get(t, &absent), nullptr);
    // Refinements and issues are keys of their own type.
    Node b2 = make_block({word_cell("r", T_REFINEMENT), int_cell(1), word_cell("i", T_ISSUE), int_cell(2)});
    Cell blk2 = block_cell(b2);
    Node t2 = hashtable_init(4, &blk2, HASH_MAP);
    EXPECT_EQ(type_of(cell_at(b2, 0)), T_REFINEMENT);
    EXPECT_EQ(type_of(cell_at(b2, 2)), T_ISSUE);
    Cell r = word_cell("r", T_REFINEMENT);
    EXPECT_EQ(index_of(b2, hashtable_get(t2, &r, 0, 1, ev::OP_STRICT_EQUAL)), 0u);
}

TEST_F(HashTableTest, MapBuildKeepsFirstPositionAndLastValue) {
    Node b = make_block({word_cell("a"), int_cell(1), word_cell("b"), int_cell(2), word_cell("a", T_SET_WORD),
                         int_cell(3), word_cell("c"), int_cell(4)});
    Cell blk = block_cell(b);
    Node t = hashtable_init(8, &blk, HASH_MAP);
    ASSERT_EQ(block_len(b), 6u);
    EXPECT_EQ(table(t)->count, 3u);
    EXPECT_EQ(get_int(cell_at(b, 1)), 3);
    EXPECT_EQ(cell_at(b, 4)->data2, make_symbol("c"));
    Cell c = word_cell("c");
    EXPECT_EQ(index_of(b, hashtable_get(t, &c)), 4u);
}

TEST_F(HashTableTest, MapDeleteAndRevive) {
    Node b = make_block({str_cell("x"), int_cell(1), str_cell("y"), int_cell(2)});
    Cell blk = block_cell(b);
    Node t = hashtable_init(4, &blk, HASH_MAP);
    hashtable_delete(t, 0);
    EXPECT_EQ(cell_at(b, 1)->header, 0u);
    EXPECT_EQ(table(t)->count, 1u);
    hashtable_delete(t, 0);  // already dead: no second decrement
    EXPECT_EQ(table(t)->count, 1u);
    // The dead key stays in the table: a put finds it and revives the entry in place.
    Cell x = str_cell("x");
    EXPECT_EQ(index_of(b, hashtable_get(t, &x)), 0u);
    u32 occupied = table(t)->occupied;
    EXPECT_EQ(hashtable_put(t, 0), 0);
    EXPECT_EQ(table(t)->occupied, occupied);
}

TEST_F(HashTableTest, MapGrowsAndKeepsEveryKey) {
    Node b = alloc_cells(16);
    Cell blk = block_cell(b);
    Node t = hashtable_init(0, &blk, HASH_MAP);
    for (i32 i = 0; i < 3000; ++i) {
        *block_alloc_tail(b) = int_cell(i * 7);
        *block_alloc_tail(b) = int_cell(i);
        ASSERT_EQ(hashtable_put(t, u32(2 * i)), 2 * i);
    }
    EXPECT_EQ(table(t)->count, 3000u);
    EXPECT_EQ(table(t)->capacity, 4096u);
    EXPECT_LT(table(t)->occupied, table(t)->upper);
    for (i32 i = 0; i < 3000; ++i) {
        Cell k = int_cell(i * 7);
        ASSERT_EQ(index_of(b, hashtable_get(t, &k)), u32(2 * i));
    }
    // Putting a key that is present adds nothing and answers the earlier key.
    *block_alloc_tail(b) = int_cell(14);
    EXPECT_EQ(hashtable_put(t, block_len(b) - 1), 4);
    EXPECT_EQ(table(t)->count, 3000u);
}

// Keys entered as new (after a failed look-up) and case variants entered by a strict put:
// through every growth the plain look-up still meets the variant entered first, and each
// variant is found strictly.
TEST_F(HashTableTest, MapNewKeysAndCaseVariantsSurviveGrowth) {
    Node b = alloc_cells(16);
    Cell blk = block_cell(b);
    Node t = hashtable_init(0, &blk, HASH_MAP);
    auto add = [&](Cell key, bool known_absent) {
        // A map's put: one look-up, then the key goes where the probe ended.
        HashSpot spot;
        if (known_absent) EXPECT_EQ(hashtable_get_for_put(t, &key, ev::OP_EQUAL, spot), nullptr);
        u32 i = block_len(b);
        *block_alloc_tail(b) = key;
        *block_alloc_tail(b) = int_cell(i32(i));
        if (!known_absent) return hashtable_put(t, i);
        hashtable_put_at(t, i, spot);
        return i32(i);
    };
    EXPECT_EQ(add(str_cell("key"), true), 0);
    EXPECT_EQ(add(str_cell("KEY"), false), 2);  // not strictly equal: a key of its own
    for (i32 i = 0; i < 2000; ++i) add(str_cell(std::to_string(i).c_str()), i % 2 == 0);
    EXPECT_EQ(table(t)->count, 2002u);
    // Many pairs of twins, each grown past several times: the plain look-up meets the
    // first of each pair, whatever order the buckets are moved in.
    u32 twins_from = block_len(b);
    for (i32 i = 0; i < 300; ++i) {
        add(str_cell(("w" + std::to_string(i)).c_str()), true);
        add(str_cell(("W" + std::to_string(i)).c_str()), false);
    }
    for (i32 i = 0; i < 3000; ++i) add(str_cell(("x" + std::to_string(i)).c_str()), true);
    for (i32 i = 0; i < 300; ++i) {
        Cell upper_twin = str_cell(("W" + std::to_string(i)).c_str());
        ASSERT_EQ(index_of(b, hashtable_get(t, &upper_twin)), twins_from + 4 * u32(i));
        ASSERT_EQ(index_of(b, hashtable_get(t, &upper_twin, 0, 1, ev::OP_STRICT_EQUAL)), twins_from + 4 * u32(i) + 2);
    }
    Cell upper = str_cell("KEY"), mixed = str_cell("Key");
    EXPECT_EQ(index_of(b, hashtable_get(t, &mixed)), 0u);
    EXPECT_EQ(index_of(b, hashtable_get(t, &upper, 0, 1, ev::OP_STRICT_EQUAL)), 2u);
    EXPECT_EQ(hashtable_get(t, &mixed, 0, 1, ev::OP_STRICT_EQUAL), nullptr);
    for (i32 i = 0; i < 2000; i += 97) {
        Cell k = str_cell(std::to_string(i).c_str());
        ASSERT_EQ(index_of(b, hashtable_get(t, &k)), u32(4 + 2 * i));
    }
    // A copy carries the stored hashes with its buckets.
    Node b2 = alloc_cells(block_len(b));
    for (u32 i = 0; i < block_len(b); ++i) *block_alloc_tail(b2) = *cell_at(b, i);
    Node t2 = hashtable_copy(t, b2);
    Cell k = str_cell("1999");
    EXPECT_EQ(index_of(b2, hashtable_get(t2, &k)), u32(4 + 2 * 1999));
}

TEST_F(HashTableTest, GetNextVisitsEveryEqualKey) {
    Node b = make_block({str_cell("a"), int_cell(1), str_cell("A"), int_cell(2), str_cell("b"), int_cell(3)});
    Cell blk = block_cell(b);
    Node t = hashtable_init(6, &blk, HASH_MAP);
    EXPECT_EQ(table(t)->count, 3u);  // "a" and "A" are different keys under strict equality
    Cell key = str_cell("a");
    HashCursor cursor;
    std::set<u32> seen;
    while (Cell* c = hashtable_get_next(t, &key, cursor)) seen.insert(index_of(b, c));
    EXPECT_EQ(seen, (std::set<u32>{0, 2}));
}

// ---- hash! ----------------------------------------------------------------------------

// Every cell can be found at its own position, and looking backwards from it finds the
// previous equal cell: the index, the chains and the buckets agree with the block.
void expect_consistent(Node t, Node b) {
    u32 len = block_len(b);
    std::vector<i32> values;
    for (u32 i = 0; i < len; ++i) values.push_back(get_int(cell_at(b, i)));
    for (u32 i = 0; i < len; ++i) {
        Cell k = *cell_at(b, i);
        ASSERT_EQ(index_of(b, hashtable_get(t, &k, i32(i))), i) << "cell " << i;
        i32 prev = -1;
        for (i32 j = i32(i) - 1; j >= 0; --j)
            if (values[j] == values[i]) {
                prev = j;
                break;
            }
        Cell* back = hashtable_get(t, &k, i32(i), 1, 0, true);
        ASSERT_EQ(back ? i32(index_of(b, back)) : -1, prev) << "before cell " << i;
    }
    EXPECT_EQ(table(t)->count, std::set<i32>(values.begin(), values.end()).size());
}

Node int_block(const std::vector<i32>& values) {
    Node b = alloc_cells(u32(values.size()) + 1);
    for (i32 v : values) *block_alloc_tail(b) = int_cell(v);
    return b;
}

TEST_F(HashTableTest, HashBlockChainsEqualKeys) {
    Node b = int_block({7, 1, 7, 2, 7});
    Cell blk = block_cell(b, T_HASH);
    Node t = hashtable_init(5, &blk, HASH_BLOCK);
    EXPECT_EQ(table(t)->count, 3u);
    EXPECT_EQ(series_length(table(t)->chains), 4u);  // one chain, holding 0, 2 and 4
    Cell k = int_cell(7);
    struct Case { i32 start, skip; bool reverse, last; i32 found; };
    for (Case c : {Case{0, 1, false, false, 0}, Case{1, 1, false, false, 2}, Case{0, 2, false, false, 0},
                   Case{1, 2, false, false, -1}, Case{3, 1, false, false, 4}, Case{5, 1, false, false, -1},
                   Case{4, 1, true, false, 2}, Case{4, 3, true, false, 0}, Case{4, 2, true, false, -1},
                   Case{5, 2, true, false, 4},
                   Case{0, 1, false, true, 4}, Case{0, 3, false, true, 4}, Case{0, 2, false, true, 4}}) {
        Cell* found = hashtable_get(t, &k, c.start, c.skip, 0, c.reverse, c.last);
        EXPECT_EQ(found ? i32(index_of(b, found)) : -1, c.found)
            << "start " << c.start << " skip " << c.skip << " reverse " << c.reverse << " last " << c.last;
    }
    expect_consistent(t, b);
}

TEST_F(HashTableTest, HashBlockCaseSensitiveLookup) {
    Node b = make_block({str_cell("ABC"), str_cell("abc"), int_cell(1)});
    Cell blk = block_cell(b, T_HASH);
    Node t = hashtable_init(3, &blk, HASH_BLOCK);
    EXPECT_EQ(table(t)->count, 2u);
    Cell k = str_cell("abc");
    EXPECT_EQ(index_of(b, hashtable_get(t, &k)), 0u);
    EXPECT_EQ(index_of(b, hashtable_get(t, &k, 0, 1, ev::OP_STRICT_EQUAL)), 1u);
    // Keys match only cells of their own type.
    Cell file = str_cell("abc", T_FILE);
    EXPECT_EQ(hashtable_get(t, &file), nullptr);
}

TEST_F(HashTableTest, HashBlockDeleteLeavesTheRestOfTheChain) {
    Node b = int_block({5, 5, 6});
    Cell blk = block_cell(b, T_HASH);
    Node t = hashtable_init(3, &blk, HASH_BLOCK);
    Cell k = int_cell(5);
    hashtable_delete(t, 0);
    EXPECT_EQ(index_of(b, hashtable_get(t, &k)), 1u);
    EXPECT_EQ(table(t)->count, 2u);
    hashtable_delete(t, 1);
    EXPECT_EQ(hashtable_get(t, &k), nullptr);
    EXPECT_EQ(table(t)->count, 1u);
    // The freed bucket is reused without raising the occupied count.
    u32 occupied = table(t)->occupied;
    hashtable_put(t, 0);
    EXPECT_EQ(table(t)->occupied, occupied);
    EXPECT_EQ(index_of(b, hashtable_get(t, &k)), 0u);
}

// Block edits as the block actions make them, with the index kept in step.
struct HashBlock {
    Node block, table;

    explicit HashBlock(const std::vector<i32>& values) : block(int_block(values)) {
        Cell blk = block_cell(block, T_HASH);
        table = hashtable_init(i32(values.size()), &blk, HASH_BLOCK);
    }
    void insert(u32 pos, i32 v) {
        block_alloc_tail(block);
        Cell* c = cell_at(block, 0);
        std::memmove(c + pos + 1, c + pos, (block_len(block) - 1 - pos) * sizeof(Cell));
        c[pos] = int_cell(v);
        if (hashtable_refresh(table, pos, 1)) hashtable_resize(table, block_len(block));
        else hashtable_put(table, pos);
    }
    void remove(u32 pos, u32 n = 1) {
        SeriesBuffer* sb = buffer_of(block);
        Cell* c = cells_of(sb);
        std::memmove(c + pos, c + pos + n, (block_len(block) - pos - n) * sizeof(Cell));
        sb->tail -= n * sizeof(Cell);
        if (hashtable_refresh(table, pos, -i32(n))) hashtable_resize(table, block_len(block));
    }
    void poke(u32 pos, i32 v) {
        *cell_at(block, pos) = int_cell(v);
        hashtable_put(table, pos);
    }
};

TEST_F(HashTableTest, HashBlockIndexFollowsRandomEdits) {
    std::mt19937 rng(20261210);
    HashBlock h({1, 2, 3});
    for (int op = 0; op < 3000; ++op) {
        u32 len = block_len(h.block);
        i32 v = i32(rng() % 12);
        switch (rng() % 4) {
            case 0: h.insert(len ? rng() % (len + 1) : 0, v); break;
            case 1: if (len) h.remove(rng() % len); break;
            case 2: if (len) h.poke(rng() % len, v); break;
            default: h.insert(len, v); break;
        }
        if (op % 100 == 0) expect_consistent(h.table, h.block);
        if (HasFatalFailure()) return;
    }
    expect_consistent(h.table, h.block);
}

TEST_F(HashTableTest, HashBlockReorderInPlace) {
    HashBlock h({1, 2, 3, 4, 2});
    Cell* c = cell_at(h.block, 0);
    std::swap(c[1], c[3]);
    hashtable_refresh_move(h.table, 1, 3);
    expect_consistent(h.table, h.block);
    hashtable_remove_range(h.table, 2, 3);
    Cell k = int_cell(2);
    EXPECT_EQ(hashtable_get(h.table, &k), nullptr);
    hashtable_put_all(h.table, 2, 1);
    expect_consistent(h.table, h.block);
}

TEST_F(HashTableTest, HashBlockUsedAsQueueDoesNotGrow) {
    // Append at the tail, take from the head: the keys are always new, so the buckets fill
    // with deleted entries; the table must rebuild at its size instead of doubling.
    HashBlock h({});
    i32 next = 0;
    auto churn = [&](int n) {
        for (int i = 0; i < n; ++i) {
            h.insert(block_len(h.block), next++);
            h.remove(0);
        }
    };
    for (int i = 0; i < 8; ++i) h.insert(block_len(h.block), next++);
    churn(100);
    u32 cap = table(h.table)->capacity;
    EXPECT_LE(cap, 32u);
    churn(20000);
    EXPECT_EQ(table(h.table)->capacity, cap);
    EXPECT_LE(series_length(table(h.table)->aux) / 4, block_len(h.block));
    EXPECT_EQ(table(h.table)->count, 8u);
    expect_consistent(h.table, h.block);
}

TEST_F(HashTableTest, HashBlockGrowsWhenFull) {
    HashBlock h({});
    for (i32 i = 0; i < 5000; ++i) h.insert(block_len(h.block), i);
    EXPECT_EQ(table(h.table)->count, 5000u);
    EXPECT_GE(table(h.table)->upper, 5000u);
    expect_consistent(h.table, h.block);
}

TEST_F(HashTableTest, LargeEditAsksForRebuild) {
    std::vector<i32> values(30002);
    for (size_t i = 0; i < values.size(); ++i) values[i] = i32(i % 1000);
    HashBlock h(values);
    // Moving more than 30000 keys is left to a rebuild: the index is not touched.
    EXPECT_TRUE(hashtable_refresh(h.table, 1, 1));
    EXPECT_TRUE(hashtable_refresh(h.table, 0, -1));
    Cell k = int_cell(999);
    EXPECT_EQ(index_of(h.block, hashtable_get(h.table, &k)), 999u);
    h.insert(1, -1);  // rebuilds
    Cell n = int_cell(-1);
    EXPECT_EQ(index_of(h.block, hashtable_get(h.table, &n)), 1u);
    EXPECT_EQ(index_of(h.block, hashtable_get(h.table, &k)), 1000u);
    // Near the tail the index is adjusted in place.
    u32 len = block_len(h.block);
    EXPECT_FALSE(hashtable_refresh(h.table, len, 1));
    h.remove(len - 2);
    Cell last = int_cell(1);  // values[30001] = 1, now at len - 2
    EXPECT_EQ(index_of(h.block, hashtable_get(h.table, &last, i32(len) - 3)), len - 2);
}

TEST_F(HashTableTest, ResetEmptiesEveryKind) {
    HashBlock h({1, 1, 2});
    hashtable_reset(h.table);
    Cell k = int_cell(1);
    EXPECT_EQ(hashtable_get(h.table, &k), nullptr);
    EXPECT_EQ(table(h.table)->count, 0u);
    EXPECT_EQ(table(h.table)->occupied, 0u);
    hashtable_put_all(h.table, 0, 1);
    expect_consistent(h.table, h.block);
}

// ---- copies ---------------------------------------------------------------------------

TEST_F(HashTableTest, CopiesShareNothing) {
    HashBlock h({3, 3, 4});
    Node b2 = copy_series_buffer(buffer_of(h.block));
    Node t2 = hashtable_copy(h.table, b2);
    EXPECT_EQ(table(t2)->block, b2);
    hashtable_delete(t2, 0);
    hashtable_delete(t2, 1);
    Cell k = int_cell(3);
    EXPECT_EQ(hashtable_get(t2, &k), nullptr);
    EXPECT_EQ(index_of(h.block, hashtable_get(h.table, &k)), 0u);
    expect_consistent(h.table, h.block);

    Node mb = make_block({str_cell("k"), int_cell(1)});
    Cell blk = block_cell(mb);
    Node m1 = hashtable_init(2, &blk, HASH_MAP);
    Node mb2 = copy_series_buffer(buffer_of(mb));
    Node m2 = hashtable_copy(m1, mb2);
    *block_alloc_tail(mb2) = str_cell("new");
    *block_alloc_tail(mb2) = int_cell(2);
    hashtable_put(m2, 2);
    Cell key = str_cell("new");
    EXPECT_EQ(index_of(mb2, hashtable_get(m2, &key)), 2u);
    EXPECT_EQ(hashtable_get(m1, &key), nullptr);
    EXPECT_EQ(table(m1)->count, 1u);
}

// ---- context word tables --------------------------------------------------------------

TEST_F(HashTableTest, ContextTablesFindSymbolsAndGrowThirtyTwoFold) {
    Node t = hashtable_init(0, nullptr, HASH_SYMBOLS);
    ASSERT_EQ(table(t)->capacity, 8u);
    Node b = table(t)->block;
    const char* names[] = {"ctx-a", "ctx-b", "ctx-c", "ctx-d", "ctx-e", "ctx-f"};
    for (u32 i = 0; i < 6; ++i) {
        *block_alloc_tail(b) = word_cell(names[i]);
        EXPECT_EQ(hashtable_put(t, i), i32(i));
    }
    EXPECT_EQ(table(t)->capacity, 8u);
    *block_alloc_tail(b) = word_cell("CTX-A");
    EXPECT_EQ(hashtable_put(t, 6), 6);  // another spelling is another key
    EXPECT_EQ(table(t)->capacity, 256u);
    EXPECT_EQ(table(t)->upper, 197u);
    EXPECT_EQ(hashtable_find_symbol(t, make_symbol("ctx-a"), false), 0);
    EXPECT_EQ(hashtable_find_symbol(t, make_symbol("CTX-A"), false), 6);
    EXPECT_EQ(hashtable_find_symbol(t, make_symbol("Ctx-A"), false), -1);
    EXPECT_EQ(hashtable_find_symbol(t, make_symbol("Ctx-A"), true), 0);
    EXPECT_EQ(hashtable_find_symbol(t, make_symbol("ctx-f"), true), 5);
    EXPECT_EQ(hashtable_find_symbol(t, make_symbol("ctx-z"), true), -1);
    // A word already present is not entered twice.
    *block_alloc_tail(b) = word_cell("ctx-c");
    EXPECT_EQ(hashtable_put(t, 7), 2);
    EXPECT_EQ(table(t)->count, 7u);
}

// ---- record tables --------------------------------------------------------------------

TEST_F(HashTableTest, RecordsPutGetRemove) {
    for (u32 kind : {HASH_RECORDS, HASH_OWNERSHIP}) {
        Node t = hashtable_init(4, nullptr, kind, 2);
        EXPECT_EQ(table(t)->aux, 48u);
        EXPECT_NE(table(t)->stamp, 0u);
        Cell* data = hashtable_put_key(t, 0x1234);
        data[0] = int_cell(1);
        data[1] = int_cell(2);
        Cell* got = hashtable_get_ptr(t, 0x1234);
        ASSERT_NE(got, nullptr);
        EXPECT_EQ(get_int(&got[1]), 2);
        EXPECT_EQ(got[-1].data1, 0x1234u);
        // A second put of the key resets its data to unset!.
        got = hashtable_put_key(t, 0x1234);
        EXPECT_EQ(type_of(&got[0]), T_UNSET);
        EXPECT_EQ(type_of(&got[1]), T_UNSET);
        EXPECT_EQ(got[-1].data1, 0x1234u);
        EXPECT_EQ(table(t)->count, 1u);
        EXPECT_EQ(hashtable_get_ptr(t, 0x9999), nullptr);
        u32 occupied = table(t)->occupied;
        Cell* removed = hashtable_remove_ptr(t, 0x1234);
        ASSERT_NE(removed, nullptr);
        EXPECT_EQ(removed[-1].header, 0u);
        EXPECT_EQ(hashtable_get_ptr(t, 0x1234), nullptr);
        EXPECT_EQ(hashtable_remove_ptr(t, 0x1234), nullptr);
        hashtable_put_key(t, 0x1234);
        EXPECT_EQ(table(t)->occupied, occupied);  // its deleted bucket was reused
    }
}

TEST_F(HashTableTest, RecordTableCompactsWhenMostlyDeleted) {
    Node t = hashtable_init(8, nullptr, HASH_RECORDS, 1);
    u32 cap = table(t)->capacity;
    for (u32 k = 1; k <= 20000; ++k) {
        hashtable_put_key(t, k)[0] = int_cell(i32(k));
        if (k > 4) hashtable_remove_ptr(t, k - 4);
    }
    EXPECT_EQ(table(t)->capacity, cap);
    EXPECT_EQ(table(t)->count, 4u);
    EXPECT_LE(series_length(table(t)->block), 2 * (cap + 4));
    for (u32 k = 19997; k <= 20000; ++k) EXPECT_EQ(get_int(hashtable_get_ptr(t, k)), i32(k));
    for (u32 k = 2000; k <= 2500; ++k) hashtable_put_key(t, k)[0] = int_cell(i32(k));
    EXPECT_GT(table(t)->capacity, cap);
    for (u32 k = 2000; k <= 2500; ++k) ASSERT_EQ(get_int(hashtable_get_ptr(t, k)), i32(k));
}

// ---- node moves -----------------------------------------------------------------------

TEST_F(HashTableTest, TablesHashingNodesAreRebuiltAfterNodesMove) {
    Node t = hashtable_init(4, nullptr, HASH_RECORDS, 1);
    for (u32 k = 100; k < 140; ++k) hashtable_put_key(t, k)[0] = int_cell(i32(k));
    // Simulate a collection that moved nodes: each record key is rewritten, as marking does.
    HashTable* h = table(t);
    Cell* recs = cells_of(buffer_of(h->block));
    for (u32 i = 0; i < series_length(h->block); i += 2) recs[i].data1 += 1000;
    ++g_gc_node_moves;
    for (u32 k = 100; k < 140; ++k) ASSERT_EQ(get_int(hashtable_get_ptr(t, k + 1000)), i32(k));
    EXPECT_EQ(table(t)->stamp, g_gc_node_moves + 1);

    // A hash! is stamped by its first key that hashes a node, and rebuilt likewise.
    Node inner = make_block({});
    Cell key = block_cell(inner);
    Node b = make_block({int_cell(1), key});
    Cell blk = block_cell(b, T_HASH);
    Node ht = hashtable_init(2, &blk, HASH_BLOCK);
    EXPECT_EQ(table(ht)->stamp, g_gc_node_moves + 1);
    Node moved = make_block({});
    cell_at(b, 1)->data2 = moved;
    ++g_gc_node_moves;
    Cell moved_key = block_cell(moved);
    EXPECT_EQ(index_of(b, hashtable_get(ht, &moved_key)), 1u);
    Node pb = int_block({1, 2});
    Cell pblk = block_cell(pb, T_HASH);
    EXPECT_EQ(table(hashtable_init(2, &pblk, HASH_BLOCK))->stamp, 0u);
}

// ---- pointer map ----------------------------------------------------------------------

TEST(PtrMapTest, PutGetRemoveIterate) {
    PtrMap* m = ptrmap_new(0);
    EXPECT_EQ(m->capacity, 8u);
    EXPECT_EQ(m->upper, 6u);
    for (u32 k = 1; k <= 10000; ++k) ptrmap_put(m, k * 16, k);
    ptrmap_put(m, 16, 77);  // replaces
    EXPECT_EQ(m->count, 10000u);
    EXPECT_EQ(*ptrmap_get(m, 16), 77u);
    EXPECT_EQ(*ptrmap_get(m, 160000), 10000u);
    EXPECT_EQ(ptrmap_get(m, 8), nullptr);
    for (u32 k = 2; k <= 10000; k += 2) ptrmap_remove(m, k * 16);
    EXPECT_EQ(ptrmap_get(m, 32), nullptr);
    u32 cursor = 0, key, value, n = 0;
    u64 sum = 0;
    while (ptrmap_next(m, &cursor, &key, &value)) {
        ++n;
        sum += value;
    }
    EXPECT_EQ(n, 5000u);
    EXPECT_EQ(sum, 77u + (u64(5000) * 5000 - 1));
    ptrmap_clear(m);
    EXPECT_EQ(m->count, 0u);
    EXPECT_EQ(ptrmap_get(m, 48), nullptr);
    ptrmap_put(m, 48, 1);
    EXPECT_EQ(*ptrmap_get(m, 48), 1u);
    ptrmap_free(m);
}

}  // namespace
}  // namespace kel::rt
