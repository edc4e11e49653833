// Symbols and the runtime's well-known names.
#include "runtime/symbols.h"

#include "runtime/gc.h"

#include <cstring>

#include "runtime/hashtable.h"
#include "runtime/series.h"
#include "runtime/stack.h"

namespace kel::rt {

void (*g_load_word_hook)(const char* name, Cell* out) = nullptr;

Node g_symbol_block = 0;
Node g_symbol_table = 0;

u32 g_runtime_symbols[SYM_COUNT];
Cell g_runtime_words[WORD_COUNT];
Cell g_refinement_words[REF_COUNT];
Cell g_ooo_issue;

namespace {

constexpr u32 SYMBOL_ROOM = 4000;

const char* const k_symbol_names[SYM_COUNT] = {
#define KEL_RUNTIME_SYMBOL(ident, name) name,
#define KEL_RUNTIME_WORD(ident, name)
#include "runtime/runtime_words.def"
#undef KEL_RUNTIME_SYMBOL
#undef KEL_RUNTIME_WORD
};

const char* const k_word_names[WORD_COUNT] = {
#define KEL_RUNTIME_SYMBOL(ident, name)
#define KEL_RUNTIME_WORD(ident, name) name,
#include "runtime/runtime_words.def"
#undef KEL_RUNTIME_SYMBOL
#undef KEL_RUNTIME_WORD
};

const char* const k_refinement_names[REF_COUNT] = {"local", "extern", "compare", "part", "skip", "with"};

// A global word for the name once words can be loaded; an unbound word before.
void make_word(const char* name, Cell* out) {
    if (g_load_word_hook) {
        g_load_word_hook(name, out);
        return;
    }
    set_cell(out, T_WORD, 0, make_symbol(name), u32(-1));
}

}  // namespace

namespace {

// The well-known word cells live in C++ arrays: the collector reaches them through a hook.
void mark_runtime_words() {
    mark_cells(g_runtime_words, g_runtime_words + WORD_COUNT);
    mark_cells(g_refinement_words, g_refinement_words + REF_COUNT);
    mark_value(&g_ooo_issue);
}

}  // namespace

void symbols_init() {
    if (g_symbol_table) return;
    g_symbol_block = alloc_cells(SYMBOL_ROOM);
    Cell block;
    set_cell(&block, T_BLOCK, 0, g_symbol_block, 0);
    g_symbol_table = hashtable_init(i32(SYMBOL_ROOM), &block, HASH_SYMBOLS);
    gc_register_node_root(&g_symbol_block);
    gc_register_node_root(&g_symbol_table);
    register_mark_hook(mark_runtime_words);
}

bool ascii_equal_ignoring_case(const u8* a, const u8* b, u32 n) {
    for (u32 i = 0; i < n; ++i)
        if (ascii_fold(a[i]) != ascii_fold(b[i])) return false;
    return true;
}

u32 make_symbol(const char* name) {
    return hashtable_find_string(g_symbol_table, reinterpret_cast<const u8*>(name), u32(std::strlen(name)), false);
}

u32 make_symbol_from_buffer(const u8* bytes, u32 length) {
    return hashtable_find_string(g_symbol_table, bytes, length, false);
}

u32 make_symbol_2(const char* name) {
    return hashtable_find_string(g_symbol_table, reinterpret_cast<const u8*>(name), u32(std::strlen(name)), true);
}

u32 symbol_count() { return g_symbol_block ? series_length(g_symbol_block) : 0; }

Cell* symbol_cell(u32 id) { return cells_of(buffer_of(g_symbol_block)) + (id - 1); }

u32 resolve_symbol_alias(u32 id) {
    if (id == 0 || id > symbol_count()) return id;
    i32 alias = i32(symbol_cell(id)->data1);
    return alias > 0 ? u32(alias) : id;
}

const char* symbol_name(u32 id) { return reinterpret_cast<const char*>(at(buffer_of(symbol_cell(id)->data3)->offset)); }

u32 symbol_name_length(u32 id) { return series_length(symbol_cell(id)->data3); }

const char* runtime_symbol_name(RuntimeSymbol s) { return k_symbol_names[s]; }
const char* runtime_word_name(RuntimeWord w) { return k_word_names[w]; }

void init_runtime_words() {
    for (u32 s = 0; s < SYM_COUNT; ++s) g_runtime_symbols[s] = make_symbol(k_symbol_names[s]);
    for (u32 w = 0; w < WORD_COUNT; ++w) make_word(k_word_names[w], &g_runtime_words[w]);
    g_sym_body = runtime_word_symbol(WORD_BODY);
    g_sym_anon = runtime_word_symbol(WORD_ANON);
}

void init_refinement_words() {
    for (u32 r = 0; r < REF_COUNT; ++r) {
        make_word(k_refinement_names[r], &g_refinement_words[r]);
        set_cell_type(&g_refinement_words[r], T_REFINEMENT);
    }
}

void init_ooo_word() {
    // An issue is never bound: it names the global context (as any loaded word does) with
    // index -1.
    Node global = g_runtime_words[WORD_AT].data1;
    set_cell(&g_ooo_issue, T_ISSUE, global, make_symbol("ooo"), u32(-1));
}

}  // namespace kel::rt
