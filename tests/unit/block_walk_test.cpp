// Blocks that contain themselves, case-insensitive word look-up, hash! tables kept in step
// with their blocks, and the set operations.
#include <random>
#include <vector>

#include "block_support.h"
#include "datatypes/hash_index.h"
#include "datatypes/random.h"
#include "runtime/cycles.h"
#include "runtime/symbols.h"

namespace kel::dt {
namespace {

using namespace test;
using namespace test::blocks;
using rt::Err;

class BlockWalkTest : public RuntimeTest {
protected:
    Cell* push(Cell c) { return rt::stack_push(&c); }
    // A block that holds itself after its integers: [1 2 <itself>].
    Cell* self_block(u32 type = T_BLOCK) {
        Cell* b = blk({int_v(1), int_v(2)}, type);
        ks_append(b, b);
        return b;
    }
};

Cell i(i32 n) { return int_v(n); }

// ---- cycles ----------------------------------------------------------------------------

TEST_F(BlockWalkTest, SelfContainingBlocksStopAtTheirMarker) {
    EXPECT_EQ(mold(self_block()), "[1 2 [...]]");
    EXPECT_EQ(form(self_block()), "1 2 ...");
    EXPECT_EQ(mold(self_block(T_PAREN)), "(1 2 (...))");
    Cell* p = self_block(T_PATH);
    EXPECT_EQ(mold(p), "1/2/...");
    EXPECT_EQ(rt::cycles_depth(), 0u);
}

TEST_F(BlockWalkTest, ComparingASelfContainingBlockEnds) {
    Cell* a = self_block();
    Cell* r = none_slot();
    block_copy(a, r, nullptr, false, nullptr);  // [1 2 a]
    EXPECT_TRUE(ev::compare(a, r, ev::OP_EQUAL));
    Cell* b = self_block();
    EXPECT_TRUE(ev::compare(a, b, ev::OP_EQUAL)) << "both walks meet themselves at the same place";
    Cell* c = blk({int_v(1), int_v(3)});
    ks_append(c, c);
    EXPECT_FALSE(ev::compare(a, c, ev::OP_EQUAL));
    EXPECT_EQ(rt::cycles_depth(), 0u);
}

TEST_F(BlockWalkTest, DeepCopyOfASelfContainingBlockIsRefused) {
    Cell* a = self_block();
    Cell* r = none_slot();
    EXPECT_EQ(catch_error([&] { block_copy(a, r, nullptr, true, nullptr); }), Err::internal_no_cycle);
    EXPECT_EQ(catch_error([&] { clone_block(a, true, false); }), Err::internal_no_cycle);
    EXPECT_EQ(rt::cycles_depth(), 0u);
    // Sharing without a cycle is fine.
    Cell inner = blk_v({i(1)});
    Cell* twice = blk({inner, inner});
    block_copy(twice, r, nullptr, true, nullptr);
    EXPECT_EQ(mold(r), "[[1] [1]]");
}

TEST_F(BlockWalkTest, AnErrorInMidWalkLeavesNoEntries) {
    Cell odd;
    set_cell(&odd, T_CONTEXT);  // a value without a text form
    Cell* b = blk({i(1), blk_v({blk_v({odd})})});
    EXPECT_EQ(catch_error([&] { mold(b); }), Err::script_expect_arg);
    EXPECT_EQ(rt::cycles_depth(), 0u);
    EXPECT_EQ(mold(blk({blk_v({i(3)})})), "[[3]]") << "nothing stale makes later blocks mold as a cycle";
}

TEST_F(BlockWalkTest, NestingBeyondTheCyclesStackIsTooDeep) {
    Cell* b = blk({i(0)});
    for (int k = 0; k < 1200; ++k) {
        Cell outer = blk_v({*b});
        *b = outer;
    }
    EXPECT_EQ(catch_error([&] { mold(b); }), Err::internal_too_deep);
    EXPECT_EQ(rt::cycles_depth(), 0u);
}

// ---- words -----------------------------------------------------------------------------

TEST_F(BlockWalkTest, SelectWordIgnoresCaseUnlessAsked) {
    auto word = [](u32 type, const char* name) {
        Cell c;
        set_cell(&c, type, 0, rt::make_symbol(name), u32(-1));
        return c;
    };
    Cell* b = blk({word(T_SET_WORD, "Alpha"), i(1), word(T_WORD, "alpha"), i(2)});
    Cell lower = word(T_WORD, "alpha"), upper = word(T_WORD, "ALPHA");
    EXPECT_EQ(get_int(select_word_in_block(b, &lower, false)), 1);
    EXPECT_EQ(get_int(select_word_in_block(b, &lower, true)), 2);
    EXPECT_EQ(type_of(select_word_in_block(b, &upper, true)), T_NONE);
    EXPECT_EQ(get_int(select_word_in_block(b, &upper, false)), 1);
    // path access selects by word the same way
    EXPECT_EQ(get_int(block_eval_path(b, &upper, nullptr, nullptr, nullptr, nullptr, 0, false, true, false)), 1);
}

TEST_F(BlockWalkTest, ReflectOwned) {
    Cell* b = blk({i(1)});
    EXPECT_EQ(type_of(ev::dispatch<A_REFLECT>(b, rt::runtime_symbol(rt::SYM_OWNED))), T_NONE);
    EXPECT_EQ(catch_error([&] { ev::dispatch<A_REFLECT>(b, rt::runtime_symbol(rt::SYM_BODY)); }),
              Err::internal_not_done);
}

TEST_F(BlockWalkTest, RandomSeedRepeatsShufflesForEqualContents) {
    auto shuffled = [&]() {
        Cell* b = blk({i(1), i(2), i(3), i(4), i(5), i(6), i(7), i(8)});
        Cell* seed = blk({i(42), i(7)});
        EXPECT_EQ(type_of(series_random(seed, true, false, false)), T_UNSET);
        series_random(b, false, false, false);
        return form(b);
    };
    std::string first = shuffled();
    EXPECT_EQ(shuffled(), first);
    EXPECT_NE(first, "1 2 3 4 5 6 7 8");
}

// ---- hash! -----------------------------------------------------------------------------

// A hash! over the integers.
Cell* make_hash(std::initializer_list<i32> v) {
    Cell* b = push_new_block(i32(v.size()));
    for (i32 n : v) {
        Cell c = int_v(n);
        ks_append(b, &c);
    }
    set_cell_type(b, T_HASH);
    index_build(b);
    return b;
}

// find through the table against the same search on a plain block of the same cells.
void expect_same_finds(Cell* hash, const char* when) {
    Cell plain = *hash;
    set_cell_type(&plain, T_BLOCK);
    plain.data3 = 0;
    Cell* p = rt::stack_push(&plain);
    Cell* h = rt::stack_push(hash);
    for (i32 head : {0, 1, 3}) {
        for (i32 n = 0; n < 10; ++n) {
            Cell v = int_v(n);
            for (int mode = 0; mode < 3; ++mode) {
                p->data1 = h->data1 = u32(head);
                bool last = mode == 1, reverse = mode == 2;
                Cell* rp = block_find(p, &v, nullptr, false, false, false, false, nullptr, nullptr, last, reverse,
                                      false, false);
                i32 ip = type_of(rp) == T_NONE ? -1 : series_head(rp);
                Cell* rh = block_find(h, &v, nullptr, false, false, false, false, nullptr, nullptr, last, reverse,
                                      false, false);
                i32 ih = type_of(rh) == T_NONE ? -1 : series_head(rh);
                ASSERT_EQ(ih, ip) << when << ": " << n << " from " << head << " mode " << mode;
            }
        }
    }
    rt::stack_pop(2);
}

TEST_F(BlockWalkTest, HashIndexFollowsEveryEdit) {
    Cell* h = make_hash({1, 2, 3, 2, 5});
    expect_same_finds(h, "made");
    std::mt19937 rng(7);
    for (int step = 0; step < 300; ++step) {
        i32 len = ks_buffer_length(h);
        h->data1 = len ? u32(rng() % u32(len + 1)) : 0;
        Cell v = int_v(i32(rng() % 10));
        Cell two = int_v(2);
        int op = int(rng() % 10);
        switch (op) {
            case 0: block_insert(h, &v, -1, false, 1 + i32(rng() % 3), false); break;
            case 1: block_insert(h, &v, -1, false, 1, true); break;
            case 2: series_remove(h, rng() % 2 ? &two : nullptr, nullptr); break;
            case 3: if (!series_tail_q(h)) series_poke(h, 1, &v, nullptr); break;
            case 4: block_change(h, &v, -1, false, 1); break;
            case 5: series_reverse(h, nullptr, nullptr); break;
            case 6: block_sort(h, false, nullptr, nullptr, nullptr, false, false, false); break;
            case 7: block_take(h, rng() % 2 ? &two : nullptr, false, rng() % 2); break;
            case 8: block_put(h, &v, &two, false); break;
            default: {
                Cell* other = make_hash({4, 6});
                block_swap(h, other);
                rt::stack_pop(1);
                break;
            }
        }
        rt::g_args.top = h + 1;
        expect_same_finds(h, "after an edit");
        if (HasFatalFailure()) {
            ADD_FAILURE() << "step " << step << " op " << op;
            return;
        }
    }
    ev::dispatch<A_CLEAR>(h);
    expect_same_finds(h, "cleared");
}

TEST_F(BlockWalkTest, MovesKeepBothTablesInStep) {
    Cell* a = make_hash({1, 2, 3, 4});
    Cell* b = make_hash({5, 6});
    a->data1 = 1;
    b->data1 = 1;
    Cell two = int_v(2);
    series_move(a, b, &two);
    a->data1 = 0;
    b->data1 = 0;
    expect_same_finds(a, "origin");
    expect_same_finds(b, "target");
    Cell* t = rt::stack_push(a);
    t->data1 = 2;
    series_move(a, t, nullptr);
    expect_same_finds(a, "within");
}

TEST_F(BlockWalkTest, TakeFromAHashAnswersAHash) {
    Cell* h = make_hash({1, 2, 3});
    Cell two = int_v(2);
    Cell* r = block_take(h, &two, false, false);
    EXPECT_EQ(type_of(r), T_HASH);
    EXPECT_NE(r->data3, h->data3);
    expect_same_finds(r, "taken");
    expect_same_finds(h, "left");
}

// ---- set operations --------------------------------------------------------------------

struct SetCase {
    const char* name;
    i32 op;
    std::vector<i32> a, b;
    i32 skip;
    const char* result;
};

Cell ints_v(const std::vector<i32>& v, u32 type = T_BLOCK) {
    Cell* b = push_new_block(i32(v.size()));
    for (i32 n : v) {
        Cell c = int_v(n);
        ks_append(b, &c);
    }
    set_cell_type(b, type);
    Cell r = *b;
    rt::stack_pop(1);
    return r;
}

// Runs the operation with its arguments in a call window; answers the result cell.
Cell set_op(i32 op, Cell a, Cell b, Cell* skip = nullptr, bool case_ = false) {
    Cell* saved = rt::g_args.base;
    Cell* base = rt::stack_push(&a);
    rt::stack_push(&b);
    rt::g_args.base = base;
    block_set_operation(case_, skip, op);
    Cell r = *base;
    rt::g_args.base = saved;
    rt::g_args.top = base;
    return r;
}

TEST_F(BlockWalkTest, SetOperations) {
    const SetCase cases[] = {
        {"unique", SET_UNIQUE, {1, 2, 1, 3, 2}, {}, 0, "1 2 3"},
        {"union", SET_UNION, {1, 2, 1}, {2, 3, 3}, 0, "1 2 3"},
        {"intersect", SET_INTERSECT, {1, 2, 3, 3}, {2, 3, 4}, 0, "2 3"},
        {"exclude", SET_EXCLUDE, {1, 2, 3, 1}, {2, 3, 4}, 0, "1"},
        {"difference", SET_DIFFERENCE, {1, 2, 3}, {2, 3, 4}, 0, "1 4"},
        {"empty", SET_UNION, {}, {}, 0, ""},
        {"unique records", SET_UNIQUE, {1, 10, 1, 11, 2, 12}, {}, 2, "1 10 2 12"},
        {"intersect records", SET_INTERSECT, {1, 10, 2, 20, 3, 30}, {2, 0, 10, 3}, 2, "2 20"},
        {"exclude records", SET_EXCLUDE, {1, 10, 2, 20}, {10, 1}, 2, "1 10 2 20"},
        {"union records", SET_UNION, {1, 10}, {1, 99, 5, 50}, 2, "1 10 5 50"},
        {"partial last record", SET_UNIQUE, {1, 10, 2}, {}, 2, "1 10 2"},
        {"one huge record", SET_UNIQUE, {1, 1, 2}, {}, 0x7FFFFFFF, "1 1 2"},
    };
    for (const SetCase& c : cases) {
        Cell skip = int_v(c.skip);
        Cell r = set_op(c.op, ints_v(c.a), ints_v(c.b), c.skip ? &skip : nullptr);
        EXPECT_EQ(type_of(&r), T_BLOCK) << c.name;
        EXPECT_EQ(r.data3, 0u) << c.name;
        EXPECT_EQ(form(push(r)), c.result) << c.name;
    }
}

TEST_F(BlockWalkTest, SetOperationResultTypes) {
    Cell r = set_op(SET_UNION, ints_v({1, 2}), *make_hash({2, 3}));
    EXPECT_EQ(type_of(&r), T_HASH);
    EXPECT_EQ(form(push(r)), "1 2 3");
    expect_same_finds(push(r), "union result");
    r = set_op(SET_UNIQUE, ints_v({1, 1}, T_PAREN), ints_v({}));
    EXPECT_EQ(type_of(&r), T_PAREN);
    r = set_op(SET_UNIQUE, ints_v({1, 1}), *make_hash({1}));
    EXPECT_EQ(type_of(&r), T_BLOCK) << "unique looks at its first argument only";
    Cell head_later = ints_v({1, 2, 3});
    head_later.data1 = 1;
    r = set_op(SET_UNIQUE, head_later, ints_v({}));
    EXPECT_EQ(series_head(&r), 0);
    EXPECT_EQ(form(push(r)), "2 3");
}

TEST_F(BlockWalkTest, SetOperationsOnNestedBlocks) {
    Cell x = blk_v({i(1)}), y = blk_v({i(1)}), z = blk_v({i(2)});
    Cell r = set_op(SET_UNIQUE, blk_v({x, y, z}), ints_v({}));
    EXPECT_EQ(mold(push(r)), "[[1] [2]]");
    r = set_op(SET_EXCLUDE, blk_v({x, z}), blk_v({y}));
    EXPECT_EQ(mold(push(r)), "[[2]]");
}

TEST_F(BlockWalkTest, SetOperationsIgnoreCaseUnlessAsked) {
    Cell args[] = {blk_v({str_v("a"), str_v("A"), str_v("b")}), blk_v({str_v("B")})};
    Cell* a = push(args[0]);
    Cell* b = push(args[1]);
    Cell r = set_op(SET_UNIQUE, *a, *b);
    EXPECT_EQ(mold(push(r)), "[\"a\" \"b\"]");
    r = set_op(SET_UNIQUE, *a, *b, nullptr, true);
    EXPECT_EQ(mold(push(r)), "[\"a\" \"A\" \"b\"]");
    r = set_op(SET_EXCLUDE, *a, *b);
    EXPECT_EQ(mold(push(r)), "[\"a\"]");
    r = set_op(SET_EXCLUDE, *a, *b, nullptr, true);
    EXPECT_EQ(mold(push(r)), "[\"a\" \"A\" \"b\"]");
}

TEST_F(BlockWalkTest, SetOperationSkipErrors) {
    Cell zero = int_v(0), t = logic_v(true);
    EXPECT_EQ(catch_error([&] { set_op(SET_UNIQUE, ints_v({1}), ints_v({}), &zero); }),
              Err::script_invalid_refine_arg);
    EXPECT_EQ(catch_error([&] { set_op(SET_UNIQUE, ints_v({1}), ints_v({}), &t); }), Err::script_invalid_refine_arg);
}

}  // namespace
}  // namespace kel::dt
