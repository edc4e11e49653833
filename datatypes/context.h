// Symbols, contexts and binding.
//
// A context maps symbols to value slots. Its node is a series of exactly two cells:
//
//   [0] the context cell: header context! with the kind in bits 11-12, 0x400000 when the
//       values live on the argument stack, 0x1000000 a flag kept by clones and serialisation;
//       data1 the node of its word table (a symbols-kind hash table over a block of word
//       cells, one per symbol in order of addition: word i carries this context, its symbol
//       and i); data2 the node of the values series (same order) or, for an argument context,
//       the arena offset of the running call's first argument cell (0 while no call runs).
//   [1] the owner cell: the function! or object! the context belongs to (unset! otherwise).
//
// Kinds: 0 the global context, 1 argument contexts of natives, actions, functions and
// routines, 2 object contexts (objects, errors, ports).
//
// Words find their slots without regard to case through the symbols' case-folded twins; a
// bound word keeps its own spelling. Assigning a field of an object context marks the
// context's word for it with 0x2000 (the changed mark).
//
// Every operation that adds a word may move the word table and the values: take Cell*
// into a context for immediate use only.
#pragma once
#include "runtime/cell.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"

namespace kel::dt {

enum ContextKind : u32 { CTX_GLOBAL = 0, CTX_ARGS = 1, CTX_OBJECT = 2 };

constexpr u32 CTX_KIND_SHIFT = 11;
constexpr u32 CTX_KIND_MASK = 0x1800;
constexpr u32 CTX_ON_STACK = 0x400000;
constexpr u32 CTX_FLAG24 = 0x1000000;
// The context's object owns its series (set by ownership-bind).
constexpr u32 CTX_OWNS_SERIES = 0x10000;
// Header flag of a context's word: the field has been assigned.
constexpr u32 CHANGED_MARK = 0x2000;

// The global context (4000 slots at start-up), 0 before context_init.
extern Node g_global_context;

// The global context's values as a raw window, for the evaluator's commonest lookup. Kept
// current wherever that series moves or grows: words added to the global context, and the
// end of every collection. Nothing else edits it (the context never hands its values series
// out), so between those points it is exact: global words reach their slots without
// following the context's nodes.
struct GlobalValuesView {
    Cell* cells;
    u32 length;
};
extern GlobalValuesView g_global_values_view;

// Makes the global context and installs the word loader and the value readers that other
// modules call through hooks. Idempotent. Needs the symbol table.
void context_init();

// ---- the two cells --------------------------------------------------------------------

inline Cell* context_cell(Node ctx) { return rt::cells_of(rt::buffer_of(ctx)); }
inline Cell* context_owner(Node ctx) { return context_cell(ctx) + 1; }
inline u32 context_kind(Node ctx) { return (context_cell(ctx)->header & CTX_KIND_MASK) >> CTX_KIND_SHIFT; }
inline bool context_on_stack(Node ctx) { return (context_cell(ctx)->header & CTX_ON_STACK) != 0; }
// The node a word's data1 names: 0 stands for the global context.
inline Node word_context_node(const Cell* w) { return word_context(w) ? word_context(w) : g_global_context; }

// The word table's node and the block of its word cells.
Node context_table(Node ctx);
Node context_words_node(Node ctx);
u32 context_word_count(Node ctx);
// context-value-at / context-value-by-index: the context's word cell at index i.
Cell* context_word_at(Node ctx, i32 i);
// The first value cell (argument stack or values series); null when an argument context
// has no running call.
Cell* context_values(Node ctx);
// The values a context holds (its words, or the values series' length when shorter).
u32 context_value_count(Node ctx);

// ---- making contexts ------------------------------------------------------------------

// make-context: `slots` (0 taken as 1) of room; an argument context (on_stack) gets no
// values until a call runs; `source` (or null) is a block of word cells taken as the word
// table's block.
Node make_context(u32 slots, bool on_stack, bool flag24, const Cell* source, u32 kind);
// make-context-from-spec: every word!, lit-word!, get-word! and refinement! of the spec
// block from its head, in order (set-words such as return: and other values skipped).
Node make_context_from_spec(const Cell* spec, bool on_stack, bool flag24, u32 kind);
// clone-context: a new context of `kind` with the source's words (re-pointed to it), its
// flags and, for an ordinary context, copies of its values. The object cell's data1 is
// re-pointed to the new context, which is answered.
Node clone_context(Cell* object, u32 kind);

// ---- finding and adding words ---------------------------------------------------------

// find-word-in-context: the index of the symbol (or of a case variant when
// `case_insensitive`), or -1.
i32 find_word_in_context(Node ctx, u32 symbol, bool case_insensitive);
// Where an object's field lives, by context and symbol, for object paths, which look fields
// up at every access: a small direct-mapped cache whose entries hold the field's index with
// the context's values and word block nodes, so that a hit reaches the slot with no look-up
// and no walk through the context cell. Between two collections an object context keeps its
// node, its values and word block nodes (growth re-points their buffers, not them) and its
// words' order (words are only ever appended), so a hit is exact; every collection, which may
// renumber and reuse nodes, empties the cache. Only contexts that hold their own values are
// entered (not argument contexts).
struct FieldCacheEntry {
    Node ctx;
    u32 symbol;  // the symbol asked for (a case twin of the word's is entered on its own)
    Node values;
    Node words;
    i32 index;
};
constexpr u32 FIELD_CACHE_BITS = 8;
extern FieldCacheEntry g_field_cache[1u << FIELD_CACHE_BITS];
const FieldCacheEntry* find_field_slow(Node ctx, u32 symbol, FieldCacheEntry& entry);
// The entry for the field, or null when the context has no such word (or is an argument
// context). Good until the next allocation.
inline const FieldCacheEntry* find_field(Node ctx, u32 symbol) {
    FieldCacheEntry& e = g_field_cache[((ctx * 0x9E3779B1u) ^ (symbol * 0x85EBCA77u)) >> (32 - FIELD_CACHE_BITS)];
    if (e.ctx == ctx && e.symbol == symbol) return &e;
    return find_field_slow(ctx, symbol, e);
}
// Empties the field cache (after every collection).
void clear_field_cache();
// context-find-symbol: the index when present; else the symbol is added, its index written
// to *added and -1 answered.
i32 context_find_symbol(Node ctx, u32 symbol, bool case_insensitive, i32* added);
// context-add-word: the index of the word's symbol (case-insensitive), added when absent;
// an ordinary context gets one more unset! value.
i32 context_add_word(Node ctx, const Cell* word);
// add-global-word: the global context's word for the symbol, looked up ignoring case when
// `case_insensitive`. A known name asked for in another spelling (both flags set) answers a
// word of that spelling sharing the known slot; an added spelling whose symbol has a twin
// shares the twin's slot.
Cell add_global_word(u32 symbol, bool case_insensitive, bool keep_spelling);
// word-from-symbol: add_global_word(symbol, false, true).
Cell word_from_symbol(u32 symbol);
// load-word: interns the name and answers its global word (both flags set).
Cell load_word(const char* name);
// make-word-at: `c` becomes a word! of the global context for the symbol.
Cell* make_word_at(Cell* c, u32 symbol);
// find-or-add-word: the context's word for the symbol, or a new global word.
Cell find_or_add_word(Node ctx, u32 symbol);

// ---- reading and writing slots --------------------------------------------------------

// get-word-value-ptr: the slot the word denotes. An unbound word (index -1) other than
// `self` raises script/no-value; `self` answers the owner cell of its context. An argument
// context outside a call raises script/not-in-context.
Cell* get_word_value_ptr(const Cell* word);
inline Cell* get_value_of_word(const Cell* word) { return get_word_value_ptr(word); }
// The word's value, or null when it has none (unbound, no call, or unset!).
const Cell* word_value_or_null(const Cell* word);
// context-put-word: stores the value in the slot of the word's symbol (case-insensitive),
// adding the symbol when absent.
void context_put_word(Node ctx, const Cell* word, const Cell* value);
// context-add-word-value: adds the symbol with the value only when absent.
void context_add_word_value(Node ctx, const Cell* word, const Cell* value);
// set-word-in-context: stores the value into the word's slot of `ctx` (an unbound word is
// looked up, and added when absent). Object fields get the changed mark; with `fire` an
// object with change handlers runs its on-change* with the word, the old and new values.
void set_word_in_context(const Cell* word, const Cell* value, Node ctx, bool fire);
// set-word-value: set_word_in_context in the word's own context, firing.
void set_word_value(const Cell* word, const Cell* value);
// get-in-context: pushes a copy of value i (script/not-defined without values).
Cell* get_in_context(Node ctx, i32 index);

// ---- binding --------------------------------------------------------------------------

// bind-word: binds the word when the context has its symbol; answers the index or -1.
i32 bind_word(Node ctx, Cell* word);
// bind-block: binds every word kind but issue! of the block from its head, deep through
// blocks, parens, paths and hash!; with `self`, a word! spelled `self` binds to the context
// with index -1. A block already being bound is skipped.
void bind_block(const Cell* block, Node ctx, bool self);
// bind-set-words: adds the symbol of every set-word! from the block's index; answers
// whether the context grew.
bool bind_set_words(Node ctx, const Cell* block);

// ---- symbols --------------------------------------------------------------------------

// symbol-to-string: a string! of the symbol's name (made once and kept by the symbol).
Cell symbol_to_string(u32 symbol);
// any-type-word?: the word's resolved symbol is that of any-type!.
bool any_type_word_q(const Cell* word);
// make-symbol-from-string: the symbol of a string's text from its head.
u32 make_symbol_from_string(const Cell* str);

}  // namespace kel::dt
