// Word datatypes: word!, set-word!, lit-word!, get-word!, refinement! and issue!.
//
// All six share one cell: data1 the context node that binds the word (the global context
// for a new word), data2 the symbol id (the word's own spelling), data3 the index of the
// symbol in that context, -1 when not bound to a slot (not yet looked up, an issue!, or a
// `self` bound by an object). They differ in how the evaluator treats them and in their
// mold: 'word :word /word #word word:.
#pragma once
#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::dt {

inline bool is_any_word_type(u32 t) { return t >= T_WORD && t <= T_ISSUE; }
// word!, set-word!, lit-word!, get-word!: the kinds a path element or a key may be.
inline bool is_plain_word_type(u32 t) { return t >= T_WORD && t <= T_GET_WORD; }

// scan-string-value: the lexer's reading of a string's text from its index into `out`:
// none when the text is not consumed whole, unset when it holds no value, else the value.
// Installed by the lexer; until then word/make reads word tokens itself.
extern void (*g_scan_string_value)(const Cell* str, Cell* out);
// A value of the given type read from text holding exactly that one value (to time!, to
// pair! ...); anything else raises bad-to-arg. Pushed on the argument stack.
Cell* scan_text_as(Cell* spec, u32 type);

// Appends the word's spelling (UTF-8 name of its symbol) to a string; answers the
// characters written.
u32 append_symbol_name(Cell* out, u32 symbol);

// ---- per-kind operations --------------------------------------------------------------

// A word of kind `type` for the name, bound to the global context, appended to the block
// (the refinement! form is append-refinement; an issue! gets index -1).
Cell* make_word_kind_in(Node block, const char* name, u32 type);
// load-word retyped to `type` (word!, lit-word!, set-word!, get-word!).
Cell load_word_kind(const char* name, u32 type);
// push-word and kin: a copy of the word retyped to `type`.
Cell* push_word_kind(const Cell* word, u32 type);
// push-get-word-at and kin: word i of a context retyped to `type`.
Cell* push_context_word_kind(Node ctx, i32 index, u32 type);
// set-word-value of the word with the value in the arguments base slot (the result).
void set_word_from_result(const Cell* word);
// The word's value copied into the current frame's result slot.
void get_word_into_result(const Cell* word);
// push-word-value: the word's value pushed; unset! raises script/no-value with the word.
Cell* push_word_value(const Cell* word);
// push-get-word: the word's value pushed, unchecked.
Cell* push_get_word(const Cell* word);
// push-symbol-string: a new string! holding the word's spelling.
Cell* push_symbol_string(const Cell* word);
// load-issue: an issue! for the name (global context, index -1) pushed.
Cell* load_issue(const char* name);
// make-issue-at: `c` becomes an issue! for the name.
Cell* make_issue_at(Cell* c, const char* name);
// set-word-checked: the value in the slot after the arguments base is stored into the word
// and answered; unset! raises script/need-value with the word.
Cell* set_word_checked(const Cell* word);

// ---- handlers shared with other modules -----------------------------------------------

Cell* word_make(Cell* proto, Cell* spec, u32 type);
i32 word_compare(Cell* v1, Cell* v2, i32 op);

}  // namespace kel::dt
