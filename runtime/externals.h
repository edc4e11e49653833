// External resources and the slot table.
//
// Values that stand for objects outside the collected heap (images' bitmaps, OS handles)
// carry the index of an external slot. The collector marks the slots that live values
// reach and, after marking, releases every unmarked object through its kind's release
// function. The slot table is a simpler registry: a rooted block of cells with a free list.
#pragma once
#include "runtime/cell.h"
#include "runtime/types.h"

namespace kel::rt {

using ReleaseFn = void (*)(void* object);

void externals_init();
// Registers a kind of external object; answers its number (from 1). `kind_value` is the
// symbol of the kind's name ("image"), which mold/all of a handle! shows.
i32 externals_register_kind(u32 kind_value, ReleaseFn release);
// The value a kind was registered with; 0 for a number no kind has.
u32 externals_kind_value(i32 kind);
// Stores an object of a kind; answers its slot index.
i32 externals_store(void* object, i32 kind);
void* externals_object(i32 slot);
// Replaces a slot's object, releasing the old one when it differs.
void externals_replace(i32 slot, void* object);
void externals_remove(i32 slot, bool release);
// Marks a slot (and replaces its object when one is given); true when it was unmarked.
bool externals_mark(i32 slot, void* object);
void externals_for_kind(i32 kind, void (*fn)(i32 kind, void* object));
// Collector step: releases the objects of unmarked used slots.
void externals_sweep();
u32 externals_capacity();

void slot_table_init();
// Stores a value; answers its 1-based index.
u32 slot_table_alloc(const Cell* value);
Cell* slot_table_at(u32 index);
void slot_table_free(u32 index);

}  // namespace kel::rt
