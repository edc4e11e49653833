// What the lexer's scanning loop and its token scanners share.
#pragma once
#include <vector>

#include "lexer/lexer.h"
#include "lexer/lexer_tables.h"
#include "runtime/cell.h"

namespace kel::lex {

// A marker cell opens a container on the value buffer: data1 the enclosing container's
// head, data2 the container's datatype (low 16 bits) and commas seen (high 16 bits, for a
// point being built), data3 the byte offset of the opening in the input.
constexpr u32 T_MARKER = 31;

struct LexerState {
    LexerState* next = nullptr;    // the nested run started while this one runs
    LexerState* parent = nullptr;  // the enclosing run
    u32 base = 0;                  // this run's first cell in the value buffer
    u32 head = 0;                  // first cell of the innermost open container
    u32 tail = 0;                  // first free cell
    const u8* input = nullptr;
    const u8* end = nullptr;
    const u8* cursor = nullptr;    // next byte to scan
    const u8* token_start = nullptr;
    const u8* token_end = nullptr;
    i32 line = 1;
    bool new_line = false;         // a line break stood before the current token
    i32 kind_override = -1;        // the datatype a scanner asks the loader to build
    u32 token_type = 0;            // the datatype of the current token
    u32 start_state = S_START;
    u32 prev_state = 0;            // the state before the final one
    u32 pending_type = 0;          // the container an error concerns
    u32 last_type = 0;
    const u8* string_start = nullptr;  // the `{` of the braced string being read
    i32 brace_depth = 0;
    u32 string_flags = 0;
    bool string_new_line = false;
    i32 point_line = 0;
    Cell callback{};               // none, or the function! reporting events
    u32 event_mask = 0;
    Cell source{};                 // what the callback sees as input
    bool source_is_string = false;
    i32 source_head = 0;           // the source's index at the input's first byte
    bool load = false;
    // Character-count cache for event positions in a string! source.
    const u8* count_pos = nullptr;
    u32 count_value = 0;
};

// Thrown instead of an error when the run does not load (or a callback declined it).
struct LexerStop {};

// Scanner of a token kind: validates the token [s, e) and, with `load`, builds its value.
using Scanner = void (*)(LexerState* st, const u8* s, const u8* e, u32 flags, bool load);
extern const Scanner g_scanners[KIND_COUNT];

// ---- the value buffer ---------------------------------------------------------------------

extern Cell* g_values;
// A new unset cell at the run's tail (with the new-line flag when a line break preceded the
// token); answers its index. The buffer may move: keep indexes, not pointers.
u32 append_value(LexerState* st);
inline Cell* value_at(u32 i) { return &g_values[i]; }

// Containers.
void open_container(LexerState* st, u32 type, const u8* opening);
// Closes the innermost container as `type` (a closer that does not fit raises missing).
void close_container(LexerState* st, u32 type, u8 closer);
// The innermost open marker, or null.
Cell* innermost_marker(LexerState* st);
inline u32 marker_type(const Cell* m) { return m->data2 & 0xFFFF; }

// ---- errors and events --------------------------------------------------------------------

// Error codes other than a datatype id.
constexpr i32 E_BAD_CHAR = -1;
constexpr i32 E_MALCONSTRUCT = -2;
constexpr i32 E_MISSING = -3;
constexpr i32 E_MISSING_END = -4;

// lexer-throw-error: raises the syntax error (or stops the run when it does not load). A
// null start names the innermost container's opening.
[[noreturn]] void throw_error(LexerState* st, const u8* start, i32 code);
// Loading a literal whose datatype has not installed its maker: internal/not-done with the
// token's text.
[[noreturn]] void throw_not_done(LexerState* st);
// lexer-fire-event: reports an event to the callback; answers its verdict (true when no
// callback wants the event). `type` is a datatype id, or -(kind + 1) for a token kind
// without one.
bool fire_event(LexerState* st, u32 bit, i32 type, const Cell* value, const u8* s, const u8* e);

// ---- scanner helpers ----------------------------------------------------------------------

// Decodes UTF-8 in [s, e) into code points; false on a malformed sequence.
bool decode_utf8(const u8* s, const u8* e, std::vector<u32>& out);
// Decodes a caret escape at p (after the `^`); answers the code point or -1, and moves p.
i32 decode_escape(const u8*& p, const u8* e);
// Whether the text after a `(` opens a point literal: a `,` comes before anything but
// blanks and the characters of numbers.
bool point_ahead(const u8* p, const u8* end);
// Builds a word of `type` from UTF-8 bytes.
void make_word_value(Cell* out, u32 type, const u8* s, const u8* e);

}  // namespace kel::lex
