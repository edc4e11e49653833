// The `transcode` native: text (a string! or UTF-8 binary!) to values, or only the type of
// the next value.
#include <string>

#include "datatypes/block.h"
#include "datatypes/dispatch.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "lexer/lexer.h"
#include "runtime/errors.h"
#include "runtime/gc.h"
#include "runtime/stack.h"

namespace kel::lex {

using namespace rt;

namespace {

enum Refinement { R_NEXT, R_ONE, R_PRESCAN, R_SCAN, R_PART, R_INTO, R_TRACE };

Cell* refinement_arg(const i32* refinements, int k) {
    return refinements[k] < 0 ? nullptr : stack_arg(u32(refinements[k]));
}

// The units to scan from the source's position: /part as a count or as a position in the
// same kind of series; anything else means the whole rest.
u32 part_length(const Cell* src, const Cell* part, u32 available) {
    if (!part) return available;
    i64 n = available;
    u32 pt = type_of(part);
    bool src_binary = type_of(src) == T_BINARY;
    if (pt == T_INTEGER) {
        n = get_int(part);
    } else if (pt == T_BINARY || dt::is_text_type(pt)) {
        if ((pt == T_BINARY) != src_binary) raise_error(Err::script_not_same_type);
        Cell limit = *part;
        i64 limit_head = dt::series_clamped_head(&limit);
        n = limit_head - series_head(src);
    }
    if (n < 0) n = 0;
    return n > i64(available) ? available : u32(n);
}

Status transcode_native(bool, const i32* refinements) {
    RootGuard source(*stack_arg(0));
    Cell* src = &source.cell;
    bool next = refinements[R_NEXT] >= 0, one = refinements[R_ONE] >= 0;
    bool prescan = refinements[R_PRESCAN] >= 0, scan = refinements[R_SCAN] >= 0;
    Cell* part = refinement_arg(refinements, R_PART);
    Cell* into = refinement_arg(refinements, R_INTO);
    Cell* trace = refinement_arg(refinements, R_TRACE);

    // A position beyond the tail reads as the tail.
    src->data1 = u32(dt::series_clamped_head(src));
    bool binary = type_of(src) == T_BINARY;
    std::string bytes;
    if (binary) {
        SeriesBuffer* b = buffer_of(series_node(src));
        const u8* head = b->head_ptr() + series_head(src);
        u32 available = u32(b->tail_ptr() - head);
        if (available >= 3 && head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF) {
            src->data1 += 3;
            head += 3;
            available -= 3;
        }
        u32 n = part_length(src, part, available);
        bytes.assign(reinterpret_cast<const char*>(head), n);
    }

    RunOptions o;
    o.one = next || one || scan;
    o.checked = !prescan;
    o.load = !prescan && !scan;
    o.callback = trace;
    o.source = src;
    o.into = into;
    RootGuard result;
    u32 consumed = 0;
    u32 type;
    if (binary) {
        type = lexer_run(&result.cell, reinterpret_cast<const u8*>(bytes.data()), u32(bytes.size()), o, &consumed);
    } else {
        u32 available = dt::string_length(src);
        type = transcode_series(&result.cell, src, i32(part_length(src, part, available)), o, &consumed);
    }

    Cell value;
    if (prescan || scan) {
        if (type == 0 || (consumed == 0 && type != T_ERROR)) set_cell(&value, T_NONE);
        else set_cell(&value, T_DATATYPE, type);
    } else if (into && !(next && !one)) {
        value = *into;
    } else {
        value = result.cell;
    }
    if (next && !one) {
        RootGuard first(value);
        Cell rest = *src;
        rest.data1 += consumed;
        Cell* out = stack_result();
        set_cell(out, T_NONE);
        dt::make_block_at(out, 2);
        dt::ks_append(out, &first.cell);
        dt::ks_append(out, &rest);
        return 0;
    }
    *stack_result() = value;
    return 0;
}

}  // namespace

KEL_NATIVE(106, transcode_native);

}  // namespace kel::lex
