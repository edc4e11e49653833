// object!: construction, class ids, fields, change marks and events, copies, molds.
#include "datatypes/context.h"
#include "datatypes/float.h"
#include "datatypes/function.h"
#include "datatypes/object.h"
#include "unit/word_support.h"

namespace kel::test {
namespace {

using namespace dt;

class ObjectTest : public RuntimeTest {
protected:
    EvalStandIns stand_ins;
};

i32 ival(Cell c) { return get_int(&c); }
u32 tval(Cell c) { return type_of(&c); }

Cell path_get(Cell& obj, Cell element, bool get, bool tail) {
    Cell* o = rt::stack_push(&obj);
    Cell* e = rt::stack_push(&element);
    Cell path = blk_v({word_v("o"), element}, T_PATH);
    Cell* p = rt::stack_push(&path);
    return *object_eval_path(o, e, nullptr, p, nullptr, nullptr, 1, false, get, tail);
}

TEST_F(ObjectTest, MakeEvaluatesTheSpecInTheNewContext) {
    Cell o = make_obj(blk_v({set_v("a"), int_v(1), set_v("b"), set_v("c"), word_v("a"), nl(set_v("d")), lit_v("x")}));
    EXPECT_EQ(type_of(&o), T_OBJECT);
    EXPECT_EQ(ival(field(o, "a")), 1);
    EXPECT_EQ(ival(field(o, "c")), 1);
    EXPECT_EQ(object_field_count(&o), 4u);
    EXPECT_GT(object_class(&o), 1000000);
    // No field is marked changed right after make.
    Cell* changed = object_reflect(&o, runtime_word_symbol(rt::WORD_CHANGED));
    EXPECT_EQ(mold(changed), "[]");
    EXPECT_EQ(mold(&o), "make object! [\n    a: 1\n    b: 1\n    c: 1\n    d: 'x\n]");
    EXPECT_EQ(mold(&o, false, false, true), "make object! [a: 1 b: 1 c: 1 d: 'x]");
    EXPECT_EQ(form(&o), "a: 1\nb: 1\nc: 1\nd: 'x");
    Cell empty = make_obj(blk_v({}));
    // Not flat, the bracket closes on a line of its own, fields or not.
    EXPECT_EQ(mold(&empty), "make object! [\n]");
    EXPECT_EQ(mold(&empty, false, false, true), "make object! []");
    EXPECT_EQ(catch_error([] { make_obj(int_v(5)); }), rt::Err::syntax_malconstruct);
}

TEST_F(ObjectTest, NestedObjectsIndentOneLevelDeeper) {
    Cell inner = make_obj(blk_v({set_v("b"), int_v(1)}));
    Cell o = make_obj(blk_v({set_v("a"), inner, set_v("c"), blk_v({int_v(2)})}));
    EXPECT_EQ(mold(&o), "make object! [\n    a: make object! [\n        b: 1\n    ]\n    c: [2]\n]");
    // An object that holds itself molds the inner occurrence as a marker.
    Cell self_ref = make_obj(blk_v({set_v("me"), none_v()}));
    Cell w = word_v("me");
    context_put_word(object_context(&self_ref), &w, &self_ref);
    EXPECT_EQ(mold(&self_ref, false, false, true), "make object! [me: make object! [...]]");
    EXPECT_EQ(form(&self_ref), "me: make object! [...]");  // form molds the values
}

TEST_F(ObjectTest, ClassIdsFollowTheFieldSet) {
    Cell proto = make_obj(blk_v({set_v("a"), int_v(1), set_v("s"), str_v("text")}));
    Cell same = make_obj(blk_v({set_v("a"), int_v(5)}), &proto);
    Cell more = make_obj(blk_v({set_v("c"), int_v(3)}), &proto);
    EXPECT_EQ(object_class(&same), object_class(&proto));
    EXPECT_NE(object_class(&more), object_class(&proto));
    EXPECT_EQ(ival(field(same, "a")), 5);
    EXPECT_EQ(ival(field(proto, "a")), 1);
    // Series fields of the prototype are copied, not shared.
    Cell s1 = field(proto, "s"), s2 = field(same, "s");
    EXPECT_NE(series_node(&s1), series_node(&s2));
    EXPECT_EQ(object_field_count(&more), 3u);
    // Merging an object: its fields come in; a new field gives a new id.
    Cell extra = make_obj(blk_v({set_v("z"), int_v(9)}));
    Cell merged = make_obj(extra, &proto);
    EXPECT_EQ(ival(field(merged, "z")), 9);
    EXPECT_NE(object_class(&merged), object_class(&proto));
}

TEST_F(ObjectTest, FieldsThroughSelectPathsAndPut) {
    Cell o = make_obj(blk_v({set_v("a"), int_v(1), set_v("u"), none_v()}));
    Cell w = word_v("u");
    Cell unset;
    set_cell(&unset, T_UNSET);
    context_put_word(object_context(&o), &w, &unset);
    Cell* po = rt::stack_push(&o);
    Cell key = word_v("A");
    EXPECT_EQ(get_int(object_select(po, &key, nullptr, false, false, false, false, nullptr, nullptr, false, false)), 1);
    Cell missing = word_v("nope");
    EXPECT_EQ(type_of(object_select(po, &missing, nullptr, false, false, false, false, nullptr, nullptr, false, false)),
              T_NONE);
    Cell one = int_v(1);
    EXPECT_EQ(catch_error([&] { object_select(po, &one, nullptr, false, false, false, false, nullptr, nullptr, false, false); }),
              rt::Err::script_invalid_type);
    EXPECT_EQ(catch_error([&] { ev::dispatch<A_FIND>(po, &key, nullptr, false, false, false, false, nullptr, nullptr,
                                                     false, false, false, false); }),
              rt::Err::script_expect_arg);

    EXPECT_EQ(ival(path_get(o, get_v("a"), true, true)), 1);
    // A missing field or an unset value: unset! for the last element of a get, else errors.
    EXPECT_EQ(tval(path_get(o, word_v("nope"), true, true)), T_UNSET);
    EXPECT_EQ(tval(path_get(o, word_v("u"), true, true)), T_UNSET);
    EXPECT_EQ(catch_error([&] { path_get(o, word_v("nope"), false, true); }), rt::Err::script_invalid_path);
    EXPECT_EQ(catch_error([&] { path_get(o, word_v("nope"), true, false); }), rt::Err::script_unset_path);
    EXPECT_EQ(catch_error([&] { path_get(o, int_v(1), true, true); }), rt::Err::script_invalid_path);

    Cell five = int_v(5);
    Cell* pk = rt::stack_push(&key);
    ev::dispatch<A_PUT>(po, pk, &five, false);
    EXPECT_EQ(ival(field(o, "a")), 5);
    Cell* changed = object_reflect(&o, runtime_word_symbol(rt::WORD_CHANGED));
    EXPECT_EQ(mold(changed), "[a]");
    Cell* pm = rt::stack_push(&missing);
    EXPECT_EQ(catch_error([&] { ev::dispatch<A_PUT>(po, pm, &five, false); }), rt::Err::script_invalid_path);
    Cell sw = set_v("a");
    Cell* psw = rt::stack_push(&sw);
    EXPECT_EQ(catch_error([&] { ev::dispatch<A_PUT>(po, psw, &five, false); }), rt::Err::script_invalid_key_type);
}

TEST_F(ObjectTest, Reflection) {
    Cell o = make_obj(blk_v({set_v("a"), int_v(1), set_v("w"), lit_v("x"),
                             set_v("p"), blk_v({word_v("x"), word_v("y")}, T_PATH)}));
    auto reflect = [&](const char* f) { return mold(object_reflect(&o, sym(f))); };
    EXPECT_EQ(reflect("words"), "[a w p]");
    EXPECT_EQ(reflect("values"), "[1 x x/y]");
    EXPECT_EQ(reflect("body"), "[a: 1 w: 'x p: 'x/y]");
    EXPECT_EQ(reflect("class"), std::to_string(object_class(&o)));
    EXPECT_EQ(reflect("owner"), "false");
    EXPECT_EQ(reflect("events?"), "false");
    EXPECT_EQ(catch_error([&] { object_reflect(&o, sym("spec")); }), rt::Err::internal_not_done);
    Cell* words = object_reflect(&o, sym("words"));
    EXPECT_EQ(word_context(ks_abs_at(words, 0)), object_context(&o));
}

TEST_F(ObjectTest, ChangedMarks) {
    Cell o = make_obj(blk_v({set_v("a"), int_v(1), set_v("b"), int_v(2)}));
    Cell w = word_v("b");
    bind_word(object_context(&o), &w);
    Cell v = int_v(3);
    set_word_value(&w, &v);
    EXPECT_EQ(mold(object_reflect(&o, runtime_word_symbol(rt::WORD_CHANGED))), "[b]");
    Cell* po = rt::stack_push(&o);
    Cell changed = word_v("changed");
    Cell none = none_v();
    Cell one = int_v(1);
    EXPECT_EQ(catch_error([&] { ev::dispatch<A_MODIFY>(po, &changed, &one, false); }), rt::Err::script_invalid_arg);
    ev::dispatch<A_MODIFY>(po, &changed, &none, false);
    EXPECT_EQ(mold(object_reflect(&o, runtime_word_symbol(rt::WORD_CHANGED))), "[]");
    Cell owner = word_v("owner");
    ev::dispatch<A_MODIFY>(po, &owner, &none, false);
    EXPECT_EQ(mold(object_reflect(&o, sym("owner"))), "true");
}

TEST_F(ObjectTest, OnChangeSeesTheNewValueInTheField) {
    Cell handler = function_v(blk_v({word_v("word"), word_v("old"), word_v("new")}), blk_v({}));
    Cell o = make_obj(blk_v({set_v("a"), int_v(1), set_v("on-change*"), handler}));
    EXPECT_NE(object_events(&o), 0u);
    EXPECT_EQ(mold(object_reflect(&o, sym("events?"))), "true");
    CallRecorder::calls.clear();
    CallRecorder::on_call = [&](CallRecord& r) { r.field_value = field(o, "a"); };
    Cell w = word_v("a");
    Cell* po = rt::stack_push(&o);
    Cell* pw = rt::stack_push(&w);
    Cell five = int_v(5);
    Cell path = blk_v({word_v("o"), w}, T_PATH);
    object_eval_path(po, pw, &five, &path, nullptr, nullptr, 1, false, false, true);
    ASSERT_EQ(CallRecorder::calls.size(), 1u);
    CallRecord& r = CallRecorder::calls[0];
    ASSERT_EQ(r.args.size(), 3u);
    EXPECT_EQ(mold(&r.args[0]), "a");
    EXPECT_EQ(word_context(&r.args[0]), object_context(&o));
    EXPECT_EQ(get_int(&r.args[1]), 1);
    EXPECT_EQ(get_int(&r.args[2]), 5);
    EXPECT_EQ(get_int(&r.field_value), 5);

    // The same through a word bound to the object.
    bind_word(object_context(&o), &w);
    Cell six = int_v(6);
    set_word_value(&w, &six);
    ASSERT_EQ(CallRecorder::calls.size(), 2u);
    EXPECT_EQ(get_int(&CallRecorder::calls[1].args[1]), 5);
    EXPECT_EQ(get_int(&CallRecorder::calls[1].field_value), 6);

    // A handler with two locals gets the refinement flag and two nones after its arguments.
    Cell with_locals = function_v(blk_v({word_v("word"), word_v("old"), word_v("new"), ref_v("local"), word_v("x"),
                                         word_v("y")}),
                                  blk_v({}));
    Cell hook = word_v("on-change*");
    context_put_word(object_context(&o), &hook, &with_locals);
    set_word_value(&w, &five);
    ASSERT_EQ(CallRecorder::calls.size(), 3u);
    ASSERT_EQ(CallRecorder::calls[2].args.size(), 6u);
    EXPECT_EQ(type_of(&CallRecorder::calls[2].args[3]), T_LOGIC);
    EXPECT_EQ(type_of(&CallRecorder::calls[2].args[5]), T_NONE);

    // A hook field that holds no function.
    Cell bad = int_v(0);
    context_put_word(object_context(&o), &hook, &bad);
    EXPECT_EQ(catch_error([&] { set_word_value(&w, &five); }), rt::Err::script_invalid_obj_evt);
    EXPECT_EQ(catch_error([] { make_obj(blk_v({set_v("on-change*"), int_v(5)})); }), rt::Err::script_bad_field_set);
}

TEST_F(ObjectTest, CopiesOwnTheirSeriesAndFunctions) {
    Cell f = function_v(blk_v({word_v("a")}), blk_v({word_v("a"), word_v("b")}));
    Cell o = make_obj(blk_v({set_v("a"), int_v(1), set_v("b"), blk_v({int_v(1)}), set_v("f"), f}));
    Cell* po = rt::stack_push(&o);
    Cell* slot = rt::stack_push_slot();
    Cell shallow = *ev::dispatch<A_COPY>(po, slot, nullptr, false, nullptr);
    Cell deep = *ev::dispatch<A_COPY>(po, slot, nullptr, true, nullptr);
    Cell b0 = field(o, "b"), b1 = field(shallow, "b"), b2 = field(deep, "b");
    EXPECT_EQ(series_node(&b0), series_node(&b1));
    EXPECT_NE(series_node(&b0), series_node(&b2));
    EXPECT_EQ(object_class(&deep), object_class(&o));
    // The function is re-made for the copy: the argument `a` shadows the field, `b` is the
    // copy's field.
    Cell f2 = field(deep, "f");
    EXPECT_NE(f2.data1, f.data1);
    Cell body = *function_record(&f2, FN_BODY);
    EXPECT_EQ(word_context(ks_abs_at(&body, 0)), f2.data1);
    EXPECT_EQ(word_context(ks_abs_at(&body, 1)), object_context(&deep));
    EXPECT_EQ(object_context(function_record(&f2, FN_OWNER)), object_context(&deep));
    Cell part = int_v(1);
    EXPECT_EQ(catch_error([&] { ev::dispatch<A_COPY>(po, slot, &part, false, nullptr); }),
              rt::Err::script_invalid_refine_arg);
}

TEST_F(ObjectTest, ComparisonGoesFieldByField) {
    Cell a = make_obj(blk_v({set_v("x"), int_v(1), set_v("y"), int_v(2)}));
    Cell b = make_obj(blk_v({set_v("x"), int_v(1), set_v("y"), int_v(2)}));
    Cell swapped = make_obj(blk_v({set_v("y"), int_v(2), set_v("x"), int_v(1)}));
    Cell fewer = make_obj(blk_v({set_v("x"), int_v(1)}));
    Cell floaty = make_obj(blk_v({set_v("x"), int_v(1), set_v("y"), *push_float(2.0)}));
    EXPECT_TRUE(ev::compare(&a, &b, ev::OP_EQUAL));
    EXPECT_FALSE(ev::compare(&a, &b, ev::OP_SAME));
    EXPECT_TRUE(ev::compare(&a, &a, ev::OP_SAME));
    EXPECT_FALSE(ev::compare(&a, &swapped, ev::OP_EQUAL));
    EXPECT_FALSE(ev::compare(&a, &fewer, ev::OP_EQUAL));
    EXPECT_TRUE(ev::compare(&a, &floaty, ev::OP_EQUAL));  // numbers compare across types
    Cell one = int_v(1);
    EXPECT_FALSE(ev::compare(&a, &one, ev::OP_EQUAL));
}

TEST_F(ObjectTest, ConstructWithoutEvaluation) {
    Cell spec = blk_v({set_v("a"), set_v("b"), int_v(1), set_v("c"), word_v("yes"), set_v("d"), lit_v("none"),
                       set_v("e"), word_v("off"), set_v("f"), word_v("other"), set_v("g")});
    Cell* o = construct_object(&spec, nullptr, false);
    EXPECT_EQ(mold(o, false, false, true), "make object! [a: 1 b: 1 c: true d: 'none e: false f: 'other g: none]");
    Cell* kept = construct_object(&spec, nullptr, true);
    EXPECT_EQ(mold(kept, false, false, true), "make object! [a: 1 b: 1 c: 'yes d: 'none e: 'off f: 'other g: none]");
    Cell* from = construct_object(&spec, o, false);
    EXPECT_EQ(object_class(from), object_class(o));
}

TEST_F(ObjectTest, SettingManyFields) {
    Cell o = make_obj(blk_v({set_v("a"), int_v(1), set_v("b"), int_v(2), set_v("c"), int_v(3)}));
    Cell* po = rt::stack_push(&o);
    Cell vals = blk_v({int_v(7), none_v()});
    set_many(po, &vals, false, false, false);
    EXPECT_EQ(mold(&o, false, false, true), "make object! [a: 7 b: none c: none]");
    Cell more = blk_v({int_v(8), none_v()});
    set_many(po, &more, false, false, true);  // some: nones skipped
    EXPECT_EQ(mold(&o, false, false, true), "make object! [a: 8 b: none c: none]");
    Cell src = make_obj(blk_v({set_v("C"), int_v(30), set_v("zz"), int_v(0)}));
    set_many(po, &src, false, false, false);
    EXPECT_EQ(mold(&o, false, false, true), "make object! [a: 8 b: none c: 30]");
    Cell nine = int_v(9);
    set_many(po, &nine, false, false, false);
    EXPECT_EQ(mold(&o, false, false, true), "make object! [a: 9 b: 9 c: 9]");
    set_many(po, &vals, false, true, false);  // only: the block itself
    EXPECT_EQ(mold(&o, false, false, true), "make object! [a: [7 none] b: [7 none] c: [7 none]]");
    Cell unset;
    set_cell(&unset, T_UNSET);
    Cell with_unset = blk_v({int_v(1), unset});
    EXPECT_EQ(catch_error([&] { set_many(po, &with_unset, false, false, false); }), rt::Err::script_need_value);
    set_many(po, &with_unset, true, false, false);
    EXPECT_EQ(tval(field(o, "b")), T_UNSET);
    EXPECT_EQ(mold(object_reflect(&o, runtime_word_symbol(rt::WORD_CHANGED))), "[a b c]");
}

TEST_F(ObjectTest, DeepChangeHandlerAndBootObjects) {
    Cell handler = function_v(blk_v({word_v("owner"), word_v("word"), word_v("target"), word_v("action"),
                                     word_v("new"), word_v("index"), word_v("part")}),
                              blk_v({}));
    Cell o = make_obj(blk_v({set_v("list"), blk_v({}), set_v("on-deep-change*"), handler}));
    EXPECT_EQ(mold(object_reflect(&o, sym("owner"))), "true");  // it owns its series now
    Cell* po = rt::stack_push(&o);
    Cell w = word_v("list"), target = field(o, "list"), action = word_v("appended"), one = int_v(1);
    CallRecorder::calls.clear();
    fire_on_deep_change(po, &w, &target, &action, &one, 0, 1);
    ASSERT_EQ(CallRecorder::calls.size(), 1u);
    ASSERT_EQ(CallRecorder::calls[0].args.size(), 7u);
    EXPECT_EQ(mold(&CallRecorder::calls[0].args[3]), "appended");
    EXPECT_EQ(get_int(&CallRecorder::calls[0].args[6]), 1);
    fire_on_deep_change(po, &w, &target, &action, nullptr, 0, 1);
    EXPECT_EQ(type_of(&CallRecorder::calls[1].args[4]), T_NONE);  // a missing new value
    Cell plain = make_obj(blk_v({set_v("a"), int_v(1)}));
    Cell* pp = rt::stack_push(&plain);
    EXPECT_EQ(catch_error([&] { fire_on_deep_change(pp, &w, &target, &action, &one, 0, 1); }),
              rt::Err::script_invalid_obj_evt);

    // Objects of the start-up code: given contexts and class ids, events from numbers.
    Node ctx = make_context(2, false, true, nullptr, CTX_OBJECT);
    Cell a = word_v("a"), hook = word_v("on-change*");
    context_add_word(ctx, &a);
    context_add_word(ctx, &hook);
    Cell* boot = push_object(ctx, 174);
    EXPECT_EQ(object_class(boot), 174);
    make_boot_object(ctx, 1, 2, -1, 0);
    EXPECT_NE(object_events(context_owner(ctx)), 0u);
    EXPECT_EQ(mold(object_reflect(boot, sym("events?"))), "true");
    Cell* again = push_object_with_events(ctx, 175, object_events(boot));
    EXPECT_EQ(object_events(again), object_events(boot));
    EXPECT_EQ(object_class(context_owner(ctx)), 175);
}

TEST_F(ObjectTest, ObjectHelpers) {
    Cell inner = make_obj(blk_v({set_v("b"), int_v(1)}));
    Cell o = make_obj(blk_v({set_v("a"), inner}));
    EXPECT_TRUE(field_is_object_q(&o, 0, object_context(&inner)));
    EXPECT_FALSE(field_is_object_q(&o, 1, object_context(&inner)));
    Cell w = word_v("a");
    bind_word(object_context(&o), &w);
    EXPECT_TRUE(object_field_same_q(&w, object_context(&inner)));
    EXPECT_EQ(object_find_word(&o, &w), 0);
    EXPECT_EQ(mold(object_first_field(&o)), "a");
    i32 id = new_object_id();
    EXPECT_EQ(new_object_id(), id + 1);
}

}  // namespace
}  // namespace kel::test
