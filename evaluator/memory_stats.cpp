// The memory figures of `stats` and `recycle`.
#include "evaluator/memory_stats.h"

#include <initializer_list>

#include "datatypes/block.h"
#include "datatypes/float.h"
#include "runtime/gc.h"
#include "runtime/memory.h"

namespace kel::ev {

using namespace rt;

namespace {

// The figures walk the frames: no collection may move them meanwhile.
struct CollectorHeld {
    bool was = g_gc_enabled;
    CollectorHeld() { g_gc_enabled = false; }
    ~CollectorHeld() { g_gc_enabled = was; }
};

void append_row(Cell* block, std::initializer_list<double> figures) {
    Cell row;
    dt::make_block_at(&row, i32(figures.size()));
    row.header |= CELL_NEW_LINE;
    for (double f : figures) {
        Cell n;
        set_memory_figure(&n, f);
        dt::ks_append(&row, &n);
    }
    dt::ks_append(block, &row);
}

}  // namespace

void set_memory_figure(Cell* c, double bytes) {
    if (bytes <= 2147483647.0) set_cell(c, T_INTEGER, 0, u32(i32(bytes)), 0);
    else dt::make_float_at(c, bytes);
}

double memory_in_use() {
    CollectorHeld held;
    MemoryFigures m = memory_figures();
    return double(m.node_used_bytes + m.series_used_bytes + m.big_bytes);
}

void memory_stats_info(Cell* out) {
    CollectorHeld held;
    Cell nodes, series, bigs;
    dt::make_block_at(&nodes, 4);
    dt::ks_append(out, &nodes);
    dt::make_block_at(&series, 4);
    dt::ks_append(out, &series);
    dt::make_block_at(&bigs, 4);
    dt::ks_append(out, &bigs);
    for (Off f = g_memory.node_frame_head; f; f = at<NodeFrame>(f)->next) {
        auto* nf = at<NodeFrame>(f);
        append_row(&nodes, {double(nf->capacity - nf->used), double(nf->used), double(nf->capacity)});
    }
    for (Off f = g_memory.series_frame_head; f; f = at<SeriesFrame>(f)->next) {
        auto* sf = at<SeriesFrame>(f);
        double total = sf->end - off_of(sf->area());
        double used = sf->bump - off_of(sf->area());
        append_row(&series, {total - used, used, total});
    }
    for (Off f = g_memory.big_frame_head; f; f = at<BigFrame>(f)->next) append_row(&bigs, {double(at<BigFrame>(f)->size)});
    Cell n;
    MemoryFigures m = memory_figures();
    set_memory_figure(&n, double(m.node_used_bytes + m.series_used_bytes + m.big_bytes));
    dt::ks_append(out, &n);
    set_memory_figure(&n, double(m.os_bytes));
    dt::ks_append(out, &n);
}

}  // namespace kel::ev
