// Basic integer types, type ids and action ids shared by every subsystem.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kel {

using u8 = uint8_t;
using u16 = uint16_t;
using u32 = uint32_t;
using u64 = uint64_t;
using i32 = int32_t;
using i64 = int64_t;

// A 32-bit offset from the arena base. 0 is null: the first 64 KiB are never mapped.
using Off = u32;
// A node is the offset of a one-word slot (in a node frame) holding its buffer's offset.
using Node = u32;

// Type ids: the fixed numbering that cells, the action table and stored data use.
enum TypeId : u8 {
    T_END = 0,  // the shared empty cell; never a language value
    T_DATATYPE = 1,
    T_UNSET = 2,
    T_NONE = 3,
    T_LOGIC = 4,
    T_BLOCK = 5,
    T_PAREN = 6,
    T_STRING = 7,
    T_FILE = 8,
    T_URL = 9,
    T_CHAR = 10,
    T_INTEGER = 11,
    T_FLOAT = 12,
    T_SYMBOL = 13,
    T_CONTEXT = 14,
    T_WORD = 15,
    T_SET_WORD = 16,
    T_LIT_WORD = 17,
    T_GET_WORD = 18,
    T_REFINEMENT = 19,
    T_ISSUE = 20,
    T_NATIVE = 21,
    T_ACTION = 22,
    T_OP = 23,
    T_FUNCTION = 24,
    T_PATH = 25,
    T_LIT_PATH = 26,
    T_SET_PATH = 27,
    T_GET_PATH = 28,
    T_ROUTINE = 29,
    T_BITSET = 30,
    T_TRIPLE = 31,
    T_OBJECT = 32,
    T_TYPESET = 33,
    T_ERROR = 34,
    T_VECTOR = 35,
    T_HASH = 36,
    T_PAIR = 37,
    T_PERCENT = 38,
    T_TUPLE = 39,
    T_MAP = 40,
    T_BINARY = 41,
    T_SERIES = 42,
    T_TIME = 43,
    T_TAG = 44,
    T_EMAIL = 45,
    T_HANDLE = 46,
    T_DATE = 47,
    T_PORT = 48,
    T_MONEY = 49,
    T_REF = 50,
    T_POINT2D = 51,
    T_POINT3D = 52,
    T_IMAGE = 53,
    T_EVENT = 54,
};

constexpr int TYPE_ROWS = 57;        // rows of the action and type-name tables (ids 0-56)
constexpr int ACTION_ROW_SIZE = 256; // slots per row of the action table
constexpr int ACTION_COUNT = 62;

// Action ids: the slot of each operation in every datatype's action row.
enum ActionId : u8 {
    A_MAKE = 1,
    A_RANDOM = 2,
    A_REFLECT = 3,
    A_TO = 4,
    A_FORM = 5,
    A_MOLD = 6,
    A_EVAL_PATH = 7,
    A_EMPTY = 8,
    A_COMPARE = 9,
    A_ABSOLUTE = 10,
    A_ADD = 11,
    A_DIVIDE = 12,
    A_MULTIPLY = 13,
    A_NEGATE = 14,
    A_POWER = 15,
    A_REMAINDER = 16,
    A_ROUND = 17,
    A_SUBTRACT = 18,
    A_EVEN_Q = 19,
    A_ODD_Q = 20,
    A_AND_T = 21,
    A_COMPLEMENT = 22,
    A_OR_T = 23,
    A_XOR_T = 24,
    A_APPEND = 25,
    A_AT = 26,
    A_BACK = 27,
    A_CHANGE = 28,
    A_CLEAR = 29,
    A_COPY = 30,
    A_FIND = 31,
    A_HEAD = 32,
    A_HEAD_Q = 33,
    A_INDEX_Q = 34,
    A_INSERT = 35,
    A_LENGTH_Q = 36,
    A_MOVE = 37,
    A_NEXT = 38,
    A_PICK = 39,
    A_POKE = 40,
    A_PUT = 41,
    A_REMOVE = 42,
    A_REVERSE = 43,
    A_SELECT = 44,
    A_SORT = 45,
    A_SKIP = 46,
    A_SWAP = 47,
    A_TAIL = 48,
    A_TAIL_Q = 49,
    A_TAKE = 50,
    A_TRIM = 51,
    A_CREATE = 52,
    A_CLOSE = 53,
    A_DELETE = 54,
    A_MODIFY = 55,
    A_OPEN = 56,
    A_OPEN_Q = 57,
    A_QUERY = 58,
    A_READ = 59,
    A_RENAME = 60,
    A_UPDATE = 61,
    A_WRITE = 62,
};

}  // namespace kel
