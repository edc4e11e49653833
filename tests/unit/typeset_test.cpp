// typeset!: membership bits, construction from blocks and function specs, the bitwise and
// set operations, text, comparison and find.
#include <map>
#include <vector>

#include "datatypes/typeset.h"
#include "evaluator/actions.h"
#include "number_helpers.h"

namespace kel {
namespace {

using namespace test;
using rt::Err;

// Words for the tests: symbol ids mapped to values by a stand-in for the context module.
std::map<u32, Cell> g_words;
const Cell* lookup(const Cell* word) {
    auto it = g_words.find(word->data2);
    return it == g_words.end() ? nullptr : &it->second;
}
Cell word(u32 symbol) {
    Cell w;
    set_cell(&w, T_WORD, 0, symbol, u32(-1));
    return w;
}

Cell typeset_of(std::initializer_list<u32> types) {
    Cell ts;
    set_cell(&ts, T_TYPESET);
    for (u32 t : types) dt::typeset_set(&ts, t);
    return ts;
}

class Typeset : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        g_words.clear();
        dt::g_word_value_hook = lookup;
    }
    void TearDown() override { dt::g_word_value_hook = nullptr; }
};

TEST_F(Typeset, BitLayout) {
    // Type id n is bit 0x80 >> (n mod 8) of byte n / 8: most significant bit first.
    Cell ts = typeset_of({T_DATATYPE, T_INTEGER, T_FLOAT, T_IMAGE});
    const u8* bytes = reinterpret_cast<const u8*>(&ts.data1);
    EXPECT_EQ(bytes[0], 0x40);              // id 1
    EXPECT_EQ(bytes[1], 0x10 | 0x08);       // ids 11 and 12
    EXPECT_EQ(bytes[6], 0x80 >> (53 % 8));  // id 53
    EXPECT_TRUE(rt::typeset_has(&ts, T_INTEGER));
    EXPECT_FALSE(rt::typeset_has(&ts, T_CHAR));
    EXPECT_EQ(dt::typeset_count(&ts), 4);
    dt::typeset_clear(&ts);
    EXPECT_EQ(dt::typeset_count(&ts), 0);
}

TEST_F(Typeset, MakeFromBlock) {
    Cell r = make_value(A_MAKE, T_TYPESET, block_cell({datatype_cell(T_INTEGER), datatype_cell(T_FLOAT)}));
    EXPECT_EQ(type_of(&r), T_TYPESET);
    EXPECT_EQ(dt::typeset_count(&r), 2);
    // Words stand for their values; a typeset value is merged.
    g_words[1] = datatype_cell(T_STRING);
    g_words[2] = typeset_of({T_BLOCK, T_PAREN});
    r = make_value(A_TO, T_TYPESET, block_cell({word(1), word(2), datatype_cell(T_CHAR)}));
    EXPECT_EQ(dt::typeset_count(&r), 4);
    EXPECT_TRUE(rt::typeset_has(&r, T_PAREN));
    // A typeset spec is answered as it is; an empty block gives the empty typeset.
    Cell ts = typeset_of({T_NONE});
    r = make_value(A_MAKE, T_TYPESET, ts);
    EXPECT_EQ(r.data1, ts.data1);
    r = make_value(A_MAKE, T_TYPESET, block_cell({}));
    EXPECT_EQ(dt::typeset_count(&r), 0);
    // Only the values from the block's index count.
    Cell b = block_cell({datatype_cell(T_INTEGER), datatype_cell(T_FLOAT)});
    b.data1 = 1;
    r = make_value(A_MAKE, T_TYPESET, b);
    EXPECT_FALSE(rt::typeset_has(&r, T_INTEGER));
    EXPECT_TRUE(rt::typeset_has(&r, T_FLOAT));
}

TEST_F(Typeset, MakeErrors) {
    g_words[3] = int_cell(5);
    struct Case {
        Cell spec;
        Err error;
    };
    const Case cases[] = {
        {block_cell({word(3)}), Err::script_invalid_arg},  // a word whose value is 5
        {block_cell({int_cell(5)}), Err::script_invalid_arg},
        {block_cell({word(4)}), Err::script_no_value},     // a word without value
        {int_cell(5), Err::script_bad_to_arg},
        {none_cell(), Err::script_bad_to_arg},
        {datatype_cell(T_INTEGER), Err::script_bad_to_arg},
    };
    for (const Case& c : cases) EXPECT_EQ(make_error(A_MAKE, T_TYPESET, c.spec), c.error);
    g_words[5] = Cell{};
    set_cell(&g_words[5], T_UNSET);
    EXPECT_EQ(make_error(A_MAKE, T_TYPESET, block_cell({word(5)})), Err::script_no_value);
}

TEST_F(Typeset, FromFunctionSpec) {
    g_words[1] = datatype_cell(T_INTEGER);
    g_words[2] = word(9);  // a word whose value is a word adds object!
    g_words[3] = typeset_of({T_STRING, T_FILE});
    Cell target = block_cell({});
    Node node = target.data2;
    Cell spec = block_cell({word(1), word(2), word(3), block_cell({int_cell(1)}), datatype_cell(T_NONE)});
    Cell* ts = dt::make_typeset_in_from_spec(node, &spec);
    EXPECT_EQ(type_of(ts), T_TYPESET);
    Cell expect = typeset_of({T_INTEGER, T_OBJECT, T_STRING, T_FILE, T_NONE});
    EXPECT_EQ(ts->data1, expect.data1);
    EXPECT_EQ(ts->data2, expect.data2);
    EXPECT_EQ(ts->data3, expect.data3);
    EXPECT_EQ(rt::series_length(node), 1u);

    Cell bad = block_cell({int_cell(1)});
    EXPECT_EQ(catch_error([&] { dt::make_typeset_in_from_spec(node, &bad); }), Err::script_invalid_type_spec);
    Cell unset_word = block_cell({word(77)});
    EXPECT_EQ(catch_error([&] { dt::make_typeset_in_from_spec(node, &unset_word); }), Err::script_no_value);
}

TEST_F(Typeset, AnyTypeset) {
    Node node = rt::alloc_cells(2);
    Cell* any = dt::make_any_typeset_in(node);
    EXPECT_FALSE(rt::typeset_has(any, T_UNSET));
    EXPECT_TRUE(rt::typeset_has(any, T_NONE));
    EXPECT_TRUE(rt::typeset_has(any, T_EVENT));
    EXPECT_EQ(dt::typeset_count(any), i32(dt::g_highest_type) - 1);
    Cell* raw = dt::make_typeset_in(node, 1, 2, 3);
    EXPECT_EQ(raw->data1, 1u);
    EXPECT_EQ(raw->data3, 3u);
}

TEST_F(Typeset, BitwiseAndSetOperations) {
    Cell a = typeset_of({T_INTEGER, T_FLOAT});
    Cell b = typeset_of({T_FLOAT, T_STRING});
    auto members = [](const Cell& c) {
        std::vector<u32> r;
        for (u32 t = 1; t <= dt::g_highest_type; ++t)
            if (rt::typeset_has(&c, t)) r.push_back(t);
        return r;
    };
    using V = std::vector<u32>;
    EXPECT_EQ(members(run_stack_action(A_OR_T, a, b)), (V{T_STRING, T_INTEGER, T_FLOAT}));
    EXPECT_EQ(members(run_stack_action(A_AND_T, a, b)), (V{T_FLOAT}));
    EXPECT_EQ(members(run_stack_action(A_XOR_T, a, b)), (V{T_STRING, T_INTEGER}));
    // A datatype operand counts as a one-member typeset.
    EXPECT_EQ(members(run_stack_action(A_OR_T, a, datatype_cell(T_CHAR))), (V{T_CHAR, T_INTEGER, T_FLOAT}));
    EXPECT_EQ(stack_action_error(A_OR_T, a, int_cell(1)), Err::script_invalid_arg);

    // The set operation codes of the set natives.
    struct Case {
        i32 code;
        V want;
    };
    for (Case c : {Case{8, V{T_INTEGER, T_FLOAT}}, Case{9, V{T_STRING, T_INTEGER, T_FLOAT}}, Case{10, V{T_FLOAT}},
                   Case{11, V{T_INTEGER}}, Case{12, V{T_STRING, T_INTEGER}}}) {
        rt::g_args.top = rt::g_args.base;
        *rt::stack_push_slot() = a;
        *rt::stack_push_slot() = b;
        dt::typeset_do_bitwise(c.code);
        EXPECT_EQ(members(*rt::g_args.base), c.want) << "code " << c.code;
    }
}

TEST_F(Typeset, Complement) {
    Cell empty = typeset_of({});
    dt::handler<A_COMPLEMENT>(T_TYPESET)(&empty);
    EXPECT_TRUE(rt::typeset_has(&empty, T_UNSET));
    EXPECT_EQ(dt::typeset_count(&empty), i32(dt::g_highest_type));
    EXPECT_EQ(empty.data1 & empty.data2 & empty.data3, ~0u);
}

TEST_F(Typeset, FormAndMold) {
    Cell ts = typeset_of({T_FLOAT, T_INTEGER});
    EXPECT_EQ(form_text(ts), "make typeset! [integer! float!]");
    EXPECT_EQ(mold_text(ts), U"make typeset! [integer! float!]");
    EXPECT_EQ(mold_text(ts, true), U"integer! float!");
    EXPECT_EQ(mold_text(typeset_of({})), U"make typeset! []");
    i32 left = 0;
    mold_text(ts, false, false, &left, nullptr, 100);
    EXPECT_EQ(left, 100 - 31);
    mold_text(typeset_of({}), false, false, &left, nullptr, 100);
    EXPECT_EQ(left, 100 - 16);
    mold_text(ts, true, false, &left, nullptr, 100);
    EXPECT_EQ(left, 100 - 15);
}

TEST_F(Typeset, MoldOnlyOfAnEmptyTypesetKeepsTheCallersText) {
    Cell* out = dt::push_string(16);
    dt::append_c_string(out, "[a ");
    Cell ts = typeset_of({});
    dt::handler<A_MOLD>(T_TYPESET)(&ts, out, true, false, false, nullptr, 100, 0);
    EXPECT_EQ(ascii_of(out), "[a ");
}

TEST_F(Typeset, PartStopsWritingOnceTheBudgetIsSpent) {
    Cell ts = typeset_of({T_INTEGER, T_FLOAT, T_STRING});
    Cell part = int_cell(10);
    i32 left = 0;
    // "make typeset! [" spends 15 of 20; "string! " leaves -3: writing stops there.
    std::u32string text = mold_text(ts, false, false, &left, &part, 20);
    EXPECT_EQ(text, U"make typeset! [string! ");
    EXPECT_EQ(left, -3);
}

TEST_F(Typeset, CompareAndFind) {
    Cell a = typeset_of({T_INTEGER, T_FLOAT});
    Cell b = typeset_of({T_FLOAT, T_INTEGER});
    Cell c = typeset_of({T_STRING});
    for (i32 op : {0, 2, 9, 12}) EXPECT_EQ(compare_op(a, b, op), 0) << op;
    EXPECT_EQ(compare_op(a, c, 0), 1);
    EXPECT_EQ(compare_op(a, c, 1), 1);
    EXPECT_EQ(compare_op(a, c, 3), -2);  // no ordering
    EXPECT_EQ(compare_op(a, c, 7), 1);   // sorting by member count
    EXPECT_EQ(compare_op(c, a, 8), -1);
    EXPECT_EQ(compare_op(a, int_cell(1), 0), -2);
    // Through the comparison action: equality answers, ordering raises.
    EXPECT_TRUE(ev::compare(&a, &b, ev::OP_SAME));
    EXPECT_FALSE(ev::compare(&a, &c, ev::OP_EQUAL));
    EXPECT_EQ(catch_error([&] { ev::compare(&a, &c, ev::OP_LESSER); }), Err::script_invalid_compare);

    auto find = dt::handler<A_FIND>(T_TYPESET);
    Cell integer = datatype_cell(T_INTEGER), text = datatype_cell(T_STRING), five = int_cell(5);
    auto call = [&](Cell* v) {
        return find(&a, v, nullptr, false, false, false, false, nullptr, nullptr, false, false, false, false);
    };
    EXPECT_EQ(type_of(call(&integer)), T_LOGIC);
    EXPECT_EQ(call(&integer)->data1, 1u);
    EXPECT_EQ(call(&text)->data1, 0u);
    EXPECT_EQ(catch_error([&] { call(&five); }), Err::script_invalid_arg);
}

TEST_F(Typeset, ToBlock) {
    Cell ts = typeset_of({T_FLOAT, T_NONE, T_INTEGER});
    Cell* out = rt::stack_push_slot();
    dt::typeset_to_block(&ts, out);
    EXPECT_EQ(type_of(out), T_BLOCK);
    Node n = out->data2;
    ASSERT_EQ(rt::series_length(n), 3u);
    Cell* cells = rt::cells_of(rt::buffer_of(n));
    EXPECT_EQ(cells[0].data1, u32(T_NONE));
    EXPECT_EQ(cells[1].data1, u32(T_INTEGER));
    EXPECT_EQ(cells[2].data1, u32(T_FLOAT));
    EXPECT_EQ(type_of(&cells[2]), T_DATATYPE);
    EXPECT_EQ(dt::push_typeset(&ts)->data1, ts.data1);
}

}  // namespace
}  // namespace kel
