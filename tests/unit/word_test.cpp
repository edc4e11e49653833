// Word datatypes: molds, conversions, comparison and the per-kind operations.
#include "datatypes/context.h"
#include "datatypes/word.h"
#include "unit/word_support.h"

namespace kel::test {
namespace {

using namespace dt;

class WordTest : public RuntimeTest {};

Cell to_(u32 type, Cell spec) {
    Cell proto;
    set_cell(&proto, T_DATATYPE, type);
    Cell* s = rt::stack_push(&spec);
    Cell r = *handler<A_TO>(type)(&proto, s, type);
    return r;
}

TEST_F(WordTest, MoldsAndFormsOfEachKind) {
    struct Case {
        u32 type;
        const char* mold;
    };
    for (Case c : {Case{T_WORD, "Name"}, Case{T_LIT_WORD, "'Name"}, Case{T_GET_WORD, ":Name"},
                   Case{T_SET_WORD, "Name:"}, Case{T_REFINEMENT, "/Name"}, Case{T_ISSUE, "#Name"}}) {
        Cell w = word_v("Name", c.type);
        EXPECT_EQ(mold(&w), c.mold);
        EXPECT_EQ(form(&w), "Name") << c.mold;  // form is the spelling alone
        // The budget answered counts the prefix or suffix.
        Cell* out = push_string(8);
        i32 left = ev::mold_dispatch(&w, out, false, false, false, nullptr, 100, 0);
        EXPECT_EQ(left, 100 - i32(std::string(c.mold).size())) << c.mold;
    }
    Cell u = word_v("naïve");
    Cell* out = push_string(8);
    ev::form_dispatch(&u, out, nullptr, 100);
    EXPECT_EQ(utf8_of(out), "naïve");
}

TEST_F(WordTest, ConversionsToWords) {
    Cell w = to_(T_WORD, str_v("abc"));
    EXPECT_EQ(type_of(&w), T_WORD);
    EXPECT_EQ(mold(&w), "abc");
    EXPECT_EQ(word_context(&w), g_global_context);
    Cell from_set = to_(T_WORD, str_v("abc:"));
    EXPECT_EQ(type_of(&from_set), T_WORD);
    EXPECT_EQ(word_symbol(&from_set), sym("abc"));
    for (const char* bad : {"a b", "123", "", "+1", "[a]"})
        EXPECT_EQ(catch_error([&] { to_(T_WORD, str_v(bad)); }), rt::Err::script_invalid_chars) << bad;

    Cell issue;
    set_cell(&issue, T_ISSUE, g_global_context, sym("abc"), u32(-1));
    Cell from_issue = to_(T_WORD, issue);
    EXPECT_EQ(type_of(&from_issue), T_WORD);
    EXPECT_GE(word_index(&from_issue), 0);  // bound to the global context
    Cell number_issue;
    set_cell(&number_issue, T_ISSUE, g_global_context, sym("1"), u32(-1));
    EXPECT_EQ(catch_error([&] { to_(T_WORD, number_issue); }), rt::Err::script_bad_to_arg);

    Cell t = to_(T_WORD, logic_v(true));
    EXPECT_EQ(mold(&t), "true");
    Cell dt = to_(T_WORD, dt_v(T_INTEGER));
    EXPECT_EQ(mold(&dt), "integer!");
    Cell ch;
    set_cell(&ch, T_CHAR, 0, 'x', 0);
    Cell from_char = to_(T_SET_WORD, ch);
    EXPECT_EQ(mold(&from_char), "x:");
    Cell lit = to_(T_GET_WORD, lit_v("q"));
    EXPECT_EQ(mold(&lit), ":q");
    EXPECT_EQ(catch_error([&] { to_(T_WORD, int_v(1)); }), rt::Err::script_bad_to_arg);
}

TEST_F(WordTest, ConversionsToIssues) {
    Cell spaced = to_(T_ISSUE, str_v("a b"));
    EXPECT_EQ(type_of(&spaced), T_ISSUE);
    EXPECT_EQ(mold(&spaced), "#a b");
    EXPECT_EQ(word_index(&spaced), -1);
    Cell from_word = to_(T_ISSUE, word_v("abc"));
    EXPECT_EQ(mold(&from_word), "#abc");
    Cell* s = blk({str_v("xyz")});
    Cell at1 = *ks_abs_at(s, 0);
    at1.data1 = 1;  // "yz"
    Cell from_index = to_(T_ISSUE, at1);
    EXPECT_EQ(mold(&from_index), "#yz");
}

TEST_F(WordTest, Comparison) {
    Cell foo = word_v("foo"), Foo = word_v("Foo");
    Cell lfoo = lit_v("foo"), sfoo = set_v("foo");
    Cell ia, a = word_v("a"), b = word_v("b");
    set_cell(&ia, T_ISSUE, g_global_context, sym("a"), u32(-1));
    EXPECT_TRUE(ev::compare(&Foo, &foo, ev::OP_EQUAL));
    EXPECT_FALSE(ev::compare(&Foo, &foo, ev::OP_STRICT_EQUAL));
    EXPECT_TRUE(ev::compare(&foo, &sfoo, ev::OP_EQUAL));  // kinds ignored
    EXPECT_FALSE(ev::compare(&foo, &sfoo, ev::OP_STRICT_EQUAL));
    EXPECT_FALSE(ev::compare(&a, &ia, ev::OP_EQUAL));  // an issue compares only with an issue
    EXPECT_FALSE(ev::compare(&ia, &a, ev::OP_EQUAL));
    EXPECT_TRUE(ev::compare(&a, &b, ev::OP_LESSER));
    EXPECT_TRUE(ev::compare(&Foo, &foo, ev::OP_SAME) == false);
    EXPECT_TRUE(ev::compare(&foo, &foo, ev::OP_SAME));
    // parse's equalities: a word matches a lit-word of its name.
    EXPECT_TRUE(ev::compare(&foo, &lfoo, ev::OP_FIND));
    Cell lFoo = lit_v("Foo");
    EXPECT_FALSE(ev::compare(&foo, &lFoo, ev::OP_FIND));
    EXPECT_TRUE(ev::compare(&foo, &lFoo, ev::OP_STRICT_FIND));
    EXPECT_FALSE(ev::compare(&foo, &sfoo, ev::OP_STRICT_FIND));
    Cell one = int_v(1);
    EXPECT_FALSE(ev::compare(&foo, &one, ev::OP_EQUAL));
    EXPECT_EQ(catch_error([&] { ev::compare(&foo, &one, ev::OP_LESSER); }), rt::Err::script_invalid_compare);
}

TEST_F(WordTest, IndexOfAWord) {
    Cell* spec = blk({word_v("x"), word_v("y")});
    Node ctx = make_context_from_spec(spec, true, false, CTX_ARGS);
    Cell index = stack_action(A_INDEX_Q, *context_word_at(ctx, 1));
    EXPECT_EQ(get_int(&index), 2);
    Cell loose = word_v("x");
    loose.data3 = u32(-1);
    Cell none = stack_action(A_INDEX_Q, loose);
    EXPECT_EQ(type_of(&none), T_NONE);
    EXPECT_EQ(action_entry(T_REFINEMENT, A_INDEX_Q), nullptr);
}

TEST_F(WordTest, PerKindOperations) {
    Cell w = word_v("per-kind-unset");
    EXPECT_EQ(catch_error([&] { push_word_value(&w); }), rt::Err::script_no_value);
    EXPECT_EQ(type_of(push_get_word(&w)), T_UNSET);
    Cell* pushed = push_word_kind(&w, T_LIT_WORD);
    EXPECT_EQ(mold(pushed), "'per-kind-unset");
    // set-word-checked: the value after the arguments base.
    Cell* base = rt::stack_push_slot();
    set_cell(base, T_NONE);
    Cell* arg = rt::stack_push_slot();
    set_cell(arg, T_UNSET);
    Cell* saved = rt::g_args.base;
    EXPECT_EQ(catch_error([&] {
                  rt::g_args.base = base;
                  set_word_checked(&w);
              }),
              rt::Err::script_need_value);
    rt::g_args.base = base;
    *arg = int_v(3);
    set_word_checked(&w);
    rt::g_args.base = saved;
    EXPECT_EQ(get_int(push_word_value(&w)), 3);
    Cell* s = push_symbol_string(&w);
    EXPECT_EQ(text_of(s), "per-kind-unset");
    Cell* issue = load_issue("ooo");
    EXPECT_EQ(mold(issue), "#ooo");
    EXPECT_EQ(word_index(issue), -1);
    Cell* b = blk({});
    Cell* made = make_word_kind_in(series_node(b), "go", T_REFINEMENT);
    EXPECT_EQ(mold(made), "/go");
}

}  // namespace
}  // namespace kel::test
