// event! datatype: type codes, flags, the field record of made events and field access.
#include "datatypes/event.h"

#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/context.h"
#include "datatypes/datatype_init.h"
#include "datatypes/string.h"
#include "datatypes/unit.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/stack.h"
#include "runtime/symbols.h"

namespace kel::dt {

using namespace rt;

Cell* (*g_event_backend_field)(Cell* event, i32 index) = nullptr;

namespace {

constexpr const char* TYPE_NAMES[] = {
    "down",      "up",        "mid-down",  "mid-up",  "alt-down", "alt-up",  "aux-down", "aux-up",
    "click",     "dbl-click", "wheel",     "over",    "key",      "key-down", "key-up",  "ime",
    "focus",     "unfocus",   "enter",     "zoom",    "pan",      "rotate",  "two-tap",  "press-tap",
    "select",    "change",    "menu",      "close",   "move",     "resize",  "moving",   "resizing",
    "time",      "drawing",   "scroll",    "minimize", "maximize", "restore"};
constexpr u32 TYPE_COUNT = sizeof TYPE_NAMES / sizeof TYPE_NAMES[0];

struct Flag {
    const char* name;
    u32 bit;
};
// In the order the backend's flags getter lists them, which leaves `command` out.
constexpr Flag FLAGS[] = {{"away", 0x04000000},    {"down", 0x02000000},     {"mid-down", 0x01000000},
                          {"alt-down", 0x00800000}, {"aux-down", 0x00400000}, {"control", 0x10000000},
                          {"shift", 0x20000000},   {"alt", 0x40000000},      {"command", 0x80000000}};
constexpr u32 LISTED_FLAGS = 8;

constexpr const char* FIELD_NAMES[] = {"type",     "face",      "window",    "offset",    "key",
                                       "picked",   "flags",     "away?",     "down?",     "mid-down?",
                                       "alt-down?", "aux-down?", "ctrl?",     "shift?",    "orientation"};
constexpr u32 FIELD_COUNT = sizeof FIELD_NAMES / sizeof FIELD_NAMES[0];

// The flag bit that each of the logic fields 8-14 reads.
constexpr u32 FIELD_BITS[] = {0x04000000, 0x02000000, 0x01000000, 0x00800000, 0x00400000, 0x10000000, 0x20000000};

// Case-folded symbols of the names, interned on first use (words exist by then).
struct Names {
    u32 types[TYPE_COUNT];
    u32 flags[std::size(FLAGS)];
    u32 fields[FIELD_COUNT];
};
const Names& names() {
    static Names n = [] {
        Names r{};
        for (u32 i = 0; i < TYPE_COUNT; ++i) r.types[i] = resolve_symbol_alias(make_symbol(TYPE_NAMES[i]));
        for (u32 i = 0; i < std::size(FLAGS); ++i) r.flags[i] = resolve_symbol_alias(make_symbol(FLAGS[i].name));
        for (u32 i = 0; i < FIELD_COUNT; ++i) r.fields[i] = resolve_symbol_alias(make_symbol(FIELD_NAMES[i]));
        return r;
    }();
    return n;
}

inline bool is_word_kind(const Cell* c) { return type_of(c) >= T_WORD && type_of(c) <= T_ISSUE; }
inline u32 folded_symbol(const Cell* word) { return resolve_symbol_alias(word_symbol(word)); }

inline bool has_record(const Cell* e) { return (e->header & EVENT_RECORD_BIT) && e->data2 != 0; }

}  // namespace

void event_type_code(Cell* event, const Cell* word) {
    if (is_word_kind(word)) {
        u32 s = folded_symbol(word);
        for (u32 i = 0; i < TYPE_COUNT; ++i) {
            if (names().types[i] == s) {
                event->data1 = i + 1;
                return;
            }
        }
    }
    raise_error(Err::script_not_event_type, word);
}

Cell event_type_word(u32 code) {
    if (code < 1 || code > TYPE_COUNT) return g_none_cell;
    return load_word(TYPE_NAMES[code - 1]);
}

u32 event_flag_bits(const Cell* word) {
    if (!is_word_kind(word)) return 0;
    u32 s = folded_symbol(word);
    for (u32 i = 0; i < std::size(FLAGS); ++i)
        if (names().flags[i] == s) return FLAGS[i].bit;
    return 0;
}

i32 event_field_index(const Cell* word) {
    if (!is_word_kind(word)) return -1;
    u32 s = folded_symbol(word);
    for (u32 i = 0; i < FIELD_COUNT; ++i)
        if (names().fields[i] == s) return i32(i) + 1;
    return -1;
}

Cell* event_get_field(Cell* event, i32 index) {
    Cell e = *event;
    bool made = e.header & EVENT_RECORD_BIT;
    if (index == EF_TYPE) {
        Cell w = event_type_word(e.data1);
        return stack_push(&w);
    }
    if (index >= EF_FLAGS && index <= EF_SHIFT_Q) {
        if (index == EF_FLAGS) {
            Cell* out = push_new_block(4);
            for (u32 k = 0; k < LISTED_FLAGS; ++k) {
                if (!(e.data3 & FLAGS[k].bit)) continue;
                Cell w = load_word(FLAGS[k].name);
                *block_alloc_tail(series_node(out)) = w;
            }
            return out;
        }
        return push_logic((e.data3 & FIELD_BITS[index - EF_AWAY_Q]) != 0);
    }
    if (!made && g_event_backend_field) return g_event_backend_field(event, index);
    switch (index) {
        case EF_FACE:
        case EF_WINDOW:
        case EF_OFFSET:
        case EF_PICKED: {
            Cell* out = stack_push_slot();
            if (has_record(&e)) {
                i32 slot = index == EF_FACE ? 0 : index == EF_WINDOW ? 1 : index == EF_OFFSET ? 2 : 3;
                *out = cells_of(buffer_of(e.data2))[slot];
            } else if (index == EF_OFFSET) {
                set_cell(out, T_PAIR, 0, 0, 0);
            } else if (index == EF_PICKED) {
                set_cell(out, T_INTEGER, 0, 0, 0);
            } else {
                set_cell(out, T_NONE);
            }
            return out;
        }
        case EF_KEY:
            if (e.data3 & 0xFFFF) return push_char(e.data3 & 0xFFFF);
            return stack_push(&g_none_cell);
        default:  // orientation
            return stack_push(&g_none_cell);
    }
}

Cell* event_push(const Cell* event) { return stack_push(event); }

namespace {

// make event! spec: a block of set-word / value settings.
Cell* event_make(Cell*, Cell* spec, u32) {
    Cell* result = stack_push_slot();
    set_cell(result, T_EVENT | EVENT_RECORD_BIT);
    if (type_of(spec) != T_BLOCK) return result;
    names();  // interned before any buffer of the spec is held
    // The record's values, rooted on the stack until the record exists.
    Cell* record = stack_push(&g_none_cell);
    stack_push(&g_none_cell);
    Cell* offset = stack_push_slot();
    set_cell(offset, T_PAIR, 0, 0, 0);
    Cell* picked = stack_push_slot();
    set_cell(picked, T_INTEGER, 0, 0, 0);
    bool any = false;

    u32 i = u32(series_head(spec) < 0 ? 0 : series_head(spec));
    for (;; ++i) {
        SeriesBuffer* b = buffer_of(series_node(spec));
        u32 n = (b->tail - b->offset) / sizeof(Cell);
        if (i + 1 >= n) break;
        Cell key = cells_of(b)[i];
        if (type_of(&key) != T_SET_WORD) continue;
        Cell v = cells_of(b)[++i];
        if ((type_of(&v) == T_WORD || type_of(&v) == T_GET_WORD) && word_context(&v)) {
            const Cell* bound = word_value_or_null(&v);
            v = bound ? *bound : g_unset_cell;
        }
        u32 vt = type_of(&v);
        switch (event_field_index(&key)) {
            case EF_TYPE:
                if (vt == T_WORD || vt == T_LIT_WORD) event_type_code(result, &v);
                break;
            case EF_KEY:
                if (vt == T_CHAR) result->data3 |= v.data2 & 0xFFFF;
                break;
            case EF_FLAGS:
                if (vt == T_BLOCK) {
                    SeriesBuffer* fb = buffer_of(series_node(&v));
                    Cell* f = cells_of(fb) + (series_head(&v) < 0 ? 0 : series_head(&v));
                    for (Cell* end = at<Cell>(fb->tail); f < end; ++f)
                        if (type_of(f) == T_WORD) result->data3 |= event_flag_bits(f);
                }
                break;
            case EF_FACE:
            case EF_WINDOW:
                if (vt == T_OBJECT) {
                    record[event_field_index(&key) == EF_FACE ? 0 : 1] = v;
                    any = true;
                }
                break;
            case EF_OFFSET:
                if (vt == T_PAIR || vt == T_POINT2D) {
                    *offset = v;
                    any = true;
                }
                break;
            case EF_PICKED:
                if (vt == T_INTEGER) {
                    *picked = v;
                    any = true;
                }
                break;
            default: break;
        }
    }
    if (any) {
        Node fields = alloc_cells(4);
        for (int k = 0; k < 4; ++k) *block_alloc_tail(fields) = record[k];
        result->data2 = fields;
    }
    stack_pop(4);
    return result;
}

i32 event_form(Cell*, Cell* out, Cell*, i32 limit) {
    append_c_string(out, "event");
    return limit - 5;
}

i32 event_mold(Cell* value, Cell* out, bool, bool, bool, Cell* part, i32 limit, i32) {
    return event_form(value, out, part, limit);
}

Cell* event_eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, i32, bool, bool get, bool) {
    i32 index = event_field_index(element);
    if (value && !get) {
        if (index != EF_TYPE) raise_error(Err::script_bad_path_set, path, element);
        if (type_of(value) != T_WORD) raise_error(Err::script_bad_path_set, path, value);
        event_type_code(parent, value);
        return value;
    }
    if (index < 0) raise_error(Err::script_invalid_path, path, element);
    return event_get_field(parent, index);
}

Cell* event_pick(Cell* event, i32 index, Cell* index_cell) {
    i32 n = type_of(index_cell) == T_INTEGER ? index : event_field_index(index_cell);
    if (n < 1 || n > i32(FIELD_COUNT)) raise_error(Err::script_out_of_range, index_cell);
    return event_get_field(event, n);
}

// Events are all equal to each other and have no order.
i32 event_compare(Cell*, Cell* other, i32 op) {
    if (type_of(other) != T_EVENT) return -2;
    switch (op) {
        case 0: case 1: case 2: case 7: case 8: case 9: case 12: return 0;
        default: return -2;
    }
}

void init_event() {
    TypeRegistration r(T_EVENT, 0, "event!");
    r.set<A_MAKE>(event_make).set<A_FORM>(event_form).set<A_MOLD>(event_mold);
    r.set<A_EVAL_PATH>(event_eval_path).set<A_COMPARE>(event_compare).set<A_PICK>(event_pick);
    register_datatype(r);
}

}  // namespace

KEL_DATATYPE(T_EVENT, init_event);

}  // namespace kel::dt
