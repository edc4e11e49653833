// series! actions: navigation, pick/poke, copy, remove, reverse, take, move, clear, random.
#include <algorithm>
#include <vector>

#include "block_support.h"
#include "datatypes/random.h"

namespace kel::dt {
namespace {

using namespace test;
using namespace test::blocks;
using rt::Err;

class SeriesTest : public RuntimeTest {
protected:
    // [integer! string! block! none!] at the given head.
    Cell abcd(i32 head = 0) {
        Cell b = blk_v({dt_v(T_INTEGER), dt_v(T_STRING), dt_v(T_BLOCK), dt_v(T_NONE)});
        b.data1 = u32(head);
        return b;
    }
    Cell* push(Cell c) { return rt::stack_push(&c); }
    // A string! value holding ASCII text.
    Cell* str(const char* s) {
        Cell* c = push_string(16);
        append_c_string(c, s);
        return c;
    }
};

// ---- navigation ------------------------------------------------------------------------

TEST_F(SeriesTest, NavigationMovesTheHeadWithinTheBuffer) {
    struct Case {
        int action;
        i32 head;
        bool has_arg;
        i32 arg;
        i32 expected;
    };
    const Case cases[] = {
        {A_AT, 1, true, 1, 1},     {A_AT, 1, true, 0, 1},     {A_AT, 1, true, 3, 3},
        {A_AT, 2, true, -1, 1},    {A_AT, 1, true, 100, 4},   {A_AT, 3, true, -100, 0},
        {A_SKIP, 1, true, 2, 3},   {A_SKIP, 1, true, 0, 1},   {A_SKIP, 2, true, -10, 0},
        {A_SKIP, 2, true, 10, 4},  {A_NEXT, 3, false, 0, 4},  {A_NEXT, 4, false, 0, 4},
        {A_BACK, 1, false, 0, 0},  {A_BACK, 0, false, 0, 0},  {A_HEAD, 3, false, 0, 0},
        {A_TAIL, 1, false, 0, 4},
    };
    for (const Case& c : cases) {
        Cell arg = int_v(c.arg);
        Cell r = stack_action(c.action, abcd(c.head), c.has_arg ? &arg : nullptr);
        EXPECT_EQ(head_of(r), c.expected) << "action " << c.action << " from " << c.head << " by " << c.arg;
    }
}

TEST_F(SeriesTest, AtAndSkipClampToTheTotalEvenBeyondTheTail) {
    Cell s = abcd(3);
    rt::buffer_of(series_node(&s))->tail -= 3 * sizeof(Cell);  // one cell left, head beyond it
    Cell two = int_v(2), back = int_v(-1);
    EXPECT_EQ(head_of(stack_action(A_AT, s, &two)), 1);
    EXPECT_EQ(head_of(stack_action(A_SKIP, s, &back)), 1);
    EXPECT_EQ(head_of(stack_action(A_SKIP, s, &two)), 1);
}

TEST_F(SeriesTest, AtWithANonIntegerIsAnInvalidArgument) {
    Cell t = logic_v(true);
    EXPECT_EQ(catch_error([&] { stack_action(A_AT, abcd(), &t); }), Err::script_invalid_arg);
    EXPECT_EQ(catch_error([&] { stack_action(A_SKIP, abcd(), &t); }), Err::script_invalid_arg);
}

TEST_F(SeriesTest, PredicatesAndIndex) {
    EXPECT_EQ(stack_action(A_HEAD_Q, abcd(0)).data1, 1u);
    EXPECT_EQ(stack_action(A_HEAD_Q, abcd(1)).data1, 0u);
    EXPECT_EQ(stack_action(A_TAIL_Q, abcd(4)).data1, 1u);
    EXPECT_EQ(stack_action(A_TAIL_Q, abcd(3)).data1, 0u);
    Cell idx = stack_action(A_INDEX_Q, abcd(2));
    EXPECT_EQ(type_of(&idx), T_INTEGER);
    EXPECT_EQ(get_int(&idx), 3);
}

TEST_F(SeriesTest, HeadBeyondTheTailKeepsItsIndexButHasNoLength) {
    Cell* s = push(abcd(3));
    rt::buffer_of(series_node(s))->tail -= 3 * sizeof(Cell);
    Cell idx = stack_action(A_INDEX_Q, *s);
    EXPECT_EQ(get_int(&idx), 4);
    EXPECT_EQ(series_length_q(s, false), 0);
    EXPECT_EQ(series_head(s), 1) << "length? pulls the head back to the tail";
    EXPECT_EQ(stack_action(A_TAIL_Q, *s).data1, 1u);
}

// ---- pick and poke ---------------------------------------------------------------------

TEST_F(SeriesTest, PickAddressesFromTheHead) {
    Cell* s = push(abcd(1));
    struct Case {
        i32 index;
        i32 expected_type;  // datatype named by the picked atom; -1 = none
    };
    const Case cases[] = {{1, T_STRING}, {3, T_NONE}, {-1, T_INTEGER}, {0, -1}, {4, -1}, {-2, -1}};
    for (const Case& c : cases) {
        Cell* r = series_pick(s, c.index, nullptr);
        if (c.expected_type < 0) {
            EXPECT_EQ(type_of(r), T_NONE) << c.index;
        } else {
            ASSERT_EQ(type_of(r), T_DATATYPE) << c.index;
            EXPECT_EQ(r->data1, u32(c.expected_type)) << c.index;
        }
    }
}

TEST_F(SeriesTest, PickOfTextAndBinaryBoxesTheUnit) {
    Cell* s = str("abc");
    Cell* c = series_pick(s, 2, nullptr);
    EXPECT_EQ(type_of(c), T_CHAR);
    EXPECT_EQ(c->data2, u32('b'));
    Cell* bin = push(*s);
    set_cell_type(bin, T_BINARY);
    Cell* i = series_pick(bin, 3, nullptr);
    EXPECT_EQ(type_of(i), T_INTEGER);
    EXPECT_EQ(get_int(i), 'c');
}

TEST_F(SeriesTest, PokeStoresAndAnswersTheValue) {
    Cell* s = push(abcd(1));
    Cell v = logic_v(true);
    Cell* r = series_poke(s, 2, &v, nullptr);
    EXPECT_EQ(type_of(r), T_LOGIC);
    EXPECT_EQ(type_of(ks_abs_at(s, 2)), T_LOGIC);
    series_poke(s, -1, &v, nullptr);
    EXPECT_EQ(type_of(ks_abs_at(s, 0)), T_LOGIC);
}

TEST_F(SeriesTest, PokeOutsideTheSeriesRaisesOutOfRangeWithTheIndex) {
    Cell* s = push(abcd(1));
    Cell v = none_v();
    for (i32 i : {0, 4, -2, 100}) {
        rt::Err e = catch_error([&] { series_poke(s, i, &v, nullptr); });
        EXPECT_EQ(e, Err::script_out_of_range) << i;
    }
}

TEST_F(SeriesTest, PokeIntoTextNeedsACharAndWidensOnlyAbove255) {
    Cell* s = str("abc");
    Cell t = logic_v(true);
    EXPECT_EQ(catch_error([&] { series_poke(s, 1, &t, nullptr); }), Err::script_invalid_arg);
    Cell ch;
    set_cell(&ch, T_CHAR, 0, 233);
    series_poke(s, 1, &ch, nullptr);
    EXPECT_EQ(series_buffer(s)->unit(), 1u);
    EXPECT_EQ(string_char_at(s, 0), 233u);
    set_cell(&ch, T_CHAR, 0, 0x10400);
    series_poke(s, 3, &ch, nullptr);
    EXPECT_EQ(series_buffer(s)->unit(), 4u);
    EXPECT_EQ(string_char_at(s, 0), 233u);
    EXPECT_EQ(string_char_at(s, 1), u32('b'));
    EXPECT_EQ(string_char_at(s, 2), 0x10400u);
}

TEST_F(SeriesTest, PokeIntoBinaryTakesTheLowByteOfIntegersAndChars) {
    Cell* bin = str("abc");
    set_cell_type(bin, T_BINARY);
    Cell n = int_v(0x141);
    series_poke(bin, 1, &n, nullptr);
    EXPECT_EQ(rt::at(series_buffer(bin)->offset)[0], 0x41);
    Cell t = logic_v(true);
    EXPECT_EQ(catch_error([&] { series_poke(bin, 1, &t, nullptr); }), Err::script_invalid_arg);
}

// ---- copy ------------------------------------------------------------------------------

TEST_F(SeriesTest, CopyTakesThePartRange) {
    struct Case {
        i32 head;
        Cell part;
        bool has_part;
        std::vector<u32> expected;
    };
    Cell pair;
    set_cell(&pair, T_PAIR, 0, 2, 4);
    Cell back_pair;
    set_cell(&back_pair, T_PAIR, 0, u32(-1), 1);
    const Case cases[] = {
        {0, {}, false, {T_INTEGER, T_STRING, T_BLOCK, T_NONE}},
        {1, {}, false, {T_STRING, T_BLOCK, T_NONE}},
        {1, int_v(2), true, {T_STRING, T_BLOCK}},
        {1, int_v(10), true, {T_STRING, T_BLOCK, T_NONE}},
        {3, int_v(-2), true, {T_STRING, T_BLOCK}},
        {1, int_v(-5), true, {T_INTEGER}},
        {0, pair, true, {T_STRING, T_BLOCK}},
        {2, back_pair, true, {T_STRING, T_BLOCK}},
        {4, {}, false, {}},
    };
    for (const Case& c : cases) {
        Cell* s = push(abcd(c.head));
        Cell part = c.part;
        Cell* r = none_slot();
        series_copy(s, r, c.has_part ? &part : nullptr, false, nullptr);
        ASSERT_EQ(ks_length_q(r), i32(c.expected.size())) << "head " << c.head;
        EXPECT_EQ(series_head(r), 0);
        for (size_t i = 0; i < c.expected.size(); ++i) EXPECT_EQ(ks_abs_at(r, i32(i))->data1, c.expected[i]);
    }
}

TEST_F(SeriesTest, CopyPartBySeriesNeedsTheSameBuffer) {
    Cell* s = push(abcd(1));
    Cell* end = push(*s);
    end->data1 = 3;
    Cell* r = none_slot();
    series_copy(s, r, end, false, nullptr);
    EXPECT_EQ(ks_length_q(r), 2);
    Cell* other = push(abcd(3));
    EXPECT_EQ(catch_error([&] { series_copy(s, r, other, false, nullptr); }), Err::script_invalid_refine_arg);
    Cell* para = push(*end);
    set_cell_type(para, T_PAREN);
    EXPECT_EQ(catch_error([&] { series_copy(s, r, para, false, nullptr); }), Err::script_invalid_refine_arg);
}

TEST_F(SeriesTest, CopyKeepsTypeAndNewLineFlagButNotTheOwnedMark) {
    Cell* s = push(abcd());
    s->header |= CELL_NEW_LINE;
    set_cell_type(s, T_PAREN);
    series_buffer(s)->flags |= rt::SB_OWNED;
    Cell* r = none_slot();
    series_copy(s, r, nullptr, false, nullptr);
    EXPECT_EQ(type_of(r), T_PAREN);
    EXPECT_TRUE(r->header & CELL_NEW_LINE);
    EXPECT_FALSE(series_buffer(r)->flags & rt::SB_OWNED);
    EXPECT_NE(series_node(r), series_node(s));
}

// ---- remove ----------------------------------------------------------------------------

TEST_F(SeriesTest, RemoveCountsFromTheHead) {
    struct Case {
        i32 head;
        bool has_part;
        i32 part;
        std::vector<u32> left;
    };
    const Case cases[] = {
        {0, false, 0, {T_STRING, T_BLOCK, T_NONE}},
        {1, true, 2, {T_INTEGER, T_NONE}},
        {1, true, 0, {T_INTEGER, T_STRING, T_BLOCK, T_NONE}},
        {1, true, -1, {T_INTEGER, T_STRING, T_BLOCK, T_NONE}},
        {2, true, 50, {T_INTEGER, T_STRING}},
        {4, false, 0, {T_INTEGER, T_STRING, T_BLOCK, T_NONE}},
    };
    for (const Case& c : cases) {
        Cell* s = push(abcd(c.head));
        Cell part = int_v(c.part);
        Cell* r = series_remove(s, c.has_part ? &part : nullptr, nullptr);
        EXPECT_EQ(series_head(r), c.head);
        ASSERT_EQ(ks_buffer_length(s), i32(c.left.size())) << c.head << " " << c.part;
        for (size_t i = 0; i < c.left.size(); ++i) EXPECT_EQ(ks_abs_at(s, i32(i))->data1, c.left[i]);
    }
}

TEST_F(SeriesTest, RemoveKeyTakesTheKeyAndTheValuesAfterIt) {
    Cell* s = blk({none_v(), logic_v(true), logic_v(false), none_v(), dt_v(T_BLOCK)});
    Cell key = logic_v(true);
    Cell* r = series_remove(s, nullptr, &key);
    EXPECT_EQ(series_head(r), 1);
    EXPECT_EQ(ks_buffer_length(s), 3);
    EXPECT_EQ(type_of(ks_abs_at(s, 1)), T_NONE);
    Cell two = int_v(2);
    Cell none = none_v();
    s->data1 = 0;
    series_remove(s, &two, &none);  // none plus the two values after it
    EXPECT_EQ(ks_buffer_length(s), 0);
    Cell missing = dt_v(T_FLOAT);
    EXPECT_EQ(type_of(series_remove(blk({none_v()}), nullptr, &missing)), T_NONE);
}

// ---- reverse ---------------------------------------------------------------------------

TEST_F(SeriesTest, ReverseWholePartAndRecords) {
    struct Case {
        i32 head;
        bool has_part;
        i32 part;
        i32 skip;  // 0 = no /skip
        std::vector<u32> result;
    };
    const Case cases[] = {
        {0, false, 0, 0, {T_NONE, T_BLOCK, T_STRING, T_INTEGER}},
        {1, false, 0, 0, {T_INTEGER, T_NONE, T_BLOCK, T_STRING}},
        {0, true, 2, 0, {T_STRING, T_INTEGER, T_BLOCK, T_NONE}},
        {0, false, 0, 2, {T_BLOCK, T_NONE, T_INTEGER, T_STRING}},
        {0, false, 0, 4, {T_INTEGER, T_STRING, T_BLOCK, T_NONE}},
        {2, true, 9, 0, {T_INTEGER, T_STRING, T_NONE, T_BLOCK}},  // a part past the tail stops there
        {0, true, 0, 0, {T_INTEGER, T_STRING, T_BLOCK, T_NONE}},
    };
    for (const Case& c : cases) {
        Cell* s = push(abcd(c.head));
        Cell part = int_v(c.part), skip = int_v(c.skip);
        series_reverse(s, c.has_part ? &part : nullptr, c.skip ? &skip : nullptr);
        for (size_t i = 0; i < 4; ++i) EXPECT_EQ(ks_abs_at(s, i32(i))->data1, c.result[i]) << c.head << " " << i;
    }
}

TEST_F(SeriesTest, ReverseSkipErrors) {
    Cell* s = push(abcd());
    Cell three = int_v(3), zero = int_v(0), five = int_v(5), t = logic_v(true);
    EXPECT_EQ(catch_error([&] { series_reverse(s, nullptr, &three); }), Err::script_invalid_refine_arg);
    EXPECT_EQ(catch_error([&] { series_reverse(s, nullptr, &five); }), Err::script_invalid_refine_arg);
    EXPECT_EQ(catch_error([&] { series_reverse(s, nullptr, &zero); }), Err::script_out_of_range);
    EXPECT_EQ(catch_error([&] { series_reverse(s, nullptr, &t); }), Err::script_invalid_refine_arg);
    EXPECT_EQ(ks_abs_at(s, 0)->data1, u32(T_INTEGER)) << "nothing changes before an error";
}

// ---- take ------------------------------------------------------------------------------

TEST_F(SeriesTest, TakeRemovesAndAnswersTheUnits) {
    struct Case {
        i32 head;
        bool has_part;
        i32 part;
        bool last;
        std::vector<u32> taken;
        std::vector<u32> left;
    };
    const Case cases[] = {
        {1, true, 2, false, {T_STRING, T_BLOCK}, {T_INTEGER, T_NONE}},
        {0, true, 2, true, {T_BLOCK, T_NONE}, {T_INTEGER, T_STRING}},
        {0, true, 9, false, {T_INTEGER, T_STRING, T_BLOCK, T_NONE}, {}},
        // /part 0 takes nothing.
        {1, true, 0, false, {}, {T_INTEGER, T_STRING, T_BLOCK, T_NONE}},
        // A negative count takes the units before the head, never before the buffer start.
        {2, true, -1, false, {T_STRING}, {T_INTEGER, T_BLOCK, T_NONE}},
        {1, true, -3, false, {T_INTEGER}, {T_STRING, T_BLOCK, T_NONE}},
        {0, true, -2, false, {}, {T_INTEGER, T_STRING, T_BLOCK, T_NONE}},
        {2, true, INT32_MIN, false, {T_INTEGER, T_STRING}, {T_BLOCK, T_NONE}},
        {2, true, -1, true, {}, {T_INTEGER, T_STRING, T_BLOCK, T_NONE}},
    };
    for (const Case& c : cases) {
        Cell* s = push(abcd(c.head));
        Cell part = int_v(c.part);
        Cell* r = series_take(s, c.has_part ? &part : nullptr, false, c.last);
        ASSERT_EQ(type_of(r), T_BLOCK);
        ASSERT_EQ(ks_length_q(r), i32(c.taken.size())) << c.head << " " << c.part;
        for (size_t i = 0; i < c.taken.size(); ++i) EXPECT_EQ(ks_abs_at(r, i32(i))->data1, c.taken[i]);
        ASSERT_EQ(ks_buffer_length(s), i32(c.left.size()));
        for (size_t i = 0; i < c.left.size(); ++i) EXPECT_EQ(ks_abs_at(s, i32(i))->data1, c.left[i]);
    }
}

TEST_F(SeriesTest, TakePartBySeries) {
    Cell* s = push(abcd(1));
    Cell* end = push(*s);
    end->data1 = 3;
    Cell* r = series_take(s, end, false, false);
    EXPECT_EQ(ks_length_q(r), 2);
    Cell* s2 = push(abcd(1));
    Cell* mid = push(*s2);
    mid->data1 = 2;
    r = series_take(s2, mid, false, true);  // /last: from that position to the tail
    ASSERT_EQ(ks_length_q(r), 2);
    EXPECT_EQ(ks_abs_at(r, 0)->data1, u32(T_BLOCK));
}

TEST_F(SeriesTest, TakeOnAnEmptySeriesAnswersNone) {
    Cell* s = push(abcd(4));
    EXPECT_EQ(type_of(series_take(s, nullptr, false, false)), T_NONE);
    EXPECT_EQ(type_of(block_take(s, nullptr, false, false)), T_NONE);
}

TEST_F(SeriesTest, TakeOfTextWithoutPartGivesOneUnit) {
    Cell* s = str("xyz");
    Cell* r = series_take(s, nullptr, false, true);
    EXPECT_EQ(type_of(r), T_STRING);
    EXPECT_EQ(string_length(r), 1u);
    EXPECT_EQ(string_char_at(r, 0), u32('z'));
    EXPECT_EQ(text_of(s), "xy");
}

// ---- move ------------------------------------------------------------------------------

TEST_F(SeriesTest, MoveWithinOneSeries) {
    struct Case {
        i32 origin;
        i32 target;
        i32 part;
        std::vector<u32> result;
    };
    const Case cases[] = {
        {0, 2, 1, {T_STRING, T_BLOCK, T_INTEGER, T_NONE}},
        {0, 4, 1, {T_STRING, T_BLOCK, T_NONE, T_INTEGER}},
        {0, 9, 2, {T_BLOCK, T_NONE, T_INTEGER, T_STRING}},
        {3, 0, 1, {T_NONE, T_INTEGER, T_STRING, T_BLOCK}},
        {2, 1, 2, {T_INTEGER, T_BLOCK, T_NONE, T_STRING}},
        {0, 1, 3, {T_INTEGER, T_STRING, T_BLOCK, T_NONE}},  // target inside the moved run
        {1, 1, 1, {T_INTEGER, T_STRING, T_BLOCK, T_NONE}},
        {0, 3, 2, {T_INTEGER, T_STRING, T_BLOCK, T_NONE}},  // too few units after the target
    };
    for (const Case& c : cases) {
        Cell* o = push(abcd(c.origin));
        Cell* t = push(*o);
        t->data1 = u32(c.target);
        Cell part = int_v(c.part);
        series_move(o, t, &part);
        for (size_t i = 0; i < 4; ++i)
            EXPECT_EQ(ks_abs_at(o, i32(i))->data1, c.result[i]) << c.origin << "->" << c.target << " @" << i;
    }
}

TEST_F(SeriesTest, MoveBetweenSeries) {
    Cell* o = push(abcd(1));
    Cell* t = blk({none_v(), none_v()});
    t->data1 = 1;
    Cell two = int_v(2);
    Cell* r = series_move(o, t, &two);
    EXPECT_EQ(r, t);
    EXPECT_EQ(ks_buffer_length(o), 2);
    ASSERT_EQ(ks_buffer_length(t), 4);
    EXPECT_EQ(ks_abs_at(t, 1)->data1, u32(T_STRING));
    EXPECT_EQ(ks_abs_at(t, 2)->data1, u32(T_BLOCK));
}

TEST_F(SeriesTest, MoveTextAcrossUnitWidths) {
    Cell* o = str("ab");
    Cell ch;
    set_cell(&ch, T_CHAR, 0, 0x3A9);
    series_poke(o, 1, &ch, nullptr);  // 2-byte units now
    Cell* t = str("xy");
    t->data1 = 1;
    Cell two = int_v(2);
    series_move(o, t, &two);
    t->data1 = 0;
    EXPECT_EQ(string_length(t), 4u);
    EXPECT_EQ(string_char_at(t, 1), 0x3A9u);
    EXPECT_EQ(string_char_at(t, 2), u32('b'));
    EXPECT_EQ(string_length(o), 0u);
}

TEST_F(SeriesTest, MoveErrors) {
    Cell* o = push(abcd());
    Cell* s = str("ab");
    EXPECT_EQ(catch_error([&] { series_move(o, s, nullptr); }), Err::script_move_bad);
    EXPECT_EQ(catch_error([&] { series_move(s, o, nullptr); }), Err::script_move_bad);
    Cell n = none_v();
    EXPECT_EQ(catch_error([&] { series_move(o, &n, nullptr); }), Err::script_expect_arg);
    EXPECT_EQ(ks_buffer_length(o), 4);
}

// ---- clear and random ------------------------------------------------------------------

TEST_F(SeriesTest, ClearCutsAtTheHead) {
    Cell* s = push(abcd(1));
    ev::dispatch<A_CLEAR>(s);
    EXPECT_EQ(ks_buffer_length(s), 1);
    Cell* tail = push(abcd(4));
    ev::dispatch<A_CLEAR>(tail);
    EXPECT_EQ(ks_buffer_length(tail), 4);
}

TEST_F(SeriesTest, RandomShufflesInPlaceAndOnlyPicks) {
    dt::random_seed(42);
    Cell* s = push(abcd(1));
    ev::dispatch<A_RANDOM>(s, false, false, false);
    EXPECT_EQ(ks_abs_at(s, 0)->data1, u32(T_INTEGER)) << "cells before the head stay";
    std::vector<u32> rest;
    for (i32 i = 1; i < 4; ++i) rest.push_back(ks_abs_at(s, i)->data1);
    std::sort(rest.begin(), rest.end());
    EXPECT_EQ(rest, (std::vector<u32>{T_NONE, T_BLOCK, T_STRING}));
    Cell* picked = ev::dispatch<A_RANDOM>(s, false, false, true);
    EXPECT_EQ(type_of(picked), T_DATATYPE);
    Cell* empty = push(abcd(4));
    EXPECT_EQ(type_of(ev::dispatch<A_RANDOM>(empty, false, false, true)), T_NONE);
}

}  // namespace
}  // namespace kel::dt
