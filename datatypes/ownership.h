// Ownership: which object owns a series (or an object) under which field, so that every
// series-changing action can tell the owner's on-deep-change* handler.
//
// Records live in a record table keyed by the owned series' node (an object's context
// node); each holds the owner's field word and the owner object. Owned series carry the
// SB_OWNED buffer flag, so that an unowned series pays one flag test per change. The table
// is weak: after a collection, records whose series or owner died are dropped.
#pragma once
#include "runtime/cell.h"

namespace kel::dt {

void ownership_init();
// ownership-set: marks `value` (and the series and objects it holds) owned by `owner`.
void ownership_set(const Cell* owner, const Cell* value, const Cell* field);
// ownership-unset: removes the ownership of `value` and of what it holds.
void ownership_unset(const Cell* value);
void ownership_unset_range(const Cell* first, u32 n);
// ownership-bind: ownership_set, then the owner's context is marked as owning its fields.
void ownership_bind(const Cell* owner, const Cell* value, const Cell* field);
// ownership-owned?: the owner object of the series or context node, null when unowned.
const Cell* ownership_owner(Node node);
// The record's cells (field word, owner), null when the node is not owned.
Cell* ownership_record(Node node);
// ownership-check: calls the owner's on-deep-change* for a change of `value`; answers true
// when a handler ran.
bool ownership_check(Cell* value, const Cell* action_word, const Cell* new_value, i32 index, i32 part);

}  // namespace kel::dt
