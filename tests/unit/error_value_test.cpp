// error! values: making them, their fields, and the report text the console prints.
#include "console/boot.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/object.h"
#include "runtime/console_out.h"
#include "unit/word_support.h"

namespace kel::test {
namespace {

using namespace dt;

class ErrorValueTest : public RuntimeTest {
protected:
    EvalStandIns stand_ins;
    void SetUp() override {
        RuntimeTest::SetUp();
        set_cell(&ev::g_eval_cell, T_NONE);
    }
};

Cell make_error_(Cell spec) {
    Cell proto = dt_v(T_ERROR);
    Cell* s = rt::stack_push(&spec);
    return *handler<A_MAKE>(T_ERROR)(&proto, s, T_ERROR);
}

std::string report(const Cell& err) { return utf8_of(push_error_report(&err)); }

std::string field_text(const Cell& err, u32 f) {
    Cell v = *error_field(&err, f);
    return mold(&v);
}

// The error raised by `body`, caught as `try` would catch it.
Cell raised(const std::function<void()>& body) {
    Cell err;
    set_cell(&err, T_NONE);
    Cell* saved_base = rt::g_args.base;
    Cell* saved_top = rt::g_args.top;
    rt::CallFrame* saved_calls = rt::g_calls.top;
    rt::stack_open_try(nullptr);
    try {
        body();
    } catch (rt::ErrorThrow&) {
        err = *rt::stack_top();
    }
    rt::g_args.base = saved_base;
    rt::g_args.top = saved_top;
    rt::g_calls.top = saved_calls;
    return err;
}

TEST_F(ErrorValueTest, MakeFromACode) {
    Cell e = make_error_(int_v(300));
    EXPECT_EQ(type_of(&e), T_ERROR);
    EXPECT_EQ(field_text(e, ERR_CODE), "300");
    EXPECT_EQ(field_text(e, ERR_TYPE), "script");
    EXPECT_EQ(field_text(e, ERR_ID), "no-value");
    EXPECT_EQ(rt::error_id_of(&e), rt::Err::script_no_value);
    Cell math = make_error_(int_v(401));
    EXPECT_EQ(rt::error_id_of(&math), rt::Err::math_overflow);
    for (i32 bad : {1000, -1, 399, 603})
        EXPECT_EQ(catch_error([&] { make_error_(int_v(bad)); }), rt::Err::script_out_of_range) << bad;
    EXPECT_EQ(catch_error([] { make_error_(logic_v(true)); }), rt::Err::script_bad_make_arg);
}

TEST_F(ErrorValueTest, MakeFromABlock) {
    Cell e = make_error_(blk_v({word_v("Script"), word_v("expect-arg")}));
    EXPECT_EQ(field_text(e, ERR_CODE), "305");
    struct Case {
        Cell spec;
        rt::Err error;
    };
    for (Case c : {Case{blk_v({word_v("script"), word_v("bogus")}), rt::Err::script_invalid_spec_field},
                   Case{blk_v({word_v("bogus"), word_v("no-value")}), rt::Err::script_invalid_spec_field},
                   Case{blk_v({word_v("script")}), rt::Err::script_invalid_spec_field},
                   Case{blk_v({word_v("script"), int_v(5)}), rt::Err::script_invalid_arg},
                   Case{blk_v({word_v("script"), word_v("code")}), rt::Err::script_invalid_spec_field},
                   Case{blk_v({int_v(1)}), rt::Err::internal_invalid_error},
                   Case{blk_v({}), rt::Err::internal_invalid_error}})
        EXPECT_EQ(catch_error([&] { make_error_(c.spec); }), c.error) << mold(&c.spec);

    // The set-word form is evaluated in the error.
    Cell s = make_error_(blk_v({set_v("type"), lit_v("math"), set_v("id"), lit_v("zero-divide"), set_v("arg1"),
                                int_v(7)}));
    EXPECT_EQ(field_text(s, ERR_CODE), "400");
    EXPECT_EQ(field_text(s, ERR_ARG1), "7");
    EXPECT_EQ(catch_error([] { make_error_(blk_v({set_v("type"), lit_v("math")})); }),
              rt::Err::script_invalid_spec_field);
}

TEST_F(ErrorValueTest, MakeFromAStringIsAUserMessage) {
    Cell e = make_error_(str_v("boom"));
    EXPECT_EQ(field_text(e, ERR_TYPE), "user");
    EXPECT_EQ(field_text(e, ERR_ID), "message");
    EXPECT_EQ(field_text(e, ERR_CODE), "800");
    EXPECT_EQ(report(e), "*** User Error: boom\n*** Where: ???\n*** Near : none");
}

TEST_F(ErrorValueTest, RaisedErrorsCarryTheirArgumentsAndLocation) {
    Cell foo = word_v("foo");
    Cell e = raised([&] { rt::raise_error(rt::Err::script_no_value, &foo); });
    EXPECT_EQ(rt::error_id_of(&e), rt::Err::script_no_value);
    EXPECT_EQ(field_text(e, ERR_ARG1), "foo");
    EXPECT_EQ(field_text(e, ERR_ARG2), "none");
    EXPECT_EQ(report(e), "*** Script Error: foo has no value\n*** Where: ???\n*** Near : none");

    // Where names the innermost named call; Near is where the evaluator stood. The call is
    // named by a word without a function value (once the library is loaded `append` has one,
    // and its spec would name the argument).
    Cell append = word_v("appendix");
    ev::g_eval_cell = blk_v({word_v("appendix"), int_v(1), int_v(2)});
    Cell one = int_v(1);
    Cell e2 = raised([&] {
        rt::stack_open_native(&append);
        rt::stack_open_named(rt::g_sym_body, rt::FH_NATIVE);
        rt::raise_expect_arg(0, &one);
    });
    EXPECT_EQ(report(e2),
              "*** Script Error: appendix does not allow integer! for its <anon> argument\n"
              "*** Where: appendix\n*** Near : [appendix 1 2]");
    EXPECT_EQ(field_text(e2, ERR_STACK), "3");  // the call-stack depth when raised
}

TEST_F(ErrorValueTest, ArgumentsAreMoldedExceptForSyntaxErrors) {
    Cell text = str_v("a b");
    Cell script = *create_error(rt::Err::script_invalid_arg, &text, nullptr, nullptr);
    EXPECT_EQ(report(script), "*** Script Error: invalid argument: \"a b\"\n*** Where: ???\n*** Near : none");
    Cell kind = str_v("word"), at = str_v("x y");
    Cell syntax = *create_error(rt::Err::syntax_invalid, &kind, &text, &at);
    EXPECT_EQ(report(syntax), "*** Syntax Error: word invalid a b at x y\n*** Where: ???\n*** Near : none");
    // Elements that write nothing still get their spaces.
    Cell none_msg = *create_error(rt::Err::script_no_arg, nullptr, nullptr, nullptr);
    EXPECT_EQ(report(none_msg), "*** Script Error: none is missing its none argument\n*** Where: ???\n*** Near : none");
    Cell plain = *create_error(rt::Err::math_zero_divide, nullptr, nullptr, nullptr);
    EXPECT_EQ(report(plain), "*** Math Error: attempt to divide by zero\n*** Where: ???\n*** Near : none");
}

TEST_F(ErrorValueTest, LongArgumentsAndNearAreCut) {
    std::string long_text(100, 'x');
    Cell s = str_v(long_text.c_str());
    ev::g_eval_cell = blk_v({str_v(long_text.c_str())});
    Cell e = *create_error(rt::Err::script_invalid_arg, &s, nullptr, nullptr);
    // Long text molds in braces; 80 characters of it, then 40 of Near.
    std::string arg = "{" + std::string(79, 'x');
    std::string near = "[{" + std::string(38, 'x');
    EXPECT_EQ(report(e), "*** Script Error: invalid argument: " + arg + "\n*** Where: ???\n*** Near : " + near);
}

TEST_F(ErrorValueTest, FilesLineAndStackLine) {
    Cell e = *create_error(rt::Err::math_overflow, nullptr, nullptr, nullptr);
    *error_field(&e, ERR_FILES) = blk_v({str_v("a.kel"), str_v("b.kel")});
    EXPECT_EQ(report(e), "*** Math Error: math or number overflow\n*** Where: ???\n*** Near : none\n"
                         "*** Files: \"a.kel\" \"b.kel\"");
    // The Stack line follows system/state/stack-trace.
    static Cell depth;
    depth = int_v(1);
    g_system_state_field = [](u32 index) -> const Cell* { return index == 2 ? &depth : nullptr; };
    *error_field(&e, ERR_FILES) = none_v();
    *error_field(&e, ERR_STACK) = blk_v({word_v("f"), word_v("g")});
    EXPECT_EQ(report(e), "*** Math Error: math or number overflow\n*** Where: ???\n*** Near : none\n*** Stack: f g");
    depth = int_v(0);
    EXPECT_EQ(report(e), "*** Math Error: math or number overflow\n*** Where: ???\n*** Near : none");
    g_system_state_field = nullptr;
}

TEST_F(ErrorValueTest, CapturingTheStack) {
    static Cell depth, files;
    depth = int_v(5);
    files = blk_v({str_v("main.kel")});
    g_system_state_field = [](u32 index) -> const Cell* { return index == 2 ? &depth : index == 3 ? &files : nullptr; };
    Cell f = word_v("outer"), g = word_v("inner");
    Cell e = raised([&] {
        rt::stack_open_native(&f);
        rt::stack_open_native(&g);
        rt::raise_error(rt::Err::math_overflow);
    });
    // With traces on, the calls are taken when the error is raised.
    EXPECT_EQ(field_text(e, ERR_STACK), "[outer inner]");
    EXPECT_EQ(report(e), "*** Math Error: math or number overflow\n*** Where: inner\n*** Near : none\n"
                         "*** Stack: outer inner\n*** Files: \"main.kel\"");
    EXPECT_EQ(field_text(e, ERR_FILES), "[\"main.kel\"]");
    g_system_state_field = nullptr;
}

TEST_F(ErrorValueTest, UnknownTypeOrIdFormsAsAnInvalidError) {
    Cell e = *create_error(rt::Err::math_overflow, nullptr, nullptr, nullptr);
    *error_field(&e, ERR_ID) = word_v("no-such-id");
    EXPECT_EQ(report(e),
              "*** Internal Error: invalid error object field value: none\n*** Where: ???\n*** Near : none");
    EXPECT_EQ(field_text(e, ERR_TYPE), "internal");
}

TEST_F(ErrorValueTest, MoldCompareAndReflect) {
    Cell e = *create_error(rt::Err::math_positive, nullptr, nullptr, nullptr);
    EXPECT_EQ(mold(&e, false, false, true),
              "make error! [code: 402 type: 'math id: 'positive arg1: none arg2: none arg3: none near: none where: none "
              "stack: none files: none]");
    EXPECT_EQ(mold(&e).substr(0, 24), "make error! [\n    code: ");
    Cell e2 = *create_error(rt::Err::math_positive, nullptr, nullptr, nullptr);
    Cell e3 = *create_error(rt::Err::math_overflow, nullptr, nullptr, nullptr);
    EXPECT_TRUE(ev::compare(&e, &e2, ev::OP_EQUAL));
    EXPECT_FALSE(ev::compare(&e, &e3, ev::OP_EQUAL));
    Cell obj;
    make_object_at(&obj, 1);
    EXPECT_FALSE(ev::compare(&e, &obj, ev::OP_EQUAL));
    Cell* pe = rt::stack_push(&e);
    EXPECT_EQ(mold(ev::dispatch<A_REFLECT>(pe, sym("words"))), "[code type id arg1 arg2 arg3 near where stack files]");
    Cell id = word_v("id");
    EXPECT_EQ(mold(ev::dispatch<A_SELECT>(pe, &id, nullptr, false, false, false, false, nullptr, nullptr, false, false)),
              "positive");
    // An error that holds itself molds the inner occurrence as a marker.
    *error_field(&e3, ERR_ARG1) = e3;
    EXPECT_EQ(mold(&e3, false, false, true).substr(0, 45), "make error! [code: 401 type: 'math id: 'overf");
    EXPECT_NE(mold(&e3, false, false, true).find("arg1: ..."), std::string::npos);
    EXPECT_NE(report(e3).find("math or number overflow"), std::string::npos);
    EXPECT_EQ(error_type_symbol(&e), sym("math"));
    EXPECT_EQ(error_id_symbol(&e), sym("positive"));
}

TEST_F(ErrorValueTest, TheCatalogObjects) {
    Cell* cat = error_catalog();
    EXPECT_EQ(object_field_count(cat), 10u);
    Cell w = word_v("script");
    Cell script = *object_select_word(cat, &w);
    EXPECT_EQ(type_of(&script), T_OBJECT);
    Cell code = word_v("code"), type = word_v("type"), expect = word_v("expect-arg"), brk = word_v("break");
    EXPECT_EQ(mold(object_select_word(&script, &code)), "300");
    EXPECT_EQ(mold(object_select_word(&script, &type)), "\"Script Error\"");
    EXPECT_EQ(mold(object_select_word(&script, &expect)), "[:arg1 \"does not allow\" :arg2 \"for its\" :arg3 \"argument\"]");
    Cell thr = word_v("throw");
    Cell throw_cat = *object_select_word(cat, &thr);
    EXPECT_EQ(mold(object_select_word(&throw_cat, &brk)), "\"no loop to break\"");
    Cell internal = word_v("internal"), dep = word_v("deprecated");
    Cell icat = *object_select_word(cat, &internal);
    EXPECT_EQ(mold(object_select_word(&icat, &dep)), "[arg1 \"is DEPRECATED, please use\" arg2 \"instead\"]");
    // Every id is a word of its category at its catalog position.
    for (u32 i = 0; i < u32(rt::Err::count); ++i) {
        const rt::ErrorInfo& info = rt::error_info(rt::Err(i));
        Cell* c = object_first_value(cat) + u32(info.category);
        EXPECT_EQ(word_symbol(context_word_at(object_context(c), info.index)), sym(info.name)) << info.name;
    }
}

TEST(ErrorValueDeathTest, AnUncaughtErrorPrintsItsReport) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto uncaught = [] {
        console::runtime_init();
        rt::set_console_output_fd(2);
        rt::g_args.base = rt::g_args.top = rt::g_args.bottom;
        rt::g_calls.top = rt::g_calls.bottom;
        Cell foo = word_v("foo");
        rt::raise_error(rt::Err::script_no_value, &foo);
    };
    EXPECT_EXIT(uncaught(), ::testing::ExitedWithCode(254),
                "\\*\\*\\* Script Error: foo has no value\n\\*\\*\\* Where: \\?\\?\\?\n\\*\\*\\* Near : none\n");
}

}  // namespace
}  // namespace kel::test
