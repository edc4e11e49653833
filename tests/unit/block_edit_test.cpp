// block! editing: insert/append, change, take, swap, trim, copy, sort.
#include <vector>

#include "block_support.h"

namespace kel::dt {
namespace {

using namespace test;
using namespace test::blocks;
using rt::Err;

class BlockEditTest : public RuntimeTest {
protected:
    Cell* push(Cell c) { return rt::stack_push(&c); }
    // The whole block from its buffer start, molded without brackets.
    std::string whole(const Cell* b) {
        Cell c = *b;
        c.data1 = 0;
        return mold(push(c), true);
    }
};

Cell i(i32 n) { return int_v(n); }

Cell ints(std::initializer_list<i32> v, i32 head = 0) {
    Cell* b = push_new_block(i32(v.size()));
    for (i32 n : v) {
        Cell c = int_v(n);
        ks_append(b, &c);
    }
    b->data1 = u32(head);
    Cell r = *b;
    rt::stack_pop(1);
    return r;
}

// ---- insert and append -----------------------------------------------------------------

TEST_F(BlockEditTest, InsertAndAppend) {
    struct Case {
        const char* name;
        Cell series;
        Cell value;
        i32 part;
        bool only;
        i32 dup;
        bool append;
        const char* result;
        i32 head;
    };
    const Case cases[] = {
        {"append block", ints({0}), ints({1, 2}), -1, false, 1, true, "0 1 2", 0},
        {"append only", ints({0}), ints({1, 2}), -1, true, 1, true, "0 [1 2]", 0},
        {"append from its head", ints({0}), ints({1, 2}, 1), -1, false, 1, true, "0 2", 0},
        {"insert in the middle", ints({1, 2, 3}, 1), ints({8, 9}), -1, false, 1, false, "1 8 9 2 3", 3},
        {"insert dup", ints({1, 2, 3}), ints({8, 9}), -1, false, 3, false, "8 9 8 9 8 9 1 2 3", 6},
        {"insert part", ints({1, 2, 3}), ints({8, 9}), 1, false, 1, false, "8 1 2 3", 1},
        {"part past the count", ints({1}), ints({8, 9}), 7, false, 1, false, "8 9 1", 2},
        {"append value dup", ints({1}), i(7), -1, false, 4, true, "1 7 7 7 7", 0},
        {"insert at the tail", ints({1, 2}, 2), i(7), -1, false, 1, false, "1 2 7", 3},
        {"head beyond the tail", ints({1, 2}, 5), i(7), -1, false, 1, false, "1 2 7", 3},
        {"empty block", ints({1, 2}, 1), ints({}), -1, false, 1, false, "1 2", 1},
    };
    for (const Case& c : cases) {
        Cell* s = push(c.series);
        Cell* v = push(c.value);
        Cell* r = block_insert(s, v, c.part, c.only, c.dup, c.append);
        EXPECT_EQ(whole(r), c.result) << c.name;
        EXPECT_EQ(series_head(r), c.head) << c.name;
    }
}

TEST_F(BlockEditTest, InsertIntoItself) {
    Cell* b = push(ints({1, 2}));
    block_insert(b, b, -1, false, 1, true);
    EXPECT_EQ(whole(b), "1 2 1 2");
    Cell* c = push(ints({1, 2, 3}, 1));
    Cell* v = push(*c);
    block_insert(c, v, -1, false, 2, false);
    EXPECT_EQ(whole(c), "1 2 3 2 3 2 3");
}

TEST_F(BlockEditTest, InsertKeepsLineBreaksAndGrowsFromEmpty) {
    Cell* b = push_new_block(1);
    Cell* v = blk({nl(i(1)), i(2)});
    for (int k = 0; k < 20; ++k) block_insert(b, v, -1, false, 1, true);
    EXPECT_EQ(ks_length_q(b), 40);
    EXPECT_TRUE(ks_abs_at(b, 38)->header & CELL_NEW_LINE);
}

TEST_F(BlockEditTest, InsertSizesThatCannotFitRaiseNoMemory) {
    Cell* b = push(ints({1}));
    Cell* v = push(ints({1, 2}));
    EXPECT_EQ(catch_error([&] { block_insert(b, v, -1, false, 0x7FFFFFFF, false); }), Err::internal_no_memory);
    EXPECT_EQ(catch_error([&] { block_change(b, v, -1, false, 0x40000000); }), Err::internal_no_memory);
    EXPECT_EQ(whole(b), "1");
}

// ---- change ----------------------------------------------------------------------------

TEST_F(BlockEditTest, Change) {
    struct Case {
        const char* name;
        Cell series;
        Cell value;
        i32 part;
        bool only;
        i32 dup;
        const char* result;
        i32 head;
    };
    const Case cases[] = {
        {"same count", ints({1, 2, 3}), ints({8, 9}), -1, false, 1, "8 9 3", 2},
        {"part 1", ints({1, 2, 3}), ints({8, 9}), 1, false, 1, "8 9 2 3", 2},
        {"part 0 inserts", ints({1, 2, 3}), ints({8, 9}), 0, false, 1, "8 9 1 2 3", 2},
        {"past the tail", ints({1, 2, 3}, 2), ints({8, 9}), -1, false, 1, "1 2 8 9", 4},
        {"at the tail", ints({1, 2}, 2), ints({8}), -1, false, 1, "1 2 8", 3},
        {"dup", ints({1, 2, 3}), i(7), -1, false, 2, "7 7 3", 2},
        {"nothing for part 2", ints({1, 2, 3}), ints({}), 2, false, 1, "3", 0},
        {"only", ints({1, 2, 3}), ints({8, 9}), -1, true, 1, "[8 9] 2 3", 1},
        {"part beyond", ints({1, 2, 3}, 1), i(5), 10, false, 1, "1 5", 2},
    };
    for (const Case& c : cases) {
        Cell* s = push(c.series);
        Cell* v = push(c.value);
        Cell* r = block_change(s, v, c.part, c.only, c.dup);
        EXPECT_EQ(whole(r), c.result) << c.name;
        EXPECT_EQ(series_head(r), c.head) << c.name;
    }
}

TEST_F(BlockEditTest, ChangeWithItsOwnCells) {
    Cell* b = push(ints({1, 2, 3}, 1));
    Cell* v = push(*b);
    v->data1 = 0;
    block_change(b, v, -1, false, 1);
    EXPECT_EQ(whole(b), "1 1 2 3");
}

// ---- take, swap, trim ------------------------------------------------------------------

TEST_F(BlockEditTest, TakeAnswersTheCellOrACopy) {
    Cell* b = push(ints({1, 2}));
    Cell* r = block_take(b, nullptr, false, false);
    EXPECT_EQ(type_of(r), T_INTEGER);
    EXPECT_EQ(get_int(r), 1);
    Cell* nested = blk({blk_v({blk_v({i(1)})}), i(5)});
    Cell inner = *ks_abs_at(nested, 0);
    Cell* taken = block_take(nested, nullptr, true, false);
    ASSERT_EQ(type_of(taken), T_BLOCK);
    EXPECT_NE(series_node(taken), series_node(&inner)) << "take/deep copies";
    EXPECT_NE(series_node(ks_abs_at(taken, 0)), series_node(ks_abs_at(&inner, 0)));
    Cell two = i(2);
    Cell* part = block_take(push(ints({1, 2, 3})), &two, false, true);
    EXPECT_EQ(mold(part), "[2 3]");
    Cell one = i(1);
    part = block_take(push(ints({1, 2, 3})), &one, false, false);
    EXPECT_EQ(mold(part), "[1]") << "with /part the answer is a block";
}

TEST_F(BlockEditTest, Swap) {
    Cell* a = push(ints({1, 2}));
    Cell* b = push(ints({3, 4}, 1));
    Cell* r = block_swap(a, b);
    EXPECT_EQ(r, a);
    EXPECT_EQ(whole(a), "4 2");
    EXPECT_EQ(whole(b), "3 1");
    Cell* tail = push(ints({5}, 1));
    block_swap(a, tail);
    EXPECT_EQ(whole(a), "4 2");
    Cell* s = push_string(4);
    EXPECT_EQ(catch_error([&] { block_swap(a, s); }), Err::script_invalid_arg);
}

TEST_F(BlockEditTest, TrimDropsNonesFromTheHead) {
    Cell* b = blk({none_v(), i(1), none_v(), i(2)});
    block_trim(b, false, false, false, false, false, nullptr);
    EXPECT_EQ(whole(b), "1 2");
    Cell* c = blk({none_v(), none_v(), i(1), none_v()});
    c->data1 = 1;
    block_trim(c, true, false, false, false, false, nullptr);
    EXPECT_EQ(whole(c), "none 1");
}

// ---- copy ------------------------------------------------------------------------------

TEST_F(BlockEditTest, CopyDeepSharesNothing) {
    Cell* s = push_string(4);
    append_c_string(s, "ab");
    Cell* b = blk({blk_v({blk_v({i(1)}), *s}), nl(i(2))});
    Cell* r = none_slot();
    block_copy(b, r, nullptr, true, nullptr);
    ASSERT_EQ(ks_length_q(r), 2);
    EXPECT_TRUE(ks_abs_at(r, 1)->header & CELL_NEW_LINE);
    Cell* c0 = ks_abs_at(r, 0);
    EXPECT_EQ(ks_length_q(c0), 2);
    EXPECT_NE(series_node(c0), series_node(ks_abs_at(b, 0)));
    EXPECT_NE(series_node(ks_abs_at(c0, 0)), series_node(ks_abs_at(ks_abs_at(b, 0), 0)));
    EXPECT_NE(series_node(ks_abs_at(c0, 1)), series_node(s)) << "strings are copied too";
    Cell* shallow = none_slot();
    block_copy(b, shallow, nullptr, false, nullptr);
    EXPECT_EQ(series_node(ks_abs_at(shallow, 0)), series_node(ks_abs_at(b, 0)));
}

TEST_F(BlockEditTest, CopyTypesReplacesOnlyThoseTypes) {
    Cell* s = push_string(4);
    Cell inner = blk_v({i(1)});
    Cell* b = blk({inner, *s});
    Cell types = dt_v(T_STRING);
    Cell* r = none_slot();
    block_copy(b, r, nullptr, false, &types);
    EXPECT_EQ(series_node(ks_abs_at(r, 0)), series_node(&inner));
    EXPECT_NE(series_node(ks_abs_at(r, 1)), series_node(s));
    Cell block_type = dt_v(T_BLOCK);
    block_copy(b, r, nullptr, false, &block_type);
    EXPECT_NE(series_node(ks_abs_at(r, 0)), series_node(&inner));
    EXPECT_EQ(series_node(ks_abs_at(r, 1)), series_node(s));
}

TEST_F(BlockEditTest, CopyWithPartKeepsThePathType) {
    Cell* p = blk({i(1), i(2), i(3)}, T_GET_PATH);
    Cell two = i(2);
    Cell* r = none_slot();
    ev::dispatch<A_COPY>(p, r, &two, false, nullptr);
    EXPECT_EQ(mold(r), ":1/2");
}

// ---- sort ------------------------------------------------------------------------------

TEST_F(BlockEditTest, Sort) {
    struct Case {
        const char* name;
        Cell series;
        i32 skip;     // 0: none
        i32 compare;  // 0: none
        i32 part;     // 0: none
        bool all, reverse, stable;
        const char* result;
    };
    const Case cases[] = {
        {"plain", ints({3, 1, 2}), 0, 0, 0, false, false, false, "1 2 3"},
        {"reverse", ints({3, 1, 2}), 0, 0, 0, false, true, false, "3 2 1"},
        {"stable", ints({3, 1, 2, 1}), 0, 0, 0, false, false, true, "1 1 2 3"},
        {"from the head", ints({9, 3, 1, 2}, 1), 0, 0, 0, false, false, false, "9 1 2 3"},
        {"part", ints({3, 2, 1}), 0, 0, 2, false, false, false, "2 3 1"},
        {"part before the head", ints({3, 2, 1, 0}, 3), 0, 0, -2, false, false, false, "3 1 2 0"},
        {"part before the start", ints({3, 2, 1}, 1), 0, 0, -2, false, false, false, "3 2 1"},
        {"skip keys on the first", ints({3, 1, 1, 2, 2, 3}), 2, 0, 0, false, false, true, "1 2 2 3 3 1"},
        {"skip compare field", ints({3, 1, 1, 2, 2, 3}), 2, 2, 0, false, false, false, "3 1 1 2 2 3"},
        {"skip compare field 1", ints({3, 1, 1, 2, 2, 3}), 2, 1, 0, false, false, false, "1 2 2 3 3 1"},
        {"all fields", ints({1, 3, 1, 2, 0, 9}), 2, 0, 0, true, false, false, "0 9 1 2 1 3"},
        {"all fields reversed", ints({1, 3, 1, 2, 0, 9}), 2, 0, 0, true, true, true, "1 3 1 2 0 9"},
        {"stable records", ints({2, 1, 1, 2, 2, 3, 1, 4}), 2, 0, 0, false, false, true, "1 2 1 4 2 1 2 3"},
    };
    for (const Case& c : cases) {
        Cell* s = push(c.series);
        Cell skip = i(c.skip), cmp = i(c.compare), part = i(c.part);
        Cell* r = block_sort(s, false, c.skip ? &skip : nullptr, c.compare ? &cmp : nullptr,
                             c.part ? &part : nullptr, c.all, c.reverse, c.stable);
        EXPECT_EQ(whole(r), c.result) << c.name;
        i32 head = series_head(&c.series);
        if (c.part < 0 && head + c.part >= 0) head += c.part;
        EXPECT_EQ(series_head(r), head) << c.name;
    }
}

TEST_F(BlockEditTest, SortCase) {
    Cell* b = blk({str_v("b"), str_v("A"), str_v("a"), str_v("B")});
    block_sort(b, false, nullptr, nullptr, nullptr, false, false, true);
    EXPECT_EQ(whole(b), "\"A\" \"a\" \"b\" \"B\"");
    block_sort(b, true, nullptr, nullptr, nullptr, false, false, false);
    EXPECT_EQ(whole(b), "\"A\" \"B\" \"a\" \"b\"");
}

TEST_F(BlockEditTest, SortOrdersOtherTypesByTypeId) {
    Cell* b = blk({i(2), none_v(), i(1), logic_v(true)});
    block_sort(b, false, nullptr, nullptr, nullptr, false, false, true);
    EXPECT_EQ(whole(b), "none true 1 2");
}

TEST_F(BlockEditTest, SortRefinementErrors) {
    Cell* b = push(ints({3, 1, 2, 4, 5}));
    Cell two = i(2), zero = i(0), three = i(3), six = i(6), n = none_v();
    auto sort = [&](Cell* skip, Cell* cmp, bool all) { block_sort(b, false, skip, cmp, nullptr, all, false, false); };
    EXPECT_EQ(catch_error([&] { sort(&two, nullptr, false); }), Err::script_invalid_refine_arg);
    EXPECT_EQ(catch_error([&] { sort(&zero, nullptr, false); }), Err::script_invalid_refine_arg);
    EXPECT_EQ(catch_error([&] { sort(&six, nullptr, false); }), Err::script_invalid_refine_arg);
    EXPECT_EQ(catch_error([&] { sort(nullptr, nullptr, true); }), Err::script_bad_refines);
    Cell one = i(1), five = i(5);
    EXPECT_EQ(catch_error([&] { sort(nullptr, &one, false); }), Err::script_bad_refines);
    EXPECT_EQ(catch_error([&] { sort(&five, &one, true); }), Err::script_bad_refines);
    EXPECT_EQ(catch_error([&] { sort(&five, &six, false); }), Err::script_out_of_range);
    EXPECT_EQ(catch_error([&] { sort(&five, &n, false); }), Err::script_invalid_refine_arg);
    EXPECT_EQ(whole(b), "3 1 2 4 5") << "nothing is sorted before an error";
    (void)three;
}

}  // namespace
}  // namespace kel::dt
