// event!: what the GUI's event loop hands to the actors of faces; scripts make their own
// with `make event! [...]`.
//
// Cell: header bit 0x1000 set when a field record is attached (events made by make), word 1
// the type code (1-38, 0 none), word 2 the field record's node (made events) or the
// backend's reference to its message, word 3 the flag bits (high) and the key (low 16).
// The record is four cells: face, window, offset, picked.
#pragma once
#include "runtime/cell.h"

namespace kel::dt {

constexpr u32 EVENT_RECORD_BIT = 0x1000;

enum EventField : i32 {
    EF_TYPE = 1, EF_FACE, EF_WINDOW, EF_OFFSET, EF_KEY, EF_PICKED, EF_FLAGS, EF_AWAY_Q, EF_DOWN_Q, EF_MID_DOWN_Q,
    EF_ALT_DOWN_Q, EF_AUX_DOWN_Q, EF_CTRL_Q, EF_SHIFT_Q, EF_ORIENTATION
};

// Stores the code of the type word (any case) in word 1; an unknown word raises
// script/not-event-type.
void event_type_code(Cell* event, const Cell* word);
// The type word of a code 1-38 (a none for any other code).
Cell event_type_word(u32 code);
// The flag bit of a flag word, 0 for any other word.
u32 event_flag_bits(const Cell* word);
// The field index 1-15 of a word, -1 for any other word.
i32 event_field_index(const Cell* word);
// Pushes the value of field `index` (1-15).
Cell* event_get_field(Cell* event, i32 index);
// A copy of the event on the argument stack (the GUI backend's call of a handler).
Cell* event_push(const Cell* event);

// The GUI backend answers fields 2-15 of the events it made (no record bit); until it is
// installed those events read as events made without a record.
extern Cell* (*g_event_backend_field)(Cell* event, i32 index);

}  // namespace kel::dt
