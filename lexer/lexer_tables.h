// The lexer's tables: byte classes with their flags, the transition table of the state
// machine, and the side tables indexed by state.
//
// A byte's entry holds its class (0..39) in the low 8 bits and flags above, which the
// scanning loop ORs together over a token so that scanners can choose between kinds
// without rereading it. The machine has 65 continuing states (0..64); a transition to
// 66 + k ends a token of kind k (the byte that led there is not consumed).
#pragma once
#include "runtime/types.h"

namespace kel::lex {

// Byte classes.
enum ByteClass : u8 {
    C_BLANK = 0, C_LF = 1, C_DIGIT = 2, C_ZERO = 3,
    C_LBRACKET = 4, C_RBRACKET = 5, C_LPAREN = 6, C_RPAREN = 7, C_LBRACE = 8, C_RBRACE = 9,
    C_DQUOTE = 10, C_HASH = 11, C_QUOTE = 12, C_COLON = 13, C_X = 14, C_T = 15, C_H = 16,
    C_E_LOWER = 17, C_E_UPPER = 18, C_HEX_LOWER = 19, C_HEX_UPPER = 20, C_SLASH = 21,
    C_BACKSLASH = 22, C_LESS = 23, C_GREATER = 24, C_EQUAL = 25, C_PERCENT = 26, C_COMMA = 27,
    C_SEMICOLON = 28, C_AT = 29, C_DOT = 30, C_DOLLAR = 31, C_PLUS = 32, C_MINUS = 33,
    C_CARET = 34, C_CONTROL = 35, C_CONTINUATION = 36, C_OTHER = 37, C_BAD = 38, C_END = 39,
};
constexpr int CLASS_COUNT = 40;

// Flags of a byte's entry.
constexpr u32 F_PERCENT = 0x40000;
constexpr u32 F_GREATER = 0x80000;
constexpr u32 F_LESS = 0x100000;
constexpr u32 F_SIGN = 0x200000;
constexpr u32 F_NUL = 0x400000;
constexpr u32 F_HASH = 0x800000;
constexpr u32 F_EXPONENT = 0x1000000;
constexpr u32 F_QUOTE = 0x2000000;
constexpr u32 F_COLON = 0x4000000;
constexpr u32 F_COMMA = 0x8000000;
constexpr u32 F_DOT = 0x10000000;
constexpr u32 F_CARET = 0x20000000;
constexpr u32 F_WIDE2 = 0x40000000;  // a lead byte of a code point needing two bytes of storage
constexpr u32 F_WIDE4 = 0x80000000u; // a lead byte of a code point needing four
// Set by the `{` scanner when a line break stood before the opening brace.
constexpr u32 F_NEW_LINE_BEFORE = 0x20000;

extern const u32 g_byte_classes[256];
inline u32 byte_class(u8 b) { return g_byte_classes[b] & 0xFF; }
inline u32 byte_flags(u8 b) { return g_byte_classes[b] & ~0xFFu; }

// Token kinds: the rows of the token table.
enum TokenKind : u8 {
    K_END = 0, K_ERROR, K_BLOCK_OPEN, K_BLOCK_CLOSE, K_PAREN_OPEN, K_PAREN_CLOSE, K_BRACE_OPEN,
    K_BRACE_CLOSE, K_MAP_OPEN, K_PATH_HEAD, K_CONSTRUCT, K_COMMENT, K_COMMA, K_STRING, K_WORD,
    K_ISSUE, K_INTEGER, K_REFINEMENT, K_CHAR, K_FILE, K_BINARY, K_PERCENT, K_FLOAT,
    K_FLOAT_SPECIAL, K_TUPLE, K_DATE, K_PAIR, K_POINT, K_TIME, K_MONEY, K_TAG, K_URL, K_EMAIL,
    K_HEX_INTEGER, K_RAW_STRING, K_REF,
};
constexpr int KIND_COUNT = 36;

constexpr int STATE_COUNT = 65;
constexpr int FIRST_FINAL = 66;
inline bool is_final(u32 state) { return state >= FIRST_FINAL; }
inline constexpr u32 final_of(TokenKind k) { return FIRST_FINAL + k; }

// Start states.
constexpr u32 S_START = 0;
constexpr u32 S_BRACED = 4;
constexpr u32 S_POINT = 35;
constexpr u32 S_PATH = 59;

// state × 40 + class → next state.
extern const u8* const g_transitions;
inline u32 next_state(u32 state, u32 cls) { return g_transitions[state * CLASS_COUNT + cls]; }
// The datatype id a token ending in (or failing from) a state denotes; 0 for none.
u32 state_datatype(u32 state);
// The datatype of a token kind (its final state's entry).
inline u32 kind_datatype(TokenKind k) { return state_datatype(final_of(k)); }

}  // namespace kel::lex
