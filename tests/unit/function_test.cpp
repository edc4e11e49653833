// native!, action!, op!, function! and routine! values made from specs.
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "evaluator/actions.h"
#include "unit/word_support.h"

namespace kel::test {
namespace {

using namespace dt;

class FunctionTest : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        // Type blocks name datatypes through words; the boot data gives them their values.
        for (u32 t : {T_INTEGER, T_STRING, T_BLOCK}) {
            Cell w = load_word(g_type_names[t].name);
            Cell v = dt_v(t);
            set_word_value(&w, &v);
        }
    }
};

Cell* make_(u32 type, Cell spec) {
    Cell proto = dt_v(type);
    Cell* s = rt::stack_push(&spec);
    return handler<A_MAKE>(type)(&proto, s, type);
}

Cell types_(std::initializer_list<const char*> names) {
    Cell* b = blk({});
    for (const char* n : names) {
        Cell w = word_v(n);
        ks_append(b, &w);
    }
    Cell c = *b;
    rt::stack_pop(1);
    return c;
}

TEST_F(FunctionTest, SpecChecking) {
    Cell integer = types_({"integer!"});
    Cell doc = str_v("doc");
    struct Case {
        const char* what;
        Cell spec;
        rt::Err error;  // Err::count: valid
    };
    const rt::Err ok = rt::Err::count, bad = rt::Err::script_bad_func_def;
    std::vector<Case> cases = {
        {"type then doc", blk_v({word_v("a"), integer, doc}), ok},
        {"doc then type", blk_v({word_v("a"), doc, integer}), bad},
        {"argument after return:", blk_v({word_v("a"), set_v("return"), integer, word_v("b")}), bad},
        {"locals after return:", blk_v({word_v("a"), set_v("return"), integer, ref_v("local"), word_v("b")}), ok},
        {"two returns", blk_v({set_v("return"), integer, set_v("return"), integer}), bad},
        {"return: without types", blk_v({word_v("a"), set_v("return")}), bad},
        {"other set-word", blk_v({set_v("result"), integer}), bad},
        {"quoted local", blk_v({word_v("a"), ref_v("local"), lit_v("b")}), bad},
        {"plain local", blk_v({word_v("a"), ref_v("local"), word_v("b")}), ok},
        {"types after a refinement", blk_v({word_v("a"), ref_v("ref"), integer}), bad},
        {"refinement with an argument", blk_v({word_v("a"), ref_v("ref"), word_v("b"), integer}), ok},
        {"refinement after /local", blk_v({ref_v("local"), word_v("b"), ref_v("ref")}), bad},
        {"leading doc", blk_v({doc, word_v("a"), get_v("b"), lit_v("c")}), ok},
        {"a number", blk_v({word_v("a"), int_v(1)}), bad},
        {"attributes of words only", blk_v({blk_v({int_v(1)}), word_v("a")}), bad},
        {"names without case", blk_v({word_v("a"), word_v("A")}), rt::Err::script_dup_vars},
        {"refinement named as an argument", blk_v({word_v("a"), ref_v("a")}), rt::Err::script_dup_vars},
        {"type not a type", blk_v({word_v("a"), blk_v({int_v(1)})}), rt::Err::script_invalid_type_spec},
        {"type word without value", blk_v({word_v("a"), types_({"no-such-type!"})}), rt::Err::script_no_value},
    };
    for (Case& c : cases) {
        rt::Err got = catch_error([&] { check_function_spec(&c.spec); });
        EXPECT_EQ(got, c.error) << c.what;
    }
    Cell trace = blk_v({types_({"trace"}), word_v("a")});
    EXPECT_EQ(check_function_spec(&trace), FN_TRACE);
    Cell both = blk_v({types_({"no-trace", "catch", "trace"}), word_v("a")});
    EXPECT_EQ(check_function_spec(&both), FN_TRACE | FN_NO_TRACE);
    Cell other = blk_v({types_({"catch"}), word_v("a")});
    EXPECT_EQ(check_function_spec(&other), 0u);
}

TEST_F(FunctionTest, MakingFunctions) {
    Cell inner = blk_v({word_v("a")});
    Cell body = blk_v({word_v("a"), inner, blk_v({word_v("b")}, T_PAREN)});
    Cell spec = blk_v({word_v("a"), word_v("b")});
    Cell fn = *make_(T_FUNCTION, blk_v({spec, body}));
    EXPECT_EQ(type_of(&fn), T_FUNCTION);
    EXPECT_EQ(fn.data2, series_node(&spec));  // a spec at its head is shared
    Node ctx = fn.data1;
    EXPECT_EQ(context_word_count(ctx), 2u);
    EXPECT_TRUE(context_on_stack(ctx));
    EXPECT_EQ(type_of(context_owner(ctx)), T_FUNCTION);
    Cell fbody = *function_record(&fn, FN_BODY);
    EXPECT_NE(series_node(&fbody), series_node(&body));
    EXPECT_EQ(word_context(ks_abs_at(&fbody, 0)), ctx);  // bound to the arguments
    Cell nested = *ks_abs_at(&fbody, 1);
    EXPECT_NE(series_node(&nested), series_node(&inner));  // copied deeply
    EXPECT_EQ(word_context(ks_abs_at(&nested, 0)), ctx);
    Cell paren = *ks_abs_at(&fbody, 2);
    EXPECT_EQ(word_index(ks_abs_at(&paren, 0)), 1);
    EXPECT_EQ(mold(&fn), "func [a b][a [a] (b)]");
    EXPECT_EQ(form(&fn), "?function?");

    // A spec past its head is copied from there.
    Cell later = spec;
    later.data1 = 1;
    Cell fn2 = *make_(T_FUNCTION, blk_v({later, body}));
    EXPECT_NE(fn2.data2, series_node(&spec));
    EXPECT_EQ(context_word_count(fn2.data1), 1u);
    Cell traced = *make_(T_FUNCTION, blk_v({blk_v({types_({"trace"}), word_v("x")}), body}));
    EXPECT_EQ(traced.header & FN_TRACE, FN_TRACE);

    EXPECT_EQ(catch_error([&] { make_(T_FUNCTION, blk_v({spec})); }), rt::Err::script_bad_func_def);
    EXPECT_EQ(catch_error([&] { make_(T_FUNCTION, blk_v({spec, int_v(1)})); }), rt::Err::script_bad_func_def);
    EXPECT_EQ(catch_error([&] { make_(T_FUNCTION, int_v(1)); }), rt::Err::script_bad_func_def);
}

TEST_F(FunctionTest, ReflectingFunctions) {
    Cell fn = *make_(T_FUNCTION, blk_v({blk_v({word_v("a"), ref_v("r"), word_v("b")}), blk_v({word_v("b")})}));
    Cell* f = rt::stack_push(&fn);
    Cell* spec = ev::dispatch<A_REFLECT>(f, sym("spec"));
    EXPECT_EQ(mold(spec), "[a /r b]");
    Cell* body = ev::dispatch<A_REFLECT>(f, sym("body"));
    EXPECT_EQ(mold(body), "[b]");
    Cell* words = ev::dispatch<A_REFLECT>(f, sym("words"));
    EXPECT_EQ(mold(words), "[a r b]");
    EXPECT_EQ(word_context(ks_abs_at(words, 2)), fn.data1);
    EXPECT_EQ(catch_error([&] { ev::dispatch<A_REFLECT>(f, sym("class")); }), rt::Err::internal_not_done);
}

rt::Status dummy_native(bool, const i32*) { return 0; }
void dummy_action(const i32*) {}

TEST_F(FunctionTest, NativesAndActionsNeedAnEntry) {
    ev::NativeEntry saved_native = ev::g_natives_table[119];
    ev::NativeEntry saved_first = ev::g_natives_table[0];
    ev::ActionEntry saved_action = ev::g_actions_table[61];
    ev::g_natives_table[119] = dummy_native;
    ev::g_natives_table[0] = dummy_native;
    ev::g_actions_table[61] = dummy_action;
    Cell spec = blk_v({word_v("a"), word_v("b")});
    Cell n = *make_(T_NATIVE, blk_v({spec, int_v(120)}));
    EXPECT_EQ(type_of(&n), T_NATIVE);
    EXPECT_EQ(n.data1, 119u);
    Cell a = *make_(T_ACTION, blk_v({spec, int_v(62)}));
    EXPECT_EQ(a.data1, 61u);
    struct Case {
        u32 type;
        Cell spec;
    };
    for (Case c : {Case{T_ACTION, blk_v({spec, int_v(63)})}, Case{T_ACTION, blk_v({spec, int_v(0)})},
                   Case{T_ACTION, blk_v({spec, int_v(8)})},   // the empty slot
                   Case{T_ACTION, blk_v({spec, int_v(9)})},   // compare: another convention
                   Case{T_NATIVE, blk_v({spec, int_v(121)})}, Case{T_NATIVE, blk_v({spec, int_v(108)})},
                   Case{T_NATIVE, blk_v({spec, int_v(1), int_v(2)})}, Case{T_NATIVE, blk_v({spec, str_v("1")})},
                   Case{T_NATIVE, blk_v({int_v(1), int_v(1)})}, Case{T_NATIVE, int_v(1)}})
        EXPECT_EQ(catch_error([&] { make_(c.type, c.spec); }), rt::Err::script_bad_make_arg) << mold(&c.spec);

    Cell* pn = rt::stack_push(&n);
    Cell* body = ev::dispatch<A_REFLECT>(pn, sym("body"));
    EXPECT_EQ(get_int(body), 120);  // its slot in the natives table
    EXPECT_EQ(mold(ev::dispatch<A_REFLECT>(pn, sym("spec"))), "[a b]");
    EXPECT_EQ(catch_error([&] { ev::dispatch<A_REFLECT>(pn, sym("words")); }), rt::Err::internal_not_done);
    EXPECT_EQ(mold(&n), "make native! [[a b]]");
    EXPECT_EQ(mold(&a), "make action! [[a b]]");
    EXPECT_EQ(form(&n), "?native?");
    EXPECT_EQ(form(&a), "?action?");
    Cell n2 = *make_(T_NATIVE, blk_v({spec, int_v(120)}));
    Cell n3 = *make_(T_NATIVE, blk_v({spec, int_v(1)}));
    EXPECT_TRUE(ev::compare(&n, &n2, ev::OP_EQUAL));
    EXPECT_FALSE(ev::compare(&n, &n3, ev::OP_EQUAL));
    EXPECT_FALSE(ev::compare(&n, &a, ev::OP_EQUAL));
    ev::g_natives_table[119] = saved_native;
    ev::g_natives_table[0] = saved_first;
    ev::g_actions_table[61] = saved_action;
}

TEST_F(FunctionTest, OpsNeedTwoPlainFirstArguments) {
    Cell body = blk_v({word_v("a")});
    auto fn_with = [&](Cell spec) { return *make_(T_FUNCTION, blk_v({spec, body})); };
    Cell fn = fn_with(blk_v({word_v("a"), word_v("b"), ref_v("local"), word_v("c")}));
    Cell op = *make_(T_OP, fn);
    EXPECT_EQ(type_of(&op), T_OP);
    EXPECT_EQ(op.header >> 16, u32(T_FUNCTION));
    EXPECT_EQ(type_of(function_record(&fn, FN_OP_SOURCE)), T_FUNCTION);
    EXPECT_EQ(mold(&op), "make op! func [a b /local c][a]");
    EXPECT_EQ(form(&op), "?op?");
    Cell* pop = rt::stack_push(&op);
    EXPECT_EQ(mold(ev::dispatch<A_REFLECT>(pop, sym("body"))), "[a]");
    Cell ret = fn_with(blk_v({word_v("a"), get_v("b"), set_v("return"), types_({"integer!"})}));
    EXPECT_EQ(type_of(make_(T_OP, ret)), T_OP);
    for (Cell spec : {blk_v({word_v("a"), word_v("b"), ref_v("only")}), blk_v({lit_v("a"), word_v("b")}),
                      blk_v({word_v("a")}), blk_v({word_v("a"), word_v("b"), word_v("c")})}) {
        Cell f = fn_with(spec);
        EXPECT_EQ(catch_error([&] { make_(T_OP, f); }), rt::Err::script_bad_op_spec) << mold(&spec);
    }
    EXPECT_EQ(catch_error([&] { make_(T_OP, int_v(1)); }), rt::Err::script_invalid_type);
}

TEST_F(FunctionTest, CountingLocalsAndRefinementsOff) {
    Cell* spec = blk({word_v("a"), ref_v("LOCAL"), word_v("b"), word_v("c")});
    EXPECT_EQ(count_spec_words(series_node(spec), 0, false), 3);
    Cell* plain = blk({word_v("a")});
    EXPECT_EQ(count_spec_words(series_node(plain), 0, false), 0);
    EXPECT_EQ(count_spec_words(series_node(plain), 0, true), -1);
    Cell* before = rt::g_args.top;
    push_refinement_off(3);
    EXPECT_EQ(rt::g_args.top - before, 3);
    EXPECT_EQ(type_of(before), T_LOGIC);
    EXPECT_EQ(type_of(before + 2), T_NONE);
}

TEST_F(FunctionTest, LocalsOfTheFunctionNative) {
    Cell* spec = blk({word_v("x")});
    Cell body = blk_v({set_v("y"), int_v(1), blk_v({set_v("w"), int_v(2), set_v("y"), int_v(3)}), word_v("foreach"),
                       blk_v({word_v("p"), get_v("q")}), word_v("s"), blk_v({}), word_v("repeat"), word_v("i"),
                       int_v(3), blk_v({}), set_v("x"), int_v(5), set_v("local"), int_v(1),
                       blk_v({set_v("z"), int_v(0)}, T_PAREN)});
    Cell* locals = collect_function_locals(spec, &body);
    EXPECT_EQ(mold(locals), "[y w p q i z]");
    EXPECT_EQ(mold(spec), "[x /local y w p q i z]");

    // /extern keeps its words global; the spec is cut there.
    Cell* spec2 = blk({word_v("x"), ref_v("extern"), word_v("g")});
    Cell body2 = blk_v({set_v("g"), int_v(1), set_v("h"), int_v(2)});
    collect_function_locals(spec2, &body2);
    EXPECT_EQ(mold(spec2), "[x /local h]");
    Cell* spec3 = blk({word_v("x"), ref_v("extern"), word_v("g"), int_v(5)});
    EXPECT_EQ(catch_error([&] { collect_function_locals(spec3, &body2); }), rt::Err::script_bad_func_extern);
    // A spec that has /local already gets no second one.
    Cell* spec4 = blk({word_v("x"), ref_v("local"), word_v("t")});
    collect_function_locals(spec4, &body2);
    EXPECT_EQ(mold(spec4), "[x /local t g h]");
}

TEST_F(FunctionTest, ArgumentWordsNameTheCallsArguments) {
    Cell spec = blk_v({word_v("series"), lit_v("value"), ref_v("part"), word_v("length")});
    Cell fn = *make_(T_FUNCTION, blk_v({spec, blk_v({})}));
    Cell name = word_v("appendix");
    set_word_value(&name, &fn);
    Cell out;
    Cell* saved = rt::g_args.base;
    rt::CallFrame* frames = rt::g_calls.top;
    rt::stack_open_native(&name);
    rt::stack_open_named(rt::g_sym_body, rt::FH_NATIVE);  // skipped
    rt::call_argument_word(1, &out);
    EXPECT_EQ(mold(&out), "'value");
    rt::call_argument_word(2, &out);
    EXPECT_EQ(mold(&out), "/part");
    rt::call_argument_word(9, &out);
    EXPECT_EQ(mold(&out), "<anon>");
    rt::g_calls.top = frames;
    rt::g_args.base = saved;
    // script/expect-arg names the call, the datatype and the argument.
    Cell one = int_v(1);
    rt::Err e = catch_error([&] {
        rt::stack_open_native(&name);
        rt::raise_expect_arg(0, &one);
    });
    EXPECT_EQ(e, rt::Err::script_expect_arg);
}

TEST_F(FunctionTest, Routines) {
    Cell spec = blk_v({word_v("a"), blk_v({word_v("integer!")}), word_v("b"), ref_v("local"), word_v("c")});
    Cell* r = make_routine_cell(&spec, nullptr, 77, 11, false);
    EXPECT_EQ(type_of(r), T_ROUTINE);
    EXPECT_EQ(routine_arity(r), 3u);  // every word! of the spec, locals included
    EXPECT_EQ(get_int(function_record(r, FN_CODE)), 77);
    EXPECT_EQ(get_int(function_record(r, FN_OWNER)), 11);
    EXPECT_EQ(form(r), "?routine?");
    EXPECT_EQ(mold(r), "routine [a [integer!] b /local c] none");
    Cell body = blk_v({word_v("a")});
    Cell* r2 = make_routine_cell(&spec, &body, 1, -1, true);
    EXPECT_EQ(mold(r2), "routine [a [integer!] b /local c][a]");
    EXPECT_TRUE(r2->header & ROUTINE_VARIANT);
    EXPECT_FALSE(ev::compare(r, r2, ev::OP_EQUAL));
    EXPECT_EQ(action_entry(T_ROUTINE, A_MAKE), nullptr);
}

}  // namespace
}  // namespace kel::test
