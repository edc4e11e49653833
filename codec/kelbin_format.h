// What the KELBIN encoder and decoder share: the record kind of every type id, the prefix
// bytes of the compact form and the header bits of the standard form.
#pragma once
#include "runtime/types.h"

namespace kel::codec {

// How a type's values are written. A type added later gets its kind here (and its case in
// the writer and reader of that kind) and nothing else changes.
enum class Kind : u8 {
    NONE,      // no record: the decoder refuses the id (symbol!, series!, ids above 54, 0)
    REFUSED,   // no record by design: access/no-codec
    EMPTY,     // unset!, none!
    LOGIC,
    DATATYPE,
    CHAR,
    INTEGER,
    FLOATING,  // float!, time!
    PERCENT,
    CELLS,     // block!, paren!, the path kinds, hash!
    TEXT,      // the string kinds
    BINARY,
    CONTEXT,
    WORD,      // word! to refinement!
    ISSUE,
    BUILTIN,   // native!, action!
    OP,
    FUNCTION,
    BITSET,
    OBJECT,
    TYPESET,
    ERROR,
    VECTOR,
    PAIR,
    TUPLE,
    MAP,
    DATE,
    MONEY,
    POINT,     // point2D!, point3D!
    IMAGE,     // waits for the image! datatype
};

constexpr Kind kind_of_type(u32 t) {
    switch (t) {
        case T_DATATYPE: return Kind::DATATYPE;
        case T_UNSET: case T_NONE: return Kind::EMPTY;
        case T_LOGIC: return Kind::LOGIC;
        case T_BLOCK: case T_PAREN: case T_PATH: case T_LIT_PATH: case T_SET_PATH: case T_GET_PATH: case T_HASH:
            return Kind::CELLS;
        case T_STRING: case T_FILE: case T_URL: case T_TAG: case T_EMAIL: case T_REF: return Kind::TEXT;
        case T_BINARY: return Kind::BINARY;
        case T_CHAR: return Kind::CHAR;
        case T_INTEGER: return Kind::INTEGER;
        case T_FLOAT: case T_TIME: return Kind::FLOATING;
        case T_PERCENT: return Kind::PERCENT;
        case T_CONTEXT: return Kind::CONTEXT;
        case T_WORD: case T_SET_WORD: case T_LIT_WORD: case T_GET_WORD: case T_REFINEMENT: return Kind::WORD;
        case T_ISSUE: return Kind::ISSUE;
        case T_NATIVE: case T_ACTION: return Kind::BUILTIN;
        case T_OP: return Kind::OP;
        case T_FUNCTION: return Kind::FUNCTION;
        case T_BITSET: return Kind::BITSET;
        case T_OBJECT: return Kind::OBJECT;
        case T_TYPESET: return Kind::TYPESET;
        case T_ERROR: return Kind::ERROR;
        case T_VECTOR: return Kind::VECTOR;
        case T_PAIR: return Kind::PAIR;
        case T_TUPLE: return Kind::TUPLE;
        case T_MAP: return Kind::MAP;
        case T_DATE: return Kind::DATE;
        case T_MONEY: return Kind::MONEY;
        case T_POINT2D: case T_POINT3D: return Kind::POINT;
        case T_IMAGE: return Kind::IMAGE;
        case T_ROUTINE: case T_TRIPLE: case T_HANDLE: case T_PORT: case T_EVENT: return Kind::REFUSED;
        default: return Kind::NONE;
    }
}

// Compact form: prefix bytes and fixed type bytes.
constexpr u8 C_NEW_LINE = 0xC0;
constexpr u8 C_REFERENCE = 0xC1;
constexpr u8 C_TRUE = 0xC2;
constexpr u8 C_FALSE = 0xC3;
constexpr u8 C_WORD_VALUE = 0xC4;
constexpr u8 C_PATH = 0xFF;
constexpr u8 C_SMALL_INT = 0x80;  // 0x80-0xBF: the integers 0-63
constexpr u8 C_EXTRA = 0x40;      // the type byte's extra flag
constexpr u8 C_TYPE_ESCAPE = 63;  // the type id follows as a varint

// Standard form: header word bits.
constexpr u32 S_REFERENCE = 1u << 19;
constexpr u32 S_MONEY_NEGATIVE = 1u << 22;
constexpr u32 S_COMPLEMENT = 1u << 23;
constexpr u32 S_EVENTS = 1u << 24;
constexpr u32 S_GLOBAL_WORD = 1u << 25;
constexpr u32 S_CTX_KIND_SHIFT = 26;
constexpr u32 S_CTX_FLAG24 = 1u << 28;
constexpr u32 S_CTX_ON_STACK = 1u << 29;
constexpr u32 S_CTX_VALUES = 1u << 30;
constexpr u32 S_NEW_LINE = 1u << 31;
constexpr u32 S_PATH_RECORD = 255;

// Context body flags (the compact byte; the standard form keeps them in header bits 26-30).
constexpr u8 CB_KIND_MASK = 3;
constexpr u8 CB_ON_STACK = 4;
constexpr u8 CB_FLAG24 = 8;
constexpr u8 CB_VALUES = 16;

// Deepest nesting of records either side accepts (as deep as the recursive walks go).
constexpr u32 MAX_DEPTH = 1000;
// Longest reference path.
constexpr u32 MAX_PATH = 65536;

}  // namespace kel::codec
