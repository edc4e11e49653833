// Contexts: global words and their case twins, binding, reading and writing slots.
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/object.h"
#include "unit/word_support.h"

namespace kel::test {
namespace {

using namespace dt;

class ContextTest : public RuntimeTest {};

// A kind-2 context holding the given field names, all unset.
Node object_context_with(std::initializer_list<const char*> names) {
    Node ctx = make_context(4, false, false, nullptr, CTX_OBJECT);
    for (const char* n : names) {
        Cell w = word_v(n);
        context_add_word(ctx, &w);
    }
    return ctx;
}

TEST_F(ContextTest, SpellingsThatDifferInCaseShareOneGlobalSlot) {
    Cell lower = load_word("twin-value");
    Cell upper = load_word("Twin-Value");
    EXPECT_NE(word_symbol(&lower), word_symbol(&upper));
    EXPECT_EQ(word_index(&lower), word_index(&upper));
    Cell v = int_v(42);
    set_word_value(&upper, &v);
    EXPECT_EQ(get_int(get_word_value_ptr(&lower)), 42);
    // Each word keeps its own spelling.
    EXPECT_EQ(mold(&upper), "Twin-Value");
    EXPECT_EQ(mold(&lower), "twin-value");

    // A spelling interned before its word exists shares the slot too.
    Cell first = load_word("spelled-once");
    u32 other = rt::make_symbol("SPELLED-ONCE");
    Cell later = word_from_symbol(other);
    EXPECT_EQ(word_index(&later), word_index(&first));
    EXPECT_EQ(word_symbol(&later), other);
    // However a spelling comes in, again and again, it keeps that slot.
    u32 twin = rt::make_symbol("Came-First");
    u32 plain = rt::make_symbol("came-first");
    Cell a = word_from_symbol(twin);
    Cell b = word_from_symbol(plain);
    Cell c = word_from_symbol(plain);
    Cell d = load_word("CAME-FIRST");
    EXPECT_EQ(word_index(&b), word_index(&a));
    EXPECT_EQ(word_index(&c), word_index(&a));
    EXPECT_EQ(word_index(&d), word_index(&a));
}

TEST_F(ContextTest, FindingWordsWithAndWithoutCase) {
    Node ctx = object_context_with({"alpha", "beta"});
    EXPECT_EQ(find_word_in_context(ctx, sym("beta"), false), 1);
    EXPECT_EQ(find_word_in_context(ctx, sym("BETA"), true), 1);
    EXPECT_EQ(find_word_in_context(ctx, sym("BETA"), false), -1);
    EXPECT_EQ(find_word_in_context(ctx, sym("gamma"), true), -1);
    i32 added = -1;
    EXPECT_EQ(context_find_symbol(ctx, sym("gamma"), true, &added), -1);
    EXPECT_EQ(added, 2);
    EXPECT_EQ(context_word_count(ctx), 3u);
    EXPECT_EQ(context_value_count(ctx), 3u);  // a value for every word
    Cell again = word_v("Gamma");
    EXPECT_EQ(context_add_word(ctx, &again), 2);
    EXPECT_EQ(context_word_count(ctx), 3u);
}

TEST_F(ContextTest, BindingKeepsTheWordsSpelling) {
    Node ctx = object_context_with({"alpha"});
    Cell w = word_v("ALPHA");
    EXPECT_EQ(bind_word(ctx, &w), 0);
    EXPECT_EQ(word_context(&w), ctx);
    EXPECT_EQ(word_symbol(&w), sym("ALPHA"));
    Cell missing = word_v("omega");
    Cell before = missing;
    EXPECT_EQ(bind_word(ctx, &missing), -1);
    EXPECT_EQ(missing.data1, before.data1);
}

TEST_F(ContextTest, BindingABlockGoesDeepAndLeavesIssuesAlone) {
    Node ctx = object_context_with({"a", "b"});
    Cell issue;
    set_cell(&issue, T_ISSUE, g_global_context, sym("a"), u32(-1));
    Cell inner = blk_v({word_v("b"), blk_v({get_v("a")}, T_PAREN)});
    Cell path = blk_v({word_v("a"), word_v("b")}, T_PATH);
    Cell* b = blk({set_v("a"), issue, inner, path, word_v("self"), lit_v("self"), word_v("other")});
    bind_block(b, ctx, true);
    auto at_ = [&](const Cell* block, i32 i) { return ks_abs_at(block, i); };
    EXPECT_EQ(word_context(at_(b, 0)), ctx);
    EXPECT_EQ(word_index(at_(b, 0)), 0);
    EXPECT_EQ(word_context(at_(b, 1)), g_global_context);  // the issue is never bound
    EXPECT_EQ(word_index(at_(b, 1)), -1);
    Cell* in = at_(b, 2);
    EXPECT_EQ(word_index(at_(in, 0)), 1);
    EXPECT_EQ(word_context(at_(at_(in, 1), 0)), ctx);  // inside the paren
    EXPECT_EQ(word_index(at_(at_(b, 3), 1)), 1);        // inside the path
    // self binds to the context with index -1; a lit-word self binds only as a field would.
    EXPECT_EQ(word_context(at_(b, 4)), ctx);
    EXPECT_EQ(word_index(at_(b, 4)), -1);
    EXPECT_NE(word_context(at_(b, 5)), ctx);
    EXPECT_NE(word_context(at_(b, 6)), ctx);
}

TEST_F(ContextTest, BindingABlockThatHoldsItselfEnds) {
    Node ctx = object_context_with({"a"});
    Cell* b = blk({word_v("a")});
    Cell self_ref = *b;
    ks_append(b, &self_ref);
    bind_block(b, ctx, false);
    EXPECT_EQ(word_context(ks_abs_at(b, 0)), ctx);
    EXPECT_EQ(rt::cycles_depth(), 0u);
}

TEST_F(ContextTest, ReadingAndWritingSlots) {
    Cell obj;
    make_object_at(&obj, 4);
    Node ctx = object_context(&obj);
    Cell a = word_v("a");
    Cell v = int_v(7);
    context_put_word(ctx, &a, &v);
    Cell bound = a;
    bind_word(ctx, &bound);
    EXPECT_EQ(get_int(get_word_value_ptr(&bound)), 7);

    // `self` unbound to a slot reads the object; any other word so is an error.
    Cell self = word_v("self");
    self.data1 = ctx;
    self.data3 = u32(-1);
    EXPECT_EQ(object_context(get_word_value_ptr(&self)), ctx);
    Cell loose = word_v("a");
    loose.data1 = ctx;
    loose.data3 = u32(-1);
    EXPECT_EQ(catch_error([&] { get_word_value_ptr(&loose); }), rt::Err::script_no_value);

    // context-add-word-value keeps a present value.
    Cell other = int_v(9);
    context_add_word_value(ctx, &a, &other);
    EXPECT_EQ(get_int(get_word_value_ptr(&bound)), 7);
    Cell* pushed = get_in_context(ctx, 0);
    EXPECT_EQ(get_int(pushed), 7);
}

TEST_F(ContextTest, ArgumentContextsHaveValuesOnlyDuringACall) {
    Cell* spec = blk({word_v("x"), ref_v("only"), word_v("y")});
    Node ctx = make_context_from_spec(spec, true, false, CTX_ARGS);
    EXPECT_EQ(context_word_count(ctx), 3u);
    Cell x = *context_word_at(ctx, 0);
    Cell v = int_v(1);
    EXPECT_EQ(catch_error([&] { get_word_value_ptr(&x); }), rt::Err::script_not_in_context);
    EXPECT_EQ(catch_error([&] { set_word_in_context(&x, &v, ctx, false); }), rt::Err::script_not_defined);
    EXPECT_EQ(catch_error([&] { get_in_context(ctx, 1); }), rt::Err::script_not_defined);

    // A call points the context at its argument cells.
    Cell* args = rt::stack_push(&v);
    rt::stack_push(&g_true_cell);
    context_cell(ctx)->data2 = rt::off_of(args);
    Cell two = int_v(2);
    set_word_in_context(&x, &two, ctx, false);
    EXPECT_EQ(get_int(args), 2);
    EXPECT_EQ(type_of(get_word_value_ptr(context_word_at(ctx, 1))), T_LOGIC);
    context_cell(ctx)->data2 = 0;
}

TEST_F(ContextTest, ObjectFieldsGetTheChangedMark) {
    Cell obj;
    make_object_at(&obj, 4);
    Node ctx = object_context(&obj);
    Cell a = word_v("a"), b = word_v("b");
    context_add_word(ctx, &a);
    context_add_word(ctx, &b);
    Cell v = int_v(5);
    bind_word(ctx, &b);
    set_word_value(&b, &v);
    EXPECT_FALSE(context_word_at(ctx, 0)->header & CHANGED_MARK);
    EXPECT_TRUE(context_word_at(ctx, 1)->header & CHANGED_MARK);
    // An unbound word is looked up (exact spelling) and added when missing.
    Cell c = word_v("c");
    c.data3 = u32(-1);
    set_word_in_context(&c, &v, ctx, true);
    EXPECT_EQ(context_word_count(ctx), 3u);
    EXPECT_TRUE(context_word_at(ctx, 2)->header & CHANGED_MARK);
}

TEST_F(ContextTest, BindSetWordsAddsOnlyNewNames) {
    Node ctx = object_context_with({"a"});
    Cell* b = blk({set_v("A"), int_v(1), set_v("b"), word_v("c")});
    EXPECT_TRUE(bind_set_words(ctx, b));
    EXPECT_EQ(context_word_count(ctx), 2u);
    EXPECT_FALSE(bind_set_words(ctx, b));
}

TEST_F(ContextTest, CloningRepointsTheWordsAndCopiesTheValues) {
    Cell obj;
    make_object_at(&obj, 2);
    Node src = object_context(&obj);
    Cell a = word_v("a");
    Cell v = int_v(3);
    context_put_word(src, &a, &v);
    Cell copy = obj;
    Node ctx = clone_context(&copy, CTX_OBJECT);
    EXPECT_NE(ctx, src);
    EXPECT_EQ(copy.data1, ctx);
    EXPECT_EQ(word_context(context_word_at(ctx, 0)), ctx);
    EXPECT_EQ(get_int(context_values(ctx)), 3);
    EXPECT_EQ(find_word_in_context(ctx, sym("A"), true), 0);
    Cell w = int_v(4);
    context_put_word(ctx, &a, &w);
    EXPECT_EQ(get_int(context_values(src)), 3);
}

TEST_F(ContextTest, SymbolsCompareByName) {
    Cell* a = rt::symbol_cell(sym("apple"));
    Cell* b = rt::symbol_cell(sym("APPLE"));
    Cell* c = rt::symbol_cell(sym("banana"));
    EXPECT_TRUE(ev::compare(a, b, ev::OP_EQUAL));
    EXPECT_FALSE(ev::compare(a, b, ev::OP_STRICT_EQUAL));
    EXPECT_TRUE(ev::compare(a, c, ev::OP_LESSER));
    Cell s = symbol_to_string(sym("apple"));
    EXPECT_EQ(text_of(&s), "apple");
}

// The field cache answers what find_word_in_context answers, with the context's own values
// and word block nodes, whatever happened to the context since the entry was made.
i32 cached_index(Node ctx, const char* name) {
    const FieldCacheEntry* f = find_field(ctx, sym(name));
    if (f) {
        EXPECT_EQ(f->values, context_cell(ctx)->data2);
        EXPECT_EQ(f->words, context_words_node(ctx));
    }
    return f ? f->index : -1;
}

TEST_F(ContextTest, FieldCacheFollowsGrowthTwinsAndCollections) {
    Node ctx = object_context_with({"alpha", "beta"});
    rt::gc_register_node_root(&ctx);
    EXPECT_EQ(cached_index(ctx, "beta"), 1);
    EXPECT_EQ(cached_index(ctx, "beta"), 1);  // from the cache
    EXPECT_EQ(cached_index(ctx, "BETA"), 1);  // a case twin, cached under its own symbol
    EXPECT_EQ(cached_index(ctx, "BETA"), 1);
    EXPECT_EQ(cached_index(ctx, "gamma"), -1);
    // Growing moves the word block and the values; the cached indexes still hold, and a
    // field missing before is found once added.
    for (i32 i = 0; i < 200; ++i) {
        Cell w = word_v(("grown-" + std::to_string(i)).c_str());
        context_add_word(ctx, &w);
    }
    Cell g = word_v("gamma");
    context_add_word(ctx, &g);
    EXPECT_EQ(cached_index(ctx, "beta"), 1);
    EXPECT_EQ(cached_index(ctx, "gamma"), 202);
    // A collection, which may renumber and reuse nodes, empties the cache; the entries made
    // afresh name the context's nodes as they are now.
    rt::gc_collect();
    for (const FieldCacheEntry& e : g_field_cache) EXPECT_EQ(e.ctx, 0u);
    EXPECT_EQ(cached_index(ctx, "gamma"), 202);
    EXPECT_EQ(cached_index(ctx, "alpha"), 0);
    // Argument contexts are never entered: their values move with every call.
    Cell* spec = blk({word_v("x")});
    Node args = make_context_from_spec(spec, true, false, CTX_ARGS);
    EXPECT_EQ(find_field(args, sym("x")), nullptr);
    rt::gc_unregister_node_root(&ctx);
}

}  // namespace
}  // namespace kel::test
