// Loop iteration helpers.
#include "evaluator/loop_helpers.h"

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/image.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "evaluator/interpreter.h"
#include "runtime/errors.h"
#include "runtime/series.h"
#include "runtime/stack.h"

namespace kel::ev {

using namespace rt;
using namespace dt;

namespace {

// The tail of a series: an image's is its pixel count, not the size of its record.
i32 series_end(const Cell* series) {
    return type_of(series) == T_IMAGE ? i32(image_pixel_count(series)) : ks_buffer_length(series);
}

// The cells from a series' index to its tail (0 when the index lies beyond it).
i32 remaining(const Cell* series) {
    i32 n = series_end(series) - series_head(series);
    return n < 0 ? 0 : n;
}

// Element `offset` after the index of a series, copied into `out`; none past the tail. Cell
// series give the cell itself; other series go through their pick action.
void element_at(const Cell* series, i32 offset, Cell* out) {
    if (offset >= remaining(series)) {
        set_cell(out, T_NONE);
        return;
    }
    if (is_cell_series_type(type_of(series))) {
        *out = *(cells_of(series_buffer(series)) + series_head(series) + offset);
        return;
    }
    Cell s = *series, index;
    set_cell(&index, T_INTEGER, 0, u32(offset + 1));
    Cell* top = g_args.top;
    *out = *dispatch<A_PICK>(&s, offset + 1, &index);
    g_args.top = top;
}

void set_word(const Cell* word, const Cell* value) {
    Cell w = *word, v = *value;
    assign_word_value(&w, &v);
}

bool is_settable_word(u32 t) { return t == T_WORD || t == T_SET_WORD || t == T_GET_WORD || t == T_LIT_WORD; }

// The map's next live entry at or after the position (key index), or -1.
i32 next_map_entry(const Cell* map) {
    Node entries = series_node(map);
    u32 count = series_length(entries);
    for (u32 i = u32(series_head(map) < 0 ? 0 : series_head(map)); i + 1 < count; i += 2)
        if (cells_of(buffer_of(entries))[i + 1].header != 0) return i32(i);
    return -1;
}

}  // namespace

bool forall_before_tail(const Cell* series) { return series_head(series) < series_end(series); }

void foreach_set_words(const Cell* words, const Cell* series, i32 count) {
    for (i32 i = 0; i < count; ++i) {
        Cell value;
        element_at(series, i, &value);
        Cell word = *(cells_of(series_buffer(words)) + series_head(words) + i);
        if (!is_settable_word(type_of(&word))) raise_error(Err::script_invalid_arg, &word);
        set_word(&word, &value);
    }
}

bool foreach_check(Cell* series, const Cell* words, i32 n) {
    if (n <= 0) return false;
    u32 t = type_of(series);
    if (t == T_MAP) {
        if (n != 2) raise_error(Err::script_invalid_arg, words);
        i32 at_key = next_map_entry(series);
        if (at_key < 0) return false;
        Cell key = cells_of(series_buffer(series))[at_key];
        // Word keys are stored as set-words; the loop sees them as words.
        if (type_of(&key) == T_SET_WORD) set_cell_type(&key, T_WORD);
        Cell value = cells_of(series_buffer(series))[at_key + 1];
        Cell w0 = *(cells_of(series_buffer(words)) + series_head(words));
        Cell w1 = *(cells_of(series_buffer(words)) + series_head(words) + 1);
        series->data1 = u32(at_key + 2);
        set_word(&w0, &key);
        set_word(&w1, &value);
        return true;
    }
    if (!forall_before_tail(series)) return false;
    Cell at_pos = *series;
    series->data1 = u32(series_head(series) + n);
    if (is_cell_series_type(t)) assign_words(words, &at_pos, n, true, false, false);
    else foreach_set_words(words, &at_pos, n);
    return true;
}

bool foreach_next(Cell* series, const Cell* word) {
    if (!forall_before_tail(series)) return false;
    Cell value;
    element_at(series, 0, &value);
    series->data1 = u32(series_head(series) + 1);
    set_word(word, &value);
    return true;
}

void assign_words(const Cell* words, const Cell* values, i32 count, bool any, bool only, bool some) {
    u32 vt = type_of(values);
    bool spread = !only && (is_cell_series_type(vt) || vt == T_MAP);
    // Element i of the values, or none past their tail (a removed map entry reads as none).
    auto value_at = [&](i32 i, Cell* out) {
        if (!spread) {
            *out = *values;
            return;
        }
        i32 head = series_head(values) < 0 ? 0 : series_head(values);
        if (head + i >= ks_buffer_length(values)) {
            set_cell(out, T_NONE);
            return;
        }
        *out = cells_of(series_buffer(values))[head + i];
        if (out->header == 0) set_cell(out, T_NONE);
    };
    auto word_at = [&](i32 i) { return *(cells_of(series_buffer(words)) + series_head(words) + i); };
    if (spread) {
        // Checked before anything is assigned, so that a bad block leaves every word as it was.
        for (i32 i = 0; i < count; ++i) {
            Cell w = word_at(i), v;
            if (!is_settable_word(type_of(&w))) raise_error(Err::script_invalid_arg, &w);
            value_at(i, &v);
            if (!any && type_of(&v) == T_UNSET) raise_error(Err::script_need_value, &w);
        }
    }
    for (i32 i = 0; i < count; ++i) {
        Cell w = word_at(i), v;
        value_at(i, &v);
        if (some && type_of(&v) == T_NONE) continue;
        if (!is_settable_word(type_of(&w))) raise_error(Err::script_invalid_arg, &w);
        if (!spread && !any && type_of(&v) == T_UNSET) raise_error(Err::script_need_value, &w);
        set_word(&w, &v);
    }
}

void remove_each_step(Cell* series, i32 n, const Cell* body_value) {
    u32 t = type_of(body_value);
    if (t == T_NONE || (t == T_LOGIC && body_value->data1 != 1)) return;
    i32 end = series_head(series);
    i32 start = end - n < 0 ? 0 : end - n;
    i32 total = ks_buffer_length(series);
    if (start >= total) return;
    if (end > total) end = total;
    Cell at_start = *series;
    at_start.data1 = u32(start);
    Cell* top = g_args.top;
    Cell* s = stack_push(&at_start);
    Cell* part = nullptr;
    if (end - start != 1) {
        part = stack_push_slot();
        set_cell(part, T_INTEGER, 0, u32(end - start));
    }
    Cell* result = dispatch<A_REMOVE>(s, part, nullptr);
    series->data1 = type_of(result) == type_of(series) ? result->data1 : u32(start);
    g_args.top = top;
}

bool forall_next(const Cell* word, const Cell* start) {
    Cell w = *word;
    Cell current = *get_word_value_ptr(&w);
    if (!is_series_type(type_of(&current)) || series_node(&current) != series_node(start))
        raise_error(Err::script_bad_loop_series, &current);
    current.data1 = u32(series_head(&current) + 1);
    set_word_value(&w, &current);
    return !forall_before_tail(&current);
}

i32 loop_count_int(const Cell* count) { return float_to_int_checked(count); }

}  // namespace kel::ev
