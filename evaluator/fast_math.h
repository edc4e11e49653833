// Inline arithmetic and comparison for the built-in operators on plain numbers.
//
// The interpreter recognises the built-in add, subtract, multiply, remainder, and~, or~,
// xor~ and the comparison natives by their table entries (never by the words, which can be
// rebound) and computes two integer! operands (and, for add, subtract and multiply, two
// float! operands or a float! with an integer!) here, with the same overflow promotion as
// the actions: every result equals the generic path's. Anything else answers false and
// takes the generic call.
//
// The helpers are always inlined: left to the compiler, whether they were inlined into the
// interpreter's hot loops changed with unrelated edits elsewhere in the interpreter, and
// with it the cost of every operator by a quarter.
#pragma once
#include <cmath>
#include <cstdint>

#include "runtime/cell.h"

namespace kel::ev {

// Native slots of the comparison natives.
constexpr u32 SLOT_EQUAL_Q = 25;
constexpr u32 SLOT_GREATER_OR_EQUAL_Q = 31;

// The arithmetic code of an action entry number (action id - 1), or -1: a table over the
// ids from add to xor~, since a switch here was compiled out of line.
struct ActionCodes {
    signed char codes[A_XOR_T - A_ADD + 1];
    constexpr ActionCodes() : codes{} {
        for (signed char& c : codes) c = -1;
        codes[A_ADD - A_ADD] = 0;
        codes[A_SUBTRACT - A_ADD] = 1;
        codes[A_MULTIPLY - A_ADD] = 2;
        codes[A_REMAINDER - A_ADD] = 3;
        codes[A_OR_T - A_ADD] = 5;
        codes[A_AND_T - A_ADD] = 6;
        codes[A_XOR_T - A_ADD] = 7;
    }
};
inline constexpr ActionCodes ACTION_CODES{};
__attribute__((always_inline)) inline i32 fast_action_code(u32 entry) {
    u32 i = entry + 1 - A_ADD;  // wraps past the table for ids below add
    return i <= u32(A_XOR_T - A_ADD) ? ACTION_CODES.codes[i] : -1;
}

// The comparison code of a native entry number (slot - 1), or -1: equal? 0, not-equal? 1,
// strict-equal? 2, lesser? 3, greater? 5, lesser-or-equal? 4, greater-or-equal? 6.
__attribute__((always_inline)) inline i32 fast_compare_code(u32 entry) {
    static constexpr i32 codes[] = {0, 1, 2, 3, 5, 4, 6};
    u32 slot = entry + 1;
    return slot >= SLOT_EQUAL_Q && slot <= SLOT_GREATER_OR_EQUAL_Q ? codes[slot - SLOT_EQUAL_Q] : -1;
}

// One number for the operation of an op! value: its arithmetic code, or a comparison code
// plus FAST_COMPARE, or -1 when the op is not a built-in one. Read once per operator met.
constexpr i32 FAST_COMPARE = 16;
__attribute__((always_inline)) inline i32 fast_operator_code(const Cell* op) {
    u32 src = (op->header >> 16) & 0xFF;
    if (src == T_ACTION) return fast_action_code(op->data1);
    if (src == T_NATIVE) {
        i32 c = fast_compare_code(op->data1);
        return c < 0 ? -1 : c + FAST_COMPARE;
    }
    return -1;
}

inline bool fast_math(i32 code, Cell* left, const Cell* right);
inline bool fast_compare(i32 code, Cell* left, const Cell* right);
// Applies a code from fast_operator_code (not -1); false when the operands need the call.
__attribute__((always_inline)) inline bool fast_apply(i32 code, Cell* left, const Cell* right) {
    return code >= FAST_COMPARE ? fast_compare(code - FAST_COMPARE, left, right) : fast_math(code, left, right);
}

// left op right into `left`; false (left untouched) when the operands need the generic path.
__attribute__((always_inline)) inline bool fast_math(i32 code, Cell* left, const Cell* right) {
    u32 lt = type_of(left), rt = type_of(right);
    if (lt == T_INTEGER && rt == T_INTEGER) {
        i32 a = i32(left->data2), b = i32(right->data2);
        i32 r;
        bool overflow = false;
        switch (code) {
            case 0: overflow = __builtin_add_overflow(a, b, &r); break;
            case 1: overflow = __builtin_sub_overflow(a, b, &r); break;
            case 2: overflow = __builtin_mul_overflow(a, b, &r); break;
            case 3:
                // A zero divisor and the one quotient past the range raise in the action.
                if (b == 0 || (a == INT32_MIN && b == -1)) return false;
                r = a % b;
                break;
            case 5: r = a | b; break;
            case 6: r = a & b; break;
            case 7: r = a ^ b; break;
            default: return false;
        }
        if (overflow) {
            double x = double(a), y = double(b);
            double d = code == 0 ? x + y : code == 1 ? x - y : x * y;
            set_cell(left, T_FLOAT);
            set_float_payload(left, d);
        } else {
            set_cell(left, T_INTEGER, 0, u32(r), 0);
        }
        return true;
    }
    // A float! with a float! or an integer! on either side: the integer is widened, as the
    // float actions do, and the answer is a float!.
    if (code <= 2 && (lt == T_FLOAT || rt == T_FLOAT) && (lt == T_FLOAT || lt == T_INTEGER) &&
        (rt == T_FLOAT || rt == T_INTEGER)) {
        double x = lt == T_INTEGER ? double(i32(left->data2)) : get_float(left);
        double y = rt == T_INTEGER ? double(i32(right->data2)) : get_float(right);
        double d = code == 0 ? x + y : code == 1 ? x - y : x * y;
        set_cell(left, T_FLOAT);
        set_float_payload(left, d);
        return true;
    }
    return false;
}

__attribute__((always_inline)) inline bool fast_compare(i32 code, Cell* left, const Cell* right) {
    if (type_of(left) != T_INTEGER || type_of(right) != T_INTEGER) return false;
    i32 a = i32(left->data2), b = i32(right->data2);
    bool r;
    switch (code) {
        case 0: case 2: r = a == b; break;
        case 1: r = a != b; break;
        case 3: r = a < b; break;
        case 4: r = a <= b; break;
        case 5: r = a > b; break;
        case 6: r = a >= b; break;
        default: return false;
    }
    set_cell(left, T_LOGIC, r ? 1 : 0);
    return true;
}

}  // namespace kel::ev
