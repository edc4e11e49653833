// money!: an exact decimal amount of 22 digits (17 integer, 5 fraction) in packed BCD with
// an optional currency. Header bit 14 is the sign; payload byte 0 the currency's position
// in system/locale/currencies/list (0: none); bytes 1-11 the digits, most significant first.
#pragma once
#include "runtime/cell.h"

namespace kel::dt {

// The arithmetic of add (0) to remainder (4) when either operand in the first two
// argument slots is money.
void money_math(i32 code);
// Conversions used by the number datatypes.
i32 money_to_integer(const Cell* m);
double money_to_float(const Cell* m);
// The serialisation decoder's maker: the 11 digit bytes as stored.
Cell* money_make_at_digits(Cell* c, bool negative, u8 currency, const u8* digits);
// as-money: the amount (integer! or float!) in the currency a word names; an unknown
// currency raises script/bad-denom with the word.
Cell* money_make_with_currency(Cell* out, const Cell* currency, const Cell* amount);
// -1, 0 or 1 (zero whatever the sign bit), for sign?, zero?, negative? and positive?.
i32 money_sign(const Cell* m);
// The comparison of an integer or float (left) with money (right), as money's own.
i32 money_compare_number(Cell* number, Cell* money, i32 op);

}  // namespace kel::dt
