// datatype!, unset!, none! and logic!: constructors and truth tests.
#pragma once
#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::dt {

Cell* make_datatype_in(Node block, u32 type);
Cell* push_datatype(u32 type);

Cell* box_unset();
Cell* make_unset_in(Node block);
Cell* push_unset();

Cell* box_none();
Cell* append_none(Node block);
Cell* push_none();

Cell* box_logic(u32 truth);
Cell* make_logic_in(Node block, u32 truth);
Cell* push_logic(u32 truth);
inline u32 get_logic(const Cell* c) { return c->data1; }

// A value is false only when it is none or a logic! whose word 1 is not 1.
inline bool is_false_value(const Cell* c) {
    TypeId t = type_of(c);
    return t == T_NONE || (t == T_LOGIC && c->data1 != 1);
}

// value-true?: with `check`, unset raises script/no-value naming `arg`.
bool value_true(const Cell* c, bool check, const Cell* arg);
// check-result-true: the result slot's truth; unset raises script/no-return.
bool check_result_true();
bool result_false();
bool top_false();
bool logic_not_result();

}  // namespace kel::dt
