// block!: the cell layer, construction, comparison, search and path access.
#include <vector>

#include "block_support.h"
#include "datatypes/integer.h"

namespace kel::dt {
namespace {

using namespace test;
using namespace test::blocks;
using rt::Err;

class BlockTest : public RuntimeTest {
protected:
    Cell* push(Cell c) { return rt::stack_push(&c); }
    // The integers of a block from its head ("" for non-integers: "_").
    std::string ints(Cell* b) { return form(b); }
};

Cell i(i32 n) { return int_v(n); }

// ---- cell layer ------------------------------------------------------------------------

TEST_F(BlockTest, AccessorsAtAndBeyondTheTail) {
    Cell* b = blk({i(1), i(2), i(3)});
    b->data1 = 2;
    EXPECT_EQ(ks_length_q(b), 1);
    EXPECT_FALSE(ks_next(b) == false) << "next reaches the tail";
    EXPECT_TRUE(ks_tail_q(b));
    EXPECT_TRUE(ks_next(b));
    EXPECT_EQ(series_head(b), 3) << "next never passes the tail";
    b->data1 = 5;
    EXPECT_EQ(ks_length_q(b), -2);
    EXPECT_EQ(ks_head(b), ks_tail(b));
    EXPECT_EQ(series_head(b), 3) << "ks-head pulls the head back to the tail";
    ks_remove_last(b);
    EXPECT_EQ(series_head(b), 2);
    ks_clear(b);
    EXPECT_EQ(ks_buffer_length(b), 2);
    b->data1 = 0;
    ks_set_tail(b, 1);
    EXPECT_EQ(form(b), "1");
}

TEST_F(BlockTest, AppendGrowsEvenAnEmptyBuffer) {
    Cell* b = none_slot();
    make_block_at(b, 0);
    for (i32 n = 0; n < 100; ++n) {
        Cell v = i(n);
        ks_append(b, &v);
    }
    EXPECT_EQ(ks_length_q(b), 100);
    EXPECT_EQ(get_int(ks_abs_at(b, 99)), 99);
    // Appending a block's own cell to it reads the value before the buffer grows.
    Cell* c = blk({i(7)});
    for (int k = 0; k < 40; ++k) ks_append(c, ks_abs_at(c, 0));
    EXPECT_EQ(get_int(ks_abs_at(c, 40)), 7);
}

TEST_F(BlockTest, ConstructorsInAParentAndTheRootSlot) {
    Cell* parent = blk({i(1)});
    Cell* child = make_block_in(parent, 4);
    EXPECT_EQ(type_of(child), T_BLOCK);
    EXPECT_EQ(ks_buffer_length(parent), 2);
    EXPECT_EQ(series_node(ks_abs_at(parent, 1)), series_node(child));
    Cell* root = make_block_in(nullptr, 2);
    EXPECT_EQ(root, &g_root_slot);
    Cell* fixed = make_block_in_2(parent, 3);
    EXPECT_TRUE(series_buffer(fixed)->flags & rt::SB_FIXED);
    Cell* p = push_new_block(0);
    EXPECT_EQ(series_buffer(p)->size, 16u);
    Cell pc = *p;
    make_path_at(&pc, 2);
    EXPECT_EQ(type_of(&pc), T_PATH);
    Cell* pushed = push_set_path(&pc);
    EXPECT_EQ(type_of(pushed), T_SET_PATH);
}

TEST_F(BlockTest, InsertValueAndInsertCells) {
    Cell* b = blk({i(1), i(2)});
    b->data1 = 1;
    Cell v = i(9);
    ks_insert_value(b, &v, true, false);
    EXPECT_EQ(series_head(b), 2);
    b->data1 = 0;
    EXPECT_EQ(form(b), "1 9 2");
    ks_insert_value(b, &v, false, true);
    EXPECT_EQ(form(b), "9 1 9 2");
    Cell* t = blk({i(0)});
    insert_block_cells(t, blk({i(5), i(6)}));
    EXPECT_EQ(series_head(t), 2);
    t->data1 = 0;
    EXPECT_EQ(form(t), "5 6 0");
}

// A block spliced into itself: the copy must come out whole although making room moves the
// buffer (and, in the GC-stress build, collects) in the middle of it.
TEST_F(BlockTest, BlockAppendedOrInsertedIntoItself) {
    Cell* b = blk({str_v("ab"), i(1), str_v("cd")});
    b->data1 = 1;
    ks_append_range(b, b);
    b->data1 = 0;
    EXPECT_EQ(form(b), "ab 1 cd 1 cd");
    Cell* t = blk({str_v("x"), i(2)});
    insert_block_cells(t, t);
    t->data1 = 0;
    EXPECT_EQ(form(t), "x 2 x 2");
}

TEST_F(BlockTest, CloneBlock) {
    Cell* empty = clone_block(blk({}), false, false);
    EXPECT_EQ(ks_length_q(empty), 0);
    EXPECT_EQ(series_buffer(empty)->size, 16u);

    Cell inner2 = blk_v({i(3)});
    Cell inner1 = nl(blk_v({i(2), inner2}));
    Cell* src = blk({i(1), inner1, blk_v({i(4)}, T_PAREN)});
    src->header |= CELL_NEW_LINE;
    Cell* shallow = clone_block(src, false, false);
    EXPECT_EQ(series_node(ks_abs_at(shallow, 1)), series_node(&inner1));
    EXPECT_FALSE(shallow->header & CELL_NEW_LINE) << "the new block has no flags";

    Cell* deep = clone_block(src, true, false);
    Cell* d1 = ks_abs_at(deep, 1);
    EXPECT_NE(series_node(d1), series_node(&inner1));
    EXPECT_TRUE(d1->header & CELL_NEW_LINE) << "a deep clone keeps the nested cell's header";
    EXPECT_NE(series_node(ks_abs_at(d1, 1)), series_node(&inner2));
    EXPECT_EQ(series_node(ks_abs_at(deep, 2)), series_node(ks_abs_at(src, 2))) << "parens only with paths";
    Cell* with_paths = clone_block(src, true, true);
    EXPECT_NE(series_node(ks_abs_at(with_paths, 2)), series_node(ks_abs_at(src, 2)));
    EXPECT_EQ(mold(with_paths), mold(src));
}

TEST_F(BlockTest, SelectAndRemoveValues) {
    Cell* b = blk({i(1), i(2), i(3), i(2)});
    Cell two = i(2), three = i(3), nine = i(9);
    EXPECT_EQ(get_int(block_select_value(b, &two)), 3);
    EXPECT_EQ(type_of(block_select_value(b, &nine)), T_NONE);
    b->data1 = 3;
    EXPECT_EQ(type_of(block_select_value(b, &two)), T_NONE) << "a match on the last cell";
    EXPECT_FALSE(block_remove_value(b, &nine, true));
    EXPECT_EQ(ks_buffer_length(b), 4);
    EXPECT_TRUE(block_remove_value(b, &three, true));
    EXPECT_EQ(ks_buffer_length(b), 3);
    b->data1 = 0;
    EXPECT_FALSE(block_remove_value(b, &two, false)) << "index 1 is after head 0";
    EXPECT_EQ(form(b), "1 2");
}

TEST_F(BlockTest, SelectWordMatchesEveryWordKindAfterIt) {
    auto word = [](u32 type, u32 sym) {
        Cell c;
        set_cell(&c, type, 0, sym, u32(-1));
        return c;
    };
    Cell* b = blk({word(T_SET_WORD, 7), i(1), word(T_LIT_WORD, 8), i(2), word(T_REFINEMENT, 9), i(3)});
    Cell w7 = word(T_WORD, 7), w8 = word(T_WORD, 8), w9 = word(T_WORD, 9);
    EXPECT_EQ(get_int(select_word_in_block(b, &w7, false)), 1);
    EXPECT_EQ(get_int(select_word_in_block(b, &w8, true)), 2);
    EXPECT_EQ(type_of(select_word_in_block(b, &w9, false)), T_NONE) << "a refinement is not a word that names";
}

// ---- construction ----------------------------------------------------------------------

TEST_F(BlockTest, MakeAndTo) {
    Cell proto = dt_v(T_BLOCK);
    Cell* src = blk({i(1), i(2)}, T_PAREN);
    src->data1 = 1;
    Cell* m = block_make(&proto, src, T_BLOCK);
    EXPECT_EQ(type_of(m), T_BLOCK);
    EXPECT_EQ(form(m), "2");
    EXPECT_NE(series_node(m), series_node(src));

    struct SizeCase {
        Cell spec;
        u32 capacity;
    };
    Cell f;
    set_cell(&f, T_FLOAT);
    set_float_payload(&f, 3.7);
    const SizeCase sizes[] = {{i(5), 5}, {i(0), 1}, {i(-4), 1}, {f, 3}};
    for (const SizeCase& c : sizes) {
        Cell spec = c.spec;
        Cell* r = block_make(&proto, &spec, T_BLOCK);
        EXPECT_EQ(ks_length_q(r), 0);
        EXPECT_EQ(series_buffer(r)->size / 16, c.capacity);
    }
    set_float_payload(&f, 1e12);
    EXPECT_EQ(catch_error([&] { block_make(&proto, &f, T_BLOCK); }), Err::script_out_of_range);
    Cell n = none_v();
    EXPECT_EQ(catch_error([&] { block_make(&proto, &n, T_BLOCK); }), Err::script_bad_make_arg);

    Cell one = i(42);
    Cell* t = block_to(&proto, &one, T_PAREN);
    EXPECT_EQ(type_of(t), T_PAREN);
    EXPECT_EQ(mold(t), "(42)");
    Cell ts;
    set_cell(&ts, T_TYPESET, 0x00001000, 0, 0);  // integer! (id 11: byte 1, bit 0x10)
    EXPECT_EQ(mold(block_to(&proto, &ts, T_BLOCK)), "[integer!]");
    Cell* copy = block_to(&proto, src, T_BLOCK);
    EXPECT_EQ(mold(copy), "[2]");
}

TEST_F(BlockTest, PathMakeChecksCountsLikeBlocks) {
    Cell proto = dt_v(T_PATH);
    Cell f;
    set_cell(&f, T_FLOAT);
    set_float_payload(&f, 3.7);
    auto path_like_make = [](Cell* proto, Cell* spec) { return handler<A_MAKE>(T_PATH)(proto, spec, T_PATH); };
    Cell* r = path_like_make(&proto, &f);
    EXPECT_EQ(type_of(r), T_PATH);
    EXPECT_EQ(series_buffer(r)->size, 48u);
    Cell zero = i(0), neg = i(-3);
    EXPECT_EQ(series_buffer(path_like_make(&proto, &zero))->size, 16u);
    EXPECT_EQ(series_buffer(path_like_make(&proto, &neg))->size, 16u);
    set_float_payload(&f, -1e15);
    EXPECT_EQ(catch_error([&] { path_like_make(&proto, &f); }), Err::script_out_of_range);
    Cell t = logic_v(true);
    EXPECT_EQ(catch_error([&] { path_like_make(&proto, &t); }), Err::script_bad_make_arg);
    Cell* from_block = path_like_make(&proto, blk({i(1), i(2)}));
    EXPECT_EQ(mold(from_block), "1/2");
}

TEST_F(BlockTest, ActionRowsOfTheBlockKinds) {
    for (u32 t : {T_PATH, T_LIT_PATH, T_SET_PATH, T_GET_PATH}) {
        for (int a : {A_RANDOM, A_SORT, A_TRIM}) EXPECT_EQ(action_entry(t, a), nullptr) << t << " " << a;
        EXPECT_EQ(action_entry(t, A_FIND), action_entry(T_BLOCK, A_FIND));
        EXPECT_EQ(action_entry(t, A_MAKE), action_entry(T_PATH, A_MAKE));
        EXPECT_EQ(action_entry(t, A_COPY), action_entry(T_PATH, A_COPY));
    }
    for (int a = 1; a <= ACTION_COUNT; ++a) {
        if (a == A_MOLD) continue;
        EXPECT_EQ(action_entry(T_PAREN, a), action_entry(T_BLOCK, a)) << a;
    }
    EXPECT_EQ(action_entry(T_BLOCK, A_PICK), action_entry(T_SERIES, A_PICK));
    EXPECT_EQ(action_entry(T_BLOCK, A_ADD), nullptr);
    Cell* p = blk({i(2), i(1)}, T_PATH);
    EXPECT_EQ(catch_error([&] { ev::dispatch<A_SORT>(p, false, nullptr, nullptr, nullptr, false, false, false); }),
              Err::script_expect_arg);
}

TEST_F(BlockTest, PathToWrapsOtherContainersInOneElement) {
    Cell proto = dt_v(T_PATH);
    Cell ts;
    set_cell(&ts, T_TYPESET, 0x00100000, 0, 0);
    Cell* r = handler<A_TO>(T_PATH)(&proto, &ts, T_SET_PATH);
    EXPECT_EQ(type_of(r), T_SET_PATH);
    ASSERT_EQ(ks_length_q(r), 1);
    EXPECT_EQ(type_of(ks_abs_at(r, 0)), T_TYPESET);
    Cell n = nl(none_v());
    r = handler<A_TO>(T_PATH)(&proto, &n, T_PATH);
    EXPECT_EQ(mold(r), "none") << "a path never breaks its line";
}

// ---- comparison ------------------------------------------------------------------------

TEST_F(BlockTest, CompareEach) {
    Cell f;
    set_cell(&f, T_FLOAT);
    set_float_payload(&f, 2.0);
    struct Case {
        Cell a, b;
        i32 op;
        i32 expected;
    };
    const Case cases[] = {
        {blk_v({i(1), i(2)}), blk_v({i(1), i(2)}), ev::OP_EQUAL, 0},
        {blk_v({i(1), i(2)}), blk_v({i(1), i(2), i(3)}), ev::OP_EQUAL, 1},
        {blk_v({i(1), i(2)}), blk_v({i(1), i(2), i(3)}), ev::OP_LESSER, -1},
        {blk_v({i(1), i(3)}), blk_v({i(1), i(2), i(3)}), ev::OP_LESSER, 1},
        {blk_v({}), blk_v({i(1)}), ev::OP_LESSER, 0},
        {blk_v({i(1), i(2)}), blk_v({i(1), f}), ev::OP_EQUAL, 0},
        {blk_v({i(1), i(2)}), blk_v({i(1), f}), ev::OP_STRICT_EQUAL, 1},
        {blk_v({i(1)}), blk_v({none_v()}), ev::OP_LESSER, i32(T_INTEGER) < i32(T_NONE) ? -1 : 1},
        {blk_v({i(1), i(2)}), blk_v({i(1), i(2)}), ev::OP_SAME, -1},
    };
    for (const Case& c : cases) {
        Cell* a = push(c.a);
        Cell* b = push(c.b);
        EXPECT_EQ(compare_each(a, b, c.op), c.expected) << mold(a) << " " << mold(b) << " op " << c.op;
    }
    Cell* a = blk({i(1)});
    Cell* same = push(*a);
    EXPECT_EQ(compare_each(a, same, ev::OP_SAME), 0);
}

TEST_F(BlockTest, PathAndLitPathAreEqualOnlyForParse) {
    Cell* p = blk({i(1), i(2)}, T_PATH);
    Cell* lp = blk({i(1), i(2)}, T_LIT_PATH);
    EXPECT_FALSE(ev::compare(p, lp, ev::OP_EQUAL));
    EXPECT_TRUE(ev::compare(p, lp, ev::OP_FIND));
    EXPECT_TRUE(ev::compare(lp, p, ev::OP_STRICT_FIND));
    Cell* b = blk({i(1), i(2)});
    EXPECT_FALSE(ev::compare(p, b, ev::OP_FIND));
    EXPECT_EQ(catch_error([&] { ev::compare(p, b, ev::OP_LESSER); }), Err::script_invalid_compare);
}

// ---- find, select, put -----------------------------------------------------------------

struct FindCase {
    const char* name;
    std::vector<i32> series;  // 0 stands for none
    i32 head;
    Cell value;
    i32 part;  // -1: no /part
    bool only, last, reverse, tail, match;
    i32 skip;      // 0: no /skip
    i32 expected;  // index of the answer, -1 for none
};

Cell make_series(const std::vector<i32>& v, i32 head) {
    Cell* b = push_new_block(i32(v.size()));
    for (i32 n : v) {
        Cell c = n ? int_v(n) : none_v();
        ks_append(b, &c);
    }
    b->data1 = u32(head);
    Cell r = *b;
    rt::stack_pop(1);
    return r;
}

TEST_F(BlockTest, Find) {
    const std::vector<i32> s = {1, 2, 3, 4, 2, 3};
    Cell run = blk_v({i(2), i(3)});
    Cell int_type = dt_v(T_INTEGER), none_type = dt_v(T_NONE);
    const FindCase cases[] = {
        {"single", s, 0, i(3), -1, false, false, false, false, false, 0, 2},
        {"from the head", s, 3, i(2), -1, false, false, false, false, false, 0, 4},
        {"absent", s, 0, i(9), -1, false, false, false, false, false, 0, -1},
        {"tail forwards", s, 0, i(3), -1, false, false, false, true, false, 0, 3},
        {"run", s, 0, run, -1, false, false, false, false, false, 0, 1},
        {"run tail", s, 0, run, -1, false, false, false, true, false, 0, 3},
        {"run only", s, 0, run, -1, true, false, false, false, false, 0, -1},
        {"last", s, 0, i(2), -1, false, true, false, false, false, 0, 4},
        {"last run", s, 0, run, -1, false, true, false, false, false, 0, 4},
        {"last tail", s, 0, i(2), -1, false, true, false, true, false, 0, 5},
        {"reverse", s, 4, i(3), -1, false, false, true, false, false, 0, 2},
        {"reverse at the head", s, 0, i(1), -1, false, false, true, false, false, 0, -1},
        {"reverse from the tail", s, 6, i(3), -1, false, false, true, false, false, 0, 5},
        {"reverse run", s, 4, run, -1, false, false, true, false, false, 0, 1},
        {"part", s, 0, i(4), 3, false, false, false, false, false, 0, -1},
        {"part covers", s, 0, i(3), 3, false, false, false, false, false, 0, 2},
        {"part zero", s, 0, i(1), 0, false, false, false, false, false, 0, -1},
        {"part run cut", s, 3, run, 2, false, false, false, false, false, 0, -1},
        {"last part", s, 0, i(2), 3, false, true, false, false, false, 0, 1},
        {"match", s, 1, i(2), -1, false, false, false, false, true, 0, 1},
        {"match fails", s, 0, i(2), -1, false, false, false, false, true, 0, -1},
        {"skip", {7, 1, 8, 2}, 0, i(8), -1, false, false, false, false, false, 2, 2},
        {"skip misses", {7, 1, 8, 2}, 0, i(1), -1, false, false, false, false, false, 2, -1},
        {"skip tail steps", {7, 1, 8, 2, 9}, 0, i(8), -1, false, false, false, true, false, 2, 4},
        {"skip tail at the end", {7, 1, 8}, 0, i(8), -1, false, false, false, true, false, 2, 3},
        {"huge skip", {7, 1, 8}, 0, i(8), -1, false, false, false, false, false, 0x7FFFFFFF, -1},
        {"huge skip tail", {7, 1, 8}, 0, i(7), -1, false, false, false, true, false, 0x7FFFFFFF, 3},
        {"huge skip last", {7, 1, 8}, 0, i(8), -1, false, true, false, false, false, 0x7FFFFFFF, 2},
        {"datatype", {0, 0, 5}, 0, int_type, -1, false, false, false, false, false, 0, 2},
        {"datatype only", {0, 5}, 0, none_type, -1, true, false, false, false, false, 0, -1},
        {"at the tail", s, 6, i(3), -1, false, false, false, false, false, 0, -1},
        {"empty", {}, 0, i(3), -1, false, false, false, true, false, 0, -1},
    };
    for (const FindCase& c : cases) {
        Cell* b = push(make_series(c.series, c.head));
        Cell value = c.value;
        Cell part = i(c.part), skip = i(c.skip);
        Cell* r = block_find(b, &value, c.part >= 0 ? &part : nullptr, c.only, false, false, false, nullptr,
                             c.skip ? &skip : nullptr, c.last, c.reverse, c.tail, c.match);
        if (c.expected < 0) {
            EXPECT_EQ(type_of(r), T_NONE) << c.name;
        } else {
            ASSERT_EQ(type_of(r), T_BLOCK) << c.name;
            EXPECT_EQ(series_head(r), c.expected) << c.name;
            EXPECT_EQ(series_node(r), series_node(b)) << c.name;
        }
    }
}

TEST_F(BlockTest, FindRefinementErrors) {
    Cell* b = push(make_series({1, 2}, 0));
    Cell v = i(1), zero = i(0), t = logic_v(true);
    auto find = [&](Cell* part, Cell* skip) {
        block_find(b, &v, part, false, false, false, false, nullptr, skip, false, false, false, false);
    };
    EXPECT_EQ(catch_error([&] { find(nullptr, &zero); }), Err::script_out_of_range);
    EXPECT_EQ(catch_error([&] { find(nullptr, &t); }), Err::script_invalid_refine_arg);
    Cell* other = push(make_series({1, 2}, 1));
    EXPECT_EQ(catch_error([&] { find(other, nullptr); }), Err::script_invalid_refine_arg);
    Cell* end = push(*b);
    end->data1 = 1;
    EXPECT_EQ(catch_error([&] { find(end, nullptr); }), Err::count) << "a series on the same buffer is a limit";
}

TEST_F(BlockTest, FindSameAndCase) {
    Cell inner = blk_v({i(1)});
    Cell* b = blk({blk_v({i(1)}), inner});
    Cell* probe = push(inner);
    Cell* r = block_find(b, probe, nullptr, true, false, true, false, nullptr, nullptr, false, false, false, false);
    EXPECT_EQ(series_head(r), 1) << "/same finds the very block";
    r = block_find(b, probe, nullptr, true, false, false, false, nullptr, nullptr, false, false, false, false);
    EXPECT_EQ(series_head(r), 0) << "without /same an equal block matches";
    Cell f;
    set_cell(&f, T_FLOAT);
    set_float_payload(&f, 2.0);
    Cell* nums = blk({f, i(2)});
    Cell two = i(2);
    r = block_find(nums, &two, nullptr, false, true, false, false, nullptr, nullptr, false, false, false, false);
    EXPECT_EQ(series_head(r), 1) << "/case compares strictly";
}

TEST_F(BlockTest, FindTextIgnoresCaseUnlessAsked) {
    Cell* b = blk({str_v("x"), str_v("abc"), str_v("ABC")});
    Cell* key = push(str_v("ABC"));
    Cell* r = block_find(b, key, nullptr, false, false, false, false, nullptr, nullptr, false, false, false, false);
    EXPECT_EQ(series_head(r), 1);
    r = block_find(b, key, nullptr, false, true, false, false, nullptr, nullptr, false, false, false, false);
    EXPECT_EQ(series_head(r), 2);
    // put stores a value that differs from the old one only in letter case
    Cell* x = push(str_v("x"));
    Cell* upper = push(str_v("ABC"));
    block_put(b, x, upper, false);
    EXPECT_EQ(mold(b), "[\"x\" \"ABC\" \"ABC\"]");
}

TEST_F(BlockTest, Select) {
    Cell run = blk_v({i(2), i(3)});
    struct Case {
        Cell value;
        bool only;
        i32 expected;  // 0: none
    };
    const Case cases[] = {{i(1), false, 2}, {run, false, 4}, {i(4), false, 0}, {i(9), false, 0}, {run, true, 0}};
    for (const Case& c : cases) {
        Cell* b = push(make_series({1, 2, 3, 4}, 0));
        Cell v = c.value;
        Cell* r = block_select(b, &v, nullptr, c.only, false, false, false, nullptr, nullptr, false, false);
        if (c.expected) EXPECT_EQ(get_int(r), c.expected);
        else EXPECT_EQ(type_of(r), T_NONE);
    }
}

TEST_F(BlockTest, Put) {
    Cell* b = push(make_series({1, 2, 3, 4}, 0));
    Cell k = i(3), v = i(30), k2 = i(9), v2 = i(90), last = i(4), v3 = i(40);
    Cell* r = block_put(b, &k, &v, false);
    EXPECT_EQ(get_int(r), 30);
    block_put(b, &k2, &v2, false);
    block_put(b, &last, &v3, false);
    EXPECT_EQ(form(b), "1 2 3 30 9 90 4 40");
    Cell k3 = i(40), v5 = i(400);
    block_put(b, &k3, &v5, false);
    EXPECT_EQ(form(b), "1 2 3 30 9 90 4 40 400") << "a key that is last gets its value after it";
    // A value equal under put's equality is still stored.
    Cell f;
    set_cell(&f, T_FLOAT);
    set_float_payload(&f, 2.0);
    Cell one = i(1);
    block_put(b, &one, &f, false);
    EXPECT_EQ(type_of(ks_abs_at(b, 1)), T_FLOAT);
    Cell* s = blk({i(1), nl(i(2))});
    Cell v4 = i(5);
    block_put(s, &one, &v4, false);
    EXPECT_EQ(mold(s), "[1\n5]") << "the replaced cell keeps its line break";
}

// ---- path access -----------------------------------------------------------------------

TEST_F(BlockTest, EvalPath) {
    Cell* b = push(make_series({1, 2, 3}, 0));
    Cell two = i(2), nine = i(9), v = i(20);
    EXPECT_EQ(get_int(block_eval_path(b, &two, nullptr, nullptr, nullptr, nullptr, 0, false, true, false)), 2);
    EXPECT_EQ(type_of(block_eval_path(b, &nine, nullptr, nullptr, nullptr, nullptr, 0, false, true, false)), T_NONE);
    block_eval_path(b, &two, &v, nullptr, nullptr, nullptr, 0, false, false, false);
    EXPECT_EQ(form(b), "1 20 3");
    EXPECT_EQ(catch_error([&] { block_eval_path(b, &nine, &v, nullptr, nullptr, nullptr, 0, false, false, false); }),
              Err::script_out_of_range);
    // Another element selects the value after it, and sets it.
    Cell* keyed = blk({logic_v(true), i(5), none_v(), i(6)});
    Cell t = logic_v(true), n = none_v(), f = logic_v(false), x = i(11);
    EXPECT_EQ(get_int(block_eval_path(keyed, &t, nullptr, nullptr, nullptr, nullptr, 0, false, true, false)), 5);
    EXPECT_EQ(get_int(block_eval_path(keyed, &n, nullptr, nullptr, nullptr, nullptr, 0, false, true, false)), 6);
    block_eval_path(keyed, &t, &x, nullptr, nullptr, nullptr, 0, false, false, false);
    EXPECT_EQ(form(keyed), "true 11 none 6");
    Cell* path = blk({i(1), i(2)}, T_PATH);
    EXPECT_EQ(catch_error([&] { block_eval_path(keyed, &f, &x, path, nullptr, nullptr, 0, false, false, false); }),
              Err::script_bad_path_set);
}

}  // namespace
}  // namespace kel::dt
