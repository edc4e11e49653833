// object!: a context of kind 2 with an identity.
//
// Object cell: data1 the node of its context (kind 2), data2 the class id (signed 32-bit),
// data3 the node of its events record, or 0 when it has neither change hook. error! and
// port! share the layout. The context's owner cell holds a copy of the object cell, so that
// `self`, the change handlers and on-change* firing can reach the object from its context.
//
// Class ids tell apart objects made from different prototypes or field sets: one counter,
// from 1000000, hands out new ids; objects copied without new fields keep their source's.
//
// Events record: two cells of type pair! (37), [0] on-change*, [1] on-deep-change*; data2
// holds (field index << 16) | local-slot count (index 0xFFFF = the hook is absent), data3
// the spec node of the handler the count was computed for (recomputed when it differs).
#pragma once
#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::dt {

inline bool is_object_type(u32 t) { return t == T_OBJECT || t == T_ERROR || t == T_PORT; }

inline Node object_context(const Cell* obj) { return obj->data1; }
inline i32 object_class(const Cell* obj) { return i32(obj->data2); }
inline Node object_events(const Cell* obj) { return obj->data3; }

// The counter of class ids; new-object-id raises it and answers the new value.
extern i32 g_object_id;
i32 new_object_id();

// The ownership layer: series and objects owned by an object whose on-deep-change* watches
// them. Installed by that layer; until then ownership-bind only marks the owner's context
// (CTX_OWNS_SERIES) and the others do nothing.
struct OwnershipHooks {
    // ownership-bind: ownership-set, then the owner's context marked.
    void (*bind)(const Cell* owner, const Cell* value, const Cell* field);
    // ownership-set: the value (and what it holds) owned by `owner` under `field`.
    void (*set)(const Cell* owner, const Cell* value, const Cell* field);
};
extern OwnershipHooks g_ownership;

// ---- construction ---------------------------------------------------------------------

// make-object-at: `c` becomes an object with a new empty context of `slots` (context flag
// 24 set), class id 0, no events; copied into the owner cell.
Cell* make_object_at(Cell* c, u32 slots);
// push-object: an object over an existing context (its values series filled to one cell per
// word when empty), events 0.
Cell* push_object(Node ctx, i32 class_id);
// push-object-with-events.
Cell* push_object_with_events(Node ctx, i32 class_id, Node events);
// make-boot-object: the events record of the object at the stack top from given hook
// indexes and local counts (-1 index: absent).
void make_boot_object(Node ctx, i32 change_index, i32 change_count, i32 deep_index, i32 deep_count);
// object/set-events: computes the events record (script/bad-field-set when a hook field
// holds neither a function nor a routine) and copies the object into its owner cell.
void object_set_events(Cell* obj);

// ---- fields ---------------------------------------------------------------------------

i32 object_find_word(const Cell* obj, const Cell* word);
// The field's value, or the shared none cell when the object has no such field.
Cell* object_select_word(const Cell* obj, const Cell* word);
Cell* object_first_field(const Cell* obj);
Cell* object_first_value(const Cell* obj);
u32 object_field_count(const Cell* obj);
// context-value-by-index: the context's word at the index.
Cell* context_value_by_index(Node ctx, i32 index);
// object-field-same?: the word's value is an object whose context is `ctx`.
bool object_field_same_q(const Cell* word, Node ctx);
// field-is-object?: field i holds an object over `ctx`.
bool field_is_object_q(const Cell* obj, i32 index, Node ctx);
// clear-cell-bit30: the new-line flag off for n cells.
void clear_cell_bit30(Cell* first, u32 n);
// clear-cell-bit13: every changed mark of the context off.
void clear_cell_bit13(Node ctx);

// ---- change events --------------------------------------------------------------------

// call-object-handler: fires on-change* of `obj` with the word, the old and the new value.
// The four cells must stay where they are while it runs (argument-stack slots).
void call_object_handler(Cell* obj, Cell* word, Cell* old_value, Cell* new_value);
// fire-on-deep-change: fires on-deep-change* of the owner.
void fire_on_deep_change(Cell* owner, Cell* word, Cell* target, Cell* action, Cell* new_value, i32 index,
                         i32 part);

// ---- copies and construction ----------------------------------------------------------

// copy-object: `dst` becomes a copy of `src`: its own context with the words and values,
// the source's class id and events (none with `no_events`). With `deep` series fields are
// copied and function fields re-made for the copy; `types` (null = none) limits the deep
// copy to the given datatype or typeset.
Cell* copy_object(const Cell* src, Cell* dst, bool deep, const Cell* types, bool no_events);
// copy-function-for-object: a copy of the function bound to the new object context.
void copy_function_for_object(const Cell* fn, Cell* dst, Node ctx);
// construct-object: for the `construct` native (the result is pushed).
Cell* construct_object(const Cell* spec, const Cell* proto, bool only);
// set-many: for the `set` native on an object target.
void set_many(Cell* target, const Cell* value, bool any, bool only, bool some);

// ---- object! actions shared with error! and port! --------------------------------------

// Evaluates a spec block bound to a new object's or error's context (its own eval frame;
// exits leave as system throws).
void eval_spec_block(const Cell* spec);
Cell* object_make(Cell* proto, Cell* spec, u32 type);
Cell* object_reflect(Cell* value, u32 field_symbol);
i32 object_form(Cell* value, Cell* out, Cell* part, i32 limit);
i32 object_mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, i32 limit, i32 indent);
// mold-object-fields: the fields one per line (or space-separated when flat).
i32 mold_object_fields(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, i32 limit, i32 indent);
// The whole mold of an object kind: `opening`, the fields, the closing bracket; a cycle molds
// as its marker.
i32 mold_object_as(Cell* value, const char* opening, Cell* out, bool only, bool all, bool flat, Cell* part,
                   i32 limit, i32 indent);
Cell* object_eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* p_item, i32 index,
                       bool case_, bool get, bool tail);
i32 object_compare(Cell* v1, Cell* v2, i32 op);
Cell* object_copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types);
Cell* object_select(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any, Cell* with,
                    Cell* skip, bool last, bool reverse);

}  // namespace kel::dt
