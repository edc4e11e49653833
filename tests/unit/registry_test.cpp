// The datatype registry, and the four root datatypes registered first: datatype!, unset!,
// none! and logic!.
#include <cmath>
#include <cstring>
#include <string>

#include "datatypes/datatype_init.h"
#include "datatypes/random.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/unit.h"
#include "evaluator/actions.h"
#include "runtime/console_out.h"
#include "support.h"

namespace kel::dt {
namespace {

using test::catch_error;
using rt::stack_push;
using rt::stack_set_last;

// Two rows that no datatype uses, restored after each test.
constexpr u32 T_TEST_PARENT = 55;
constexpr u32 T_TEST_CHILD = 56;

i32 form_a(Cell*, Cell*, Cell*, i32) { return 1; }
i32 form_b(Cell*, Cell*, Cell*, i32) { return 2; }
i32 mold_a(Cell*, Cell*, bool, bool, bool, Cell*, i32, i32) { return 3; }

class RegistryTest : public test::RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        saved_highest_ = g_highest_type;
        for (u32 t : {T_TEST_PARENT, T_TEST_CHILD}) {
            saved_names_[t - T_TEST_PARENT] = g_type_names[t];
            for (int a = 0; a < ACTION_COUNT; ++a) saved_rows_[t - T_TEST_PARENT][a] = action_entry(t, a + 1);
        }
    }
    void TearDown() override {
        g_highest_type = saved_highest_;
        for (u32 t : {T_TEST_PARENT, T_TEST_CHILD}) {
            g_type_names[t] = saved_names_[t - T_TEST_PARENT];
            for (int a = 0; a < ACTION_COUNT; ++a) g_action_table[t * ACTION_ROW_SIZE + a] = saved_rows_[t - T_TEST_PARENT][a];
        }
    }

private:
    u32 saved_highest_;
    TypeName saved_names_[2];
    AnyFn saved_rows_[2][ACTION_COUNT];
};

TEST_F(RegistryTest, InheritanceIsResolvedAtRegistration) {
    TypeRegistration parent(T_TEST_PARENT, 0, "parent!");
    parent.set<A_FORM>(form_a).set<A_MOLD>(mold_a);
    register_datatype(parent);
    TypeRegistration child(T_TEST_CHILD, T_TEST_PARENT, "child!");
    child.inherit_all().none(A_MOLD);
    register_datatype(child);
    EXPECT_EQ(handler<A_FORM>(T_TEST_CHILD), form_a);
    EXPECT_EQ(handler<A_MOLD>(T_TEST_CHILD), nullptr);  // an explicit null overrides
    EXPECT_EQ(handler<A_COMPARE>(T_TEST_CHILD), nullptr);

    // Changing the parent later leaves the child as it was.
    TypeRegistration again(T_TEST_PARENT, 0, "parent!");
    again.set<A_FORM>(form_b);
    register_datatype(again);
    EXPECT_EQ(handler<A_FORM>(T_TEST_PARENT), form_b);
    EXPECT_EQ(handler<A_FORM>(T_TEST_CHILD), form_a);
}

TEST_F(RegistryTest, RootsHaveNothingToInherit) {
    TypeRegistration root(T_TEST_CHILD, 0, "root!");
    root.inherit_all();
    register_datatype(root);
    for (int a = 1; a <= ACTION_COUNT; ++a) EXPECT_EQ(action_entry(T_TEST_CHILD, a), nullptr) << a;
}

TEST_F(RegistryTest, NamesAndTheHighestId) {
    register_datatype(TypeRegistration(T_TEST_CHILD, 0, "child!"));
    EXPECT_EQ(g_highest_type, T_TEST_CHILD);
    register_datatype(TypeRegistration(T_TEST_PARENT, 0, "parent!"));
    EXPECT_EQ(g_highest_type, T_TEST_CHILD);  // a lower id keeps it
    EXPECT_STREQ(g_type_names[T_TEST_PARENT].name, "parent!");
    EXPECT_EQ(g_type_names[T_TEST_PARENT].form_length, 6);
    EXPECT_EQ(g_type_names[T_DATATYPE].form_length, 8);
}

TEST(RegistryDeathTest, WrongActionCountIsABuildFault) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto bad = [] {
        rt::set_console_output_fd(2);
        register_datatype(64, TypeRegistration(T_TEST_PARENT, 0, "short!"));
    };
    EXPECT_EXIT(bad(), ::testing::ExitedWithCode(1),
                "^\\*\\*\\* Datatype Error: invalid actions count for type: 55\n"
                "\\*\\*\\* Found: 61\n"
                "\\*\\*\\* Expected: 62\n$");
}

TEST(RegistryOrderTest, ParentsComeFirstAndEveryTypeHasItsName) {
    console::runtime_init();
    // event! is registered last, after the others.
    EXPECT_EQ(g_highest_type, u32(T_EVENT));
    for (u32 t = 1; t <= u32(T_EVENT); ++t) {
        ASSERT_NE(g_type_names[t].name, nullptr) << t;
        EXPECT_EQ(g_type_names[t].name[g_type_names[t].form_length], '!') << t;
    }
    EXPECT_EQ(datatype_parent(T_FILE), u32(T_URL));
    EXPECT_EQ(datatype_parent(T_ROUTINE), u32(T_FUNCTION));
    EXPECT_EQ(datatype_parent(T_EVENT), 0u);
    EXPECT_STREQ(datatype_name(T_POINT2D), "point2D!");
}

// ---- the root datatypes ---------------------------------------------------------------

class UnitTypesTest : public test::RuntimeTest {
protected:
    // The text that form (or mold) appends, and the budget it answers from 100.
    static std::string text(Cell* v, bool mold, bool all, i32* left = nullptr) {
        Cell* out = push_string(8);
        i32 l = mold ? ev::dispatch<A_MOLD>(v, out, false, all, false, nullptr, 100, 0)
                     : ev::dispatch<A_FORM>(v, out, nullptr, 100);
        if (left) *left = l;
        std::string s;
        for (u32 i = 0; i < string_length(out); ++i) s += char(string_char_at(out, i));
        return s;
    }
    static Cell value(u32 type, u32 d1 = 0) {
        Cell c;
        set_cell(&c, type, d1);
        return c;
    }
};

TEST_F(UnitTypesTest, FormAndMoldTexts) {
    struct Case {
        Cell v;
        bool mold, all;
        const char* text;
    };
    for (Case c : {Case{value(T_LOGIC, 1), true, true, "#(true)"}, Case{value(T_LOGIC, 0), true, true, "#(false)"},
                   Case{value(T_LOGIC, 1), true, false, "true"}, Case{value(T_LOGIC, 2), false, false, "false"},
                   Case{value(T_NONE), false, false, "none"}, Case{value(T_NONE), true, false, "none"},
                   Case{value(T_NONE), true, true, "#(none)"}, Case{value(T_UNSET), false, false, ""},
                   Case{value(T_UNSET), true, false, "unset"}, Case{value(T_UNSET), true, true, "#(unset)"},
                   Case{value(T_DATATYPE, T_NONE), true, false, "none!"},
                   Case{value(T_DATATYPE, T_NONE), true, true, "#(none!)"},
                   Case{value(T_DATATYPE, T_NONE), false, false, "none"},
                   Case{value(T_DATATYPE, T_INTEGER), false, false, "integer"}}) {
        i32 left;
        EXPECT_EQ(text(&c.v, c.mold, c.all, &left), c.text);
        EXPECT_EQ(left, 100 - i32(std::strlen(c.text))) << c.text;
    }
}

TEST_F(UnitTypesTest, Comparisons) {
    Cell none = value(T_NONE), unset = value(T_UNSET), t = value(T_LOGIC, 1), f = value(T_LOGIC, 0);
    Cell int_type = value(T_DATATYPE, T_INTEGER), int_type2 = value(T_DATATYPE, T_INTEGER);
    Cell block_type = value(T_DATATYPE, T_BLOCK);
    auto cmp = [](Cell* a, Cell* b, i32 op) { return handler<A_COMPARE>(type_of(a))(a, b, op); };
    EXPECT_EQ(cmp(&none, &none, ev::OP_EQUAL), 0);
    EXPECT_EQ(cmp(&none, &unset, ev::OP_EQUAL), -2);
    EXPECT_EQ(cmp(&none, &none, ev::OP_LESSER), -2);
    EXPECT_EQ(cmp(&unset, &unset, ev::OP_SORT), 0);
    EXPECT_EQ(cmp(&unset, &unset, ev::OP_GREATER), -2);
    EXPECT_EQ(cmp(&f, &t, ev::OP_SORT), -1);  // false sorts first
    EXPECT_EQ(cmp(&t, &t, ev::OP_STRICT_EQUAL), 0);
    EXPECT_EQ(cmp(&t, &none, ev::OP_EQUAL), -2);
    EXPECT_EQ(cmp(&int_type, &int_type2, ev::OP_SAME), 0);
    EXPECT_EQ(cmp(&int_type, &block_type, ev::OP_EQUAL), 1);
    EXPECT_EQ(cmp(&int_type, &none, ev::OP_NOT_EQUAL), 1);
    EXPECT_EQ(cmp(&int_type, &int_type2, ev::OP_LESSER), -2);
}

TEST_F(UnitTypesTest, LogicMakeAndTo) {
    auto make = [](Cell spec) { return get_logic(ev::dispatch<A_MAKE>(&g_true_cell, &spec, u32(T_LOGIC))); };
    auto to = [](Cell spec) { return get_logic(handler<A_TO>(T_LOGIC)(&g_true_cell, &spec, T_LOGIC)); };
    Cell zero, two, fzero, fnan, none = value(T_NONE), block = value(T_BLOCK);
    set_cell(&zero, T_INTEGER, 0, 0, 0);
    set_cell(&two, T_INTEGER, 0, 2, 0);
    set_cell(&fzero, T_FLOAT);
    set_float_payload(&fzero, -0.0);
    set_cell(&fnan, T_PERCENT);
    set_float_payload(&fnan, std::nan(""));
    EXPECT_EQ(make(zero), 0u);
    EXPECT_EQ(make(two), 1u);
    EXPECT_EQ(make(fzero), 0u);
    EXPECT_EQ(make(fnan), 1u);
    EXPECT_EQ(make(none), 0u);
    EXPECT_EQ(to(zero), 1u);  // any value but none is true
    EXPECT_EQ(to(none), 0u);
    EXPECT_EQ(to(block), 1u);
}

TEST_F(UnitTypesTest, LogicBitwiseAndComplement) {
    Cell* a = stack_push(&g_true_cell);
    stack_push(&g_false_cell);
    handler<A_XOR_T>(T_LOGIC)();
    EXPECT_EQ(get_logic(a), 1u);
    handler<A_AND_T>(T_LOGIC)();
    EXPECT_EQ(get_logic(a), 0u);
    handler<A_OR_T>(T_LOGIC)();
    EXPECT_EQ(get_logic(a), 0u);
    handler<A_COMPLEMENT>(T_LOGIC)(a);
    EXPECT_EQ(get_logic(a), 1u);
    // The try frame of catch_error has a window of its own: the operands go there.
    EXPECT_EQ(catch_error([] {
                  rt::g_args.base = rt::stack_push(&g_true_cell);
                  Cell one;
                  set_cell(&one, T_INTEGER, 0, 1, 0);
                  rt::stack_push(&one);
                  handler<A_AND_T>(T_LOGIC)();
              }),
              rt::Err::script_expect_arg);
}

TEST_F(UnitTypesTest, LogicRandomSeedsTheGenerator) {
    Cell t = g_true_cell;
    Cell* r = handler<A_RANDOM>(T_LOGIC)(&t, true, false, false);
    EXPECT_EQ(type_of(r), T_UNSET);
    i32 after_seed = dt::random_next();
    dt::random_seed(1);
    EXPECT_EQ(dt::random_next(), after_seed);
    // Draws above 0x3FFFFFFF are true: over many draws both answers come.
    int trues = 0;
    for (int i = 0; i < 200; ++i) {
        Cell v = g_true_cell;
        trues += get_logic(handler<A_RANDOM>(T_LOGIC)(&v, false, false, false));
    }
    EXPECT_GT(trues, 50);
    EXPECT_LT(trues, 150);
}

TEST_F(UnitTypesTest, NoneAnswersNoneToSeriesActions) {
    Cell none = value(T_NONE);
    EXPECT_EQ(type_of(handler<A_CLEAR>(T_NONE)(&none)), T_NONE);
    EXPECT_EQ(type_of(handler<A_FIND>(T_NONE)(&none, &none, nullptr, false, false, false, false, nullptr, nullptr,
                                            false, false, false, false)),
              T_NONE);
    EXPECT_EQ(type_of(handler<A_SELECT>(T_NONE)(&none, &none, nullptr, false, false, false, false, nullptr, nullptr,
                                              false, false)),
              T_NONE);
    EXPECT_EQ(type_of(handler<A_REMOVE>(T_NONE)(&none, nullptr, nullptr)), T_NONE);
    EXPECT_EQ(type_of(handler<A_TAKE>(T_NONE)(&none, nullptr, false, false)), T_NONE);
    EXPECT_EQ(handler<A_LENGTH_Q>(T_NONE)(&none), -1);
    EXPECT_EQ(handler<A_APPEND>(T_NONE), nullptr);
    // Constructors of the unit types.
    EXPECT_EQ(type_of(handler<A_MAKE>(T_NONE)(&none, &none, T_NONE)), T_NONE);
    EXPECT_EQ(type_of(handler<A_TO>(T_UNSET)(&none, &none, T_UNSET)), T_UNSET);
    EXPECT_EQ(handler<A_MAKE>(T_DATATYPE), nullptr);
}

TEST_F(UnitTypesTest, TruthTests) {
    Cell none = value(T_NONE), unset = value(T_UNSET), odd_logic = value(T_LOGIC, 2), zero;
    set_cell(&zero, T_INTEGER, 0, 0, 0);
    EXPECT_FALSE(value_true(&none, true, &none));
    EXPECT_FALSE(value_true(&odd_logic, false, nullptr));  // only 1 is true
    EXPECT_TRUE(value_true(&zero, true, &none));
    EXPECT_TRUE(value_true(&unset, false, nullptr));
    EXPECT_EQ(catch_error([&] { value_true(&unset, true, &zero); }), rt::Err::script_no_value);

    stack_push(&unset);  // the result slot
    EXPECT_FALSE(result_false());  // unset counts as true here
    // Inside the try frame the result slot is the first one pushed there.
    EXPECT_EQ(catch_error([&] {
                  stack_push(&unset);
                  check_result_true();
              }),
              rt::Err::script_no_return);
    stack_push(&none);
    EXPECT_TRUE(top_false());  // the last pushed value
    EXPECT_FALSE(logic_not_result());
    stack_set_last(&none);
    EXPECT_TRUE(result_false());
    EXPECT_FALSE(check_result_true());
}

}  // namespace
}  // namespace kel::dt
