// block!: form and mold, and the layout that every block-like mold shares.
#include "datatypes/block.h"
#include "datatypes/dispatch.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/walk_guard.h"
#include "runtime/stack.h"

namespace kel::dt {

using namespace rt;

namespace {

// The last character of the output text, 0 when it is empty.
u32 last_char(const Cell* out) {
    SeriesBuffer* b = series_buffer(out);
    if (b->tail == b->offset) return 0;
    u32 unit = b->unit();
    return get_char_at(at(b->tail - unit), unit);
}

void append_spaces(Cell* out, i32 n) {
    for (i32 i = 0; i < n; ++i) append_char(out, ' ');
}

// The value of cell i of the block, copied to the argument stack so that nested form and
// mold work on a cell that no allocation can move.
Cell* push_item(Node node, i32 i) { return stack_push(at<Cell>(buffer_of(node)->offset) + i); }

i32 total_cells(Node node) {
    SeriesBuffer* b = buffer_of(node);
    return i32((b->tail - b->offset) / sizeof(Cell));
}

}  // namespace

i32 block_form(Cell* value, Cell* out, Cell* part, i32 limit) {
    Node node = series_node(value);
    if (walk_in_progress(node)) {
        append_c_string(out, "...");
        return limit - 3;
    }
    WalkGuard guard(node);
    i32 head = series_clamped_head(value);
    for (i32 i = head; i < total_cells(node); ++i) {
        if (part && limit < 1) break;
        if (i > head) {
            u32 c = last_char(out);
            if (c != '\t' && c != '\n' && c != '\r') {
                append_char(out, ' ');
                limit -= 1;
            }
        }
        Cell* item = push_item(node, i);
        limit = form_dispatch(item, out, part, limit);
        stack_pop(1);
    }
    return limit;
}

i32 mold_block_items(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, i32 limit, i32 indent) {
    Node node = series_node(value);
    WalkGuard guard(node);
    i32 head = series_clamped_head(value);
    bool closing_break = false;
    for (i32 i = head; i < total_cells(node); ++i) {
        if (part && limit < 1) return limit;
        bool first = i == head;
        Cell* item = push_item(node, i);
        if (!flat && (item->header & CELL_NEW_LINE)) {
            if (first && !only) {
                indent += 1;
                closing_break = true;
            }
            if (!(first && only)) {
                append_char(out, '\n');
                limit -= 1;
            }
            append_spaces(out, 4 * indent);
            limit -= 4 * indent;
        } else if (!first) {
            append_char(out, ' ');
            limit -= 1;
        }
        limit = mold_dispatch(item, out, false, all, flat, part, limit, indent);
        stack_pop(1);
    }
    if (closing_break) {
        indent -= 1;
        append_char(out, '\n');
        append_spaces(out, 4 * indent);
        limit -= 1 + 4 * indent;
    }
    return limit;
}

i32 mold_bracketed(Cell* value, Cell* out, char open, char close, bool only, bool all, bool flat, Cell* part,
                   i32 limit, i32 indent) {
    if (walk_in_progress(series_node(value))) {
        const char marker[] = {open, '.', '.', '.', close, 0};
        append_c_string(out, marker);
        return limit - 5;
    }
    if (!only) {
        append_char(out, u32(u8(open)));
        limit -= 1;
    }
    limit = mold_block_items(value, out, only, all, flat, part, limit, indent);
    if (!only) {
        append_char(out, u32(u8(close)));
        limit -= 1;
    }
    return limit;
}

i32 block_mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, i32 limit, i32 indent) {
    return mold_bracketed(value, out, '[', ']', only, all, flat, part, limit, indent);
}

}  // namespace kel::dt
