// Symbols: interned names with 32-bit ids, and the well-known names of the runtime.
//
// The symbol block holds one symbol! cell per name; a symbol id is the 1-based position of
// its cell:
//   data1  alias: the id of the first-interned name equal to this one ignoring the case of
//          A-Z, or -1 when this name is that first spelling
//   data2  node of a string! of the name, made on first request (0 until then)
//   data3  node of a byte series holding the name in UTF-8, a NUL after its tail
// The symbol table (a symbols-kind hash table over the block) finds names by their bytes.
// A name that differs from a known one only in the case of A-Z is a new symbol (words keep
// their spelling) whose alias lets case-insensitive look-ups meet the first spelling. Only
// names of equal byte length are twins. Symbols are never removed.
#pragma once
#include "runtime/cell.h"
#include "runtime/types.h"

namespace kel::rt {

extern Node g_symbol_block;
extern Node g_symbol_table;

// Makes the symbol block (room for 4000) and the symbol table. Idempotent.
void symbols_init();

inline u8 ascii_fold(u8 b) { return (b >= 'A' && b <= 'Z') ? u8(b | 0x60) : b; }
bool ascii_equal_ignoring_case(const u8* a, const u8* b, u32 n);

// hashtable-find-string: the id of the name (interned when new). With `ci_only` one pass
// ignoring the case of A-Z answers the first such match.
u32 hashtable_find_string(Node table, const u8* name, u32 length, bool ci_only);
u32 make_symbol(const char* name);
u32 make_symbol_from_buffer(const u8* bytes, u32 length);
// The start-up's intern mode: any spelling of a known name answers that name's id.
u32 make_symbol_2(const char* name);
// The alias when set, else the id: two words denote the same name when these are equal.
u32 resolve_symbol_alias(u32 id);

// The number of symbols; ids run from 1 to it.
u32 symbol_count();
Cell* symbol_cell(u32 id);
// The name in UTF-8, NUL-terminated; its length in bytes.
const char* symbol_name(u32 id);
u32 symbol_name_length(u32 id);

// ---- well-known names -----------------------------------------------------------------

enum RuntimeSymbol : u16 {
#define KEL_RUNTIME_SYMBOL(ident, name) SYM_##ident,
#define KEL_RUNTIME_WORD(ident, name)
#include "runtime/runtime_words.def"
#undef KEL_RUNTIME_SYMBOL
#undef KEL_RUNTIME_WORD
    SYM_COUNT
};

enum RuntimeWord : u16 {
#define KEL_RUNTIME_SYMBOL(ident, name)
#define KEL_RUNTIME_WORD(ident, name) WORD_##ident,
#include "runtime/runtime_words.def"
#undef KEL_RUNTIME_SYMBOL
#undef KEL_RUNTIME_WORD
    WORD_COUNT
};

enum RefinementWord : u16 { REF_LOCAL, REF_EXTERN, REF_COMPARE, REF_PART, REF_SKIP, REF_WITH, REF_COUNT };

extern u32 g_runtime_symbols[SYM_COUNT];
extern Cell g_runtime_words[WORD_COUNT];
extern Cell g_refinement_words[REF_COUNT];
extern Cell g_ooo_issue;

inline u32 runtime_symbol(RuntimeSymbol s) { return g_runtime_symbols[s]; }
inline Cell* runtime_word(RuntimeWord w) { return &g_runtime_words[w]; }
inline u32 runtime_word_symbol(RuntimeWord w) { return g_runtime_words[w].data2; }
// The name of a well-known entry, as interned.
const char* runtime_symbol_name(RuntimeSymbol s);
const char* runtime_word_name(RuntimeWord w);

// init-runtime-words: interns every well-known name; the words become global words once the
// word loader is installed (g_load_word_hook), unbound words until then. Sets the
// reserved frame names g_sym_body and g_sym_anon.
void init_runtime_words();
// Makes the global word for a name; installed by the context layer once words exist.
extern void (*g_load_word_hook)(const char* name, Cell* out);
// init-refinement-words: the refinement! values /local /extern /compare /part /skip /with.
void init_refinement_words();
// init-ooo-word: the issue! #ooo.
void init_ooo_word();

}  // namespace kel::rt
