// Symbols, contexts and binding; the symbol! and context! rows.
#include "datatypes/context.h"

#include <cstring>
#include <string>

#include "datatypes/datatype_init.h"
#include "datatypes/eval_hooks.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/typeset.h"
#include "datatypes/unit.h"
#include "datatypes/word.h"
#include "runtime/cycles.h"
#include "runtime/errors.h"
#include "runtime/gc.h"
#include "runtime/hashtable.h"
#include "runtime/series.h"
#include "runtime/stack.h"
#include "runtime/symbols.h"
#include "runtime/unicode.h"

namespace kel::dt {

using namespace rt;

Node g_global_context = 0;
GlobalValuesView g_global_values_view = {nullptr, 0};

namespace {

constexpr u32 GLOBAL_SLOTS = 4000;

void refresh_global_values_view() {
    if (!g_global_context) return;
    SeriesBuffer* vb = buffer_of(context_cell(g_global_context)->data2);
    g_global_values_view = {cells_of(vb), (vb->tail - vb->offset) >> 4};
}

// Appends a word cell for `symbol` to the word table and indexes it; an ordinary context
// gets one unset! value for it. Answers the new index.
i32 append_word(Node ctx, u32 symbol) {
    Node table = context_table(ctx);
    Node words = hashtable_of(table)->block;
    i32 index = i32(series_length(words));
    Cell* w = block_alloc_tail(words);
    set_cell(w, T_WORD, ctx, symbol, u32(index));
    hashtable_put(table, u32(index));
    if (!context_on_stack(ctx)) {
        Node values = context_cell(ctx)->data2;
        set_cell(block_alloc_tail(values), T_UNSET);
        if (ctx == g_global_context) refresh_global_values_view();
    }
    return index;
}

[[noreturn]] void raise_with_word(Err e, const Cell* word) {
    Cell w = *word;
    raise_error(e, &w);
}

}  // namespace

// ---- the two cells --------------------------------------------------------------------

Node context_table(Node ctx) { return context_cell(ctx)->data1; }

Node context_words_node(Node ctx) { return hashtable_of(context_table(ctx))->block; }

u32 context_word_count(Node ctx) { return series_length(context_words_node(ctx)); }

Cell* context_word_at(Node ctx, i32 i) { return cells_of(buffer_of(context_words_node(ctx))) + i; }

Cell* context_values(Node ctx) {
    Cell* c = context_cell(ctx);
    if (c->header & CTX_ON_STACK) return c->data2 ? at<Cell>(c->data2) : nullptr;
    return cells_of(buffer_of(c->data2));
}

u32 context_value_count(Node ctx) {
    Cell* c = context_cell(ctx);
    u32 words = context_word_count(ctx);
    if (c->header & CTX_ON_STACK) return c->data2 ? words : 0;
    u32 values = series_length(c->data2);
    return values < words ? values : words;
}

// ---- making contexts ------------------------------------------------------------------

Node make_context(u32 slots, bool on_stack, bool flag24, const Cell* source, u32 kind) {
    if (slots == 0) slots = 1;
    Node ctx = alloc_cells(2);
    {
        SeriesBuffer* b = buffer_of(ctx);
        Cell* c = cells_of(b);
        set_cell(&c[0], T_UNSET);
        set_cell(&c[1], T_UNSET);
        b->tail = b->offset + 2 * sizeof(Cell);
    }
    Node table = hashtable_init(i32(slots), source && type_of(source) == T_BLOCK ? source : nullptr, HASH_SYMBOLS);
    Node values = 0;
    if (!on_stack) {
        values = alloc_cells(slots);
        // One value per word already in the table, so that indexes stay in step.
        u32 words = series_length(hashtable_of(table)->block);
        SeriesBuffer* vb = buffer_of(values);
        for (u32 i = 0; i < words; ++i) set_cell(buffer_alloc_tail(vb), T_UNSET);
    }
    u32 header = T_CONTEXT | ((kind << CTX_KIND_SHIFT) & CTX_KIND_MASK) | (on_stack ? CTX_ON_STACK : 0) |
                 (flag24 ? CTX_FLAG24 : 0);
    set_cell(context_cell(ctx), header, table, values, 0);
    return ctx;
}

Node make_context_from_spec(const Cell* spec, bool on_stack, bool flag24, u32 kind) {
    Cell s = *spec;
    i32 len = series_length(series_node(&s));
    Node ctx = make_context(u32(len > 0 ? len : 1), on_stack, flag24, nullptr, kind);
    for (i32 i = 0; i < len; ++i) {
        Cell item = cells_of(buffer_of(series_node(&s)))[i];
        switch (type_of(&item)) {
            case T_WORD: case T_LIT_WORD: case T_GET_WORD: case T_REFINEMENT:
                if (find_word_in_context(ctx, word_symbol(&item), true) < 0) append_word(ctx, word_symbol(&item));
                break;
            default: break;
        }
    }
    return ctx;
}

Node clone_context(Cell* object, u32 kind) {
    Node src = object->data1;
    Cell* sc = context_cell(src);
    bool on_stack = (sc->header & CTX_ON_STACK) != 0;
    bool flag24 = (sc->header & CTX_FLAG24) != 0;
    u32 count = context_word_count(src);
    Node ctx = make_context(count, on_stack, flag24, nullptr, kind);
    // The copy's words are the source's, re-pointed; the table is copied over them.
    Node words = alloc_cells(count ? count : 1);
    {
        SeriesBuffer* wb = buffer_of(words);
        Cell* from = cells_of(buffer_of(context_words_node(src)));
        Cell* to = cells_of(wb);
        for (u32 i = 0; i < count; ++i) {
            to[i] = from[i];
            to[i].data1 = ctx;
            to[i].data3 = i;
        }
        wb->tail = wb->offset + count * sizeof(Cell);
    }
    Node table = hashtable_copy(context_table(src), words);
    context_cell(ctx)->data1 = table;
    if (!on_stack) {
        Node values = context_cell(ctx)->data2;
        u32 n = context_value_count(src);
        for (u32 i = 0; i < n; ++i) {
            Cell v = context_values(src)[i];
            *block_alloc_tail(values) = v;
        }
        for (u32 i = n; i < count; ++i) set_cell(block_alloc_tail(values), T_UNSET);
    }
    object->data1 = ctx;
    return ctx;
}

// ---- finding and adding words ---------------------------------------------------------

i32 find_word_in_context(Node ctx, u32 symbol, bool case_insensitive) {
    return hashtable_find_symbol(context_table(ctx), symbol, case_insensitive);
}

FieldCacheEntry g_field_cache[1u << FIELD_CACHE_BITS];

const FieldCacheEntry* find_field_slow(Node ctx, u32 symbol, FieldCacheEntry& entry) {
    Cell* c = context_cell(ctx);
    if ((c->header & CTX_ON_STACK) || !c->data2) return nullptr;
    i32 i = find_word_in_context(ctx, symbol, true);
    if (i < 0) return nullptr;
    entry = {ctx, symbol, c->data2, context_words_node(ctx), i};
    return &entry;
}

void clear_field_cache() { std::memset(g_field_cache, 0, sizeof g_field_cache); }

i32 context_find_symbol(Node ctx, u32 symbol, bool case_insensitive, i32* added) {
    i32 i = find_word_in_context(ctx, symbol, case_insensitive);
    if (i >= 0) return i;
    *added = append_word(ctx, symbol);
    return -1;
}

i32 context_add_word(Node ctx, const Cell* word) {
    u32 symbol = word_symbol(word);
    i32 i = find_word_in_context(ctx, symbol, true);
    return i >= 0 ? i : append_word(ctx, symbol);
}

Cell add_global_word(u32 symbol, bool case_insensitive, bool keep_spelling) {
    Node g = g_global_context;
    // Every loaded word comes here: one walk of the table answers both look-ups.
    i32 exact, first;
    hashtable_find_symbol_both(context_table(g), symbol, &exact, &first);
    i32 i = case_insensitive ? first : exact;
    i32 added = i >= 0 ? -1 : append_word(g, symbol);
    Cell w = *context_word_at(g, i >= 0 ? i : added);
    // Another spelling of a known name: that spelling, sharing the slot.
    if (i >= 0 && case_insensitive && keep_spelling) w.data2 = symbol;
    // Spellings that differ only by case share the slot of the first one entered, however
    // each came in. A word just added goes after every entry on its probe path (word
    // tables never delete, and growth re-enters in entry order), so an earlier variant
    // stays first.
    if (first < 0) first = added;
    if (first >= 0) w.data3 = u32(first);
    return w;
}

Cell word_from_symbol(u32 symbol) { return add_global_word(symbol, false, true); }

Cell load_word(const char* name) { return add_global_word(make_symbol(name), true, true); }

Cell* make_word_at(Cell* c, u32 symbol) {
    Cell w;
    set_cell(&w, T_WORD, g_global_context, symbol, 0);
    w.data3 = u32(context_add_word(g_global_context, &w));
    *c = w;
    return c;
}

Cell find_or_add_word(Node ctx, u32 symbol) {
    i32 i = find_word_in_context(ctx, symbol, true);
    if (i >= 0) {
        Cell w = *context_word_at(ctx, i);
        w.data2 = symbol;
        return w;
    }
    return word_from_symbol(symbol);
}

// ---- reading and writing slots --------------------------------------------------------

Cell* get_word_value_ptr(const Cell* word) {
    Node ctx = word_context_node(word);
    i32 index = word_index(word);
    if (index < 0) {
        if (word_symbol(word) == runtime_symbol(SYM_SELF)) return context_owner(ctx);
        raise_with_word(Err::script_no_value, word);
    }
    Cell* c = context_cell(ctx);
    if (c->header & CTX_ON_STACK) {
        if (!c->data2) raise_with_word(Err::script_not_in_context, word);
        return at<Cell>(c->data2) + index;
    }
    // A stale index (a word from another state of the context) has no slot to read.
    if (u32(index) >= series_length(c->data2)) raise_with_word(Err::script_no_value, word);
    return cells_of(buffer_of(c->data2)) + index;
}

const Cell* word_value_or_null(const Cell* word) {
    if (!is_any_word_type(type_of(word)) || !g_global_context) return nullptr;
    Node ctx = word_context_node(word);
    i32 index = word_index(word);
    if (index < 0) {
        if (type_of(word) == T_ISSUE) return nullptr;
        index = find_word_in_context(ctx, word_symbol(word), true);
        if (index < 0) return nullptr;
    }
    Cell* c = context_cell(ctx);
    const Cell* v;
    if (c->header & CTX_ON_STACK) {
        if (!c->data2) return nullptr;
        v = at<Cell>(c->data2) + index;
    } else {
        if (u32(index) >= series_length(c->data2)) return nullptr;
        v = cells_of(buffer_of(c->data2)) + index;
    }
    return type_of(v) == T_UNSET ? nullptr : v;
}

void context_put_word(Node ctx, const Cell* word, const Cell* value) {
    Cell v = *value;
    i32 i = context_add_word(ctx, word);
    Cell* values = context_values(ctx);
    if (!values) raise_with_word(Err::script_not_defined, word);
    values[i] = v;
}

void context_add_word_value(Node ctx, const Cell* word, const Cell* value) {
    if (find_word_in_context(ctx, word_symbol(word), true) >= 0) return;
    context_put_word(ctx, word, value);
}

void set_word_in_context(const Cell* word, const Cell* value, Node ctx, bool fire) {
    Cell w = *word;
    Cell v = *value;
    i32 index = word_index(&w);
    if (index < 0) {
        index = find_word_in_context(ctx, word_symbol(&w), false);
        if (index < 0) index = context_add_word(ctx, &w);
    }
    Cell* c = context_cell(ctx);
    if (c->header & CTX_ON_STACK) {
        if (!c->data2) raise_with_word(Err::script_not_defined, &w);
        at<Cell>(c->data2)[index] = v;
        return;
    }
    if (!c->data2 || u32(index) >= series_length(c->data2)) raise_with_word(Err::script_not_defined, &w);
    Cell* slot = cells_of(buffer_of(c->data2)) + index;
    if (((c->header & CTX_KIND_MASK) >> CTX_KIND_SHIFT) != CTX_OBJECT) {
        *slot = v;
        return;
    }
    context_word_at(ctx, index)->header |= CHANGED_MARK;
    Cell* owner = context_owner(ctx);
    if (!fire || !is_object_type(type_of(owner)) || !owner->data3) {
        *slot = v;
        return;
    }
    // The handler sees the new value in the field, the old one as its argument.
    Cell* saved_top = g_args.top;
    Cell* old = stack_push(slot);
    *slot = v;
    Cell obj = *owner;
    Cell* o = stack_push(&obj);
    Cell* nv = stack_push(&v);
    Cell* wc = stack_push(&w);
    call_object_handler(o, wc, old, nv);
    g_args.top = saved_top;
}

void set_word_value(const Cell* word, const Cell* value) {
    set_word_in_context(word, value, word_context_node(word), true);
}

Cell* get_in_context(Node ctx, i32 index) {
    Cell* values = context_values(ctx);
    if (!values || u32(index) >= context_value_count(ctx)) {
        Cell w = *context_word_at(ctx, index);
        raise_error(Err::script_not_defined, &w);
    }
    Cell v = values[index];
    return stack_push(&v);
}

// ---- binding --------------------------------------------------------------------------

i32 bind_word(Node ctx, Cell* word) {
    i32 i = find_word_in_context(ctx, word_symbol(word), true);
    if (i >= 0) {
        word->data1 = ctx;
        word->data3 = u32(i);
    }
    return i;
}

namespace {

void bind_cells(Node node, i32 head, Node ctx, bool self, u32 self_symbol) {
    if (cycles_find(node)) return;
    CyclesScope scope;
    cycles_push(node);
    for (i32 i = head < 0 ? 0 : head; u32(i) < series_length(node); ++i) {
        Cell* item = cells_of(buffer_of(node)) + i;
        switch (type_of(item)) {
            case T_WORD:
                if (self && item->data2 == self_symbol) {
                    item->data1 = ctx;
                    item->data3 = u32(-1);
                    break;
                }
                [[fallthrough]];
            case T_SET_WORD: case T_LIT_WORD: case T_GET_WORD: case T_REFINEMENT: {
                i32 k = find_word_in_context(ctx, word_symbol(item), true);
                if (k >= 0) {
                    item = cells_of(buffer_of(node)) + i;
                    item->data1 = ctx;
                    item->data3 = u32(k);
                }
                break;
            }
            case T_BLOCK: case T_PAREN: case T_PATH: case T_LIT_PATH: case T_SET_PATH: case T_GET_PATH:
            case T_HASH:
                bind_cells(series_node(item), series_head(item), ctx, self, self_symbol);
                break;
            default: break;
        }
    }
}

}  // namespace

void bind_block(const Cell* block, Node ctx, bool self) {
    Cell b = *block;
    bind_cells(series_node(&b), series_head(&b), ctx, self, runtime_symbol(SYM_SELF));
}

bool bind_set_words(Node ctx, const Cell* block) {
    Cell b = *block;
    u32 before = context_word_count(ctx);
    for (i32 i = series_head(&b) < 0 ? 0 : series_head(&b); u32(i) < series_length(series_node(&b)); ++i) {
        Cell item = cells_of(buffer_of(series_node(&b)))[i];
        if (type_of(&item) == T_SET_WORD) context_add_word(ctx, &item);
    }
    return context_word_count(ctx) > before;
}

// ---- symbols --------------------------------------------------------------------------

Cell symbol_to_string(u32 symbol) {
    Cell s;
    if (Node n = symbol_cell(symbol)->data2) {
        set_cell(&s, T_STRING, 0, n, 0);
        return s;
    }
    Cell* slot = push_string(symbol_name_length(symbol));
    append_utf8(slot, symbol_name(symbol));
    s = *slot;
    stack_pop(1);
    symbol_cell(symbol)->data2 = series_node(&s);
    return s;
}

bool any_type_word_q(const Cell* word) {
    return resolve_symbol_alias(word_symbol(word)) == resolve_symbol_alias(runtime_symbol(SYM_ANY_TYPE));
}

u32 make_symbol_from_string(const Cell* str) {
    std::string utf8;
    u32 n = string_length(str);
    for (u32 i = 0; i < n; ++i) {
        u8 buf[4];
        u32 k = utf8_encode_char(string_char_at(str, i), buf);
        utf8.append(reinterpret_cast<const char*>(buf), k);
    }
    return make_symbol_from_buffer(reinterpret_cast<const u8*>(utf8.data()), u32(utf8.size()));
}

// ---- start-up -------------------------------------------------------------------------

namespace {

void load_word_hook(const char* name, Cell* out) { *out = load_word(name); }

const Cell* word_value_hook(const Cell* word) { return word_value_or_null(word); }

}  // namespace

void context_init() {
    if (g_global_context) return;
    g_global_context = make_context(GLOBAL_SLOTS, false, false, nullptr, CTX_GLOBAL);
    gc_register_node_root(&g_global_context);
    refresh_global_values_view();
    register_after_collect_hook(refresh_global_values_view);
    register_after_collect_hook(clear_field_cache);
    // The evaluator's position cell: errors copy it into their `near` field.
    gc_register_cell_root(&g_eval_cell);
    g_load_word_hook = load_word_hook;
    g_word_value_hook = word_value_hook;
}

// ---- symbol! and context! -------------------------------------------------------------

namespace {

// A symbol cell's name (data3: its UTF-8 bytes) as a new string! on the stack.
Cell* push_symbol_name(const Cell* sym) {
    Node bytes = sym->data3;
    u32 n = series_length(bytes);
    std::string copy(reinterpret_cast<const char*>(at(buffer_of(bytes)->offset)), n);
    return load_string(reinterpret_cast<const u8*>(copy.data()), n, 0);
}

i32 symbol_compare(Cell* v1, Cell* v2, i32 op) {
    if (type_of(v2) != T_SYMBOL) return -2;
    Cell a = *v1, b = *v2;
    Cell* pa = push_symbol_name(&a);
    Cell* pb = push_symbol_name(&b);
    i32 r = compare_string_values(pa, pb, op, false);
    stack_pop(2);
    return r;
}

void init_symbol() {
    TypeRegistration r(T_SYMBOL, 0, "symbol!");
    r.set<A_COMPARE>(symbol_compare);
    register_datatype(r);
}

void init_context_type() { register_datatype(TypeRegistration(T_CONTEXT, 0, "context!")); }

}  // namespace

KEL_DATATYPE(T_SYMBOL, init_symbol);
KEL_DATATYPE(T_CONTEXT, init_context_type);

}  // namespace kel::dt
