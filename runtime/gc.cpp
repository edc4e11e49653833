// Garbage collector (the cycle and its invariants: gc.h and docs/architecture.md).
//
// Walks that meet buffers in address order ask about pins through a cursor (PinnedWalk), and
// dead nodes go back unsorted: a collection after a burst of short-lived series meets
// hundreds of thousands of each, where a search or a sort per cycle was a large share.
#include "runtime/gc.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <csetjmp>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "runtime/externals.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"
#include "runtime/platform.h"
#include "runtime/stack.h"

#ifndef KEL_GC_STRESS
#define KEL_GC_STRESS 0
#endif

namespace kel::rt {

bool g_gc_enabled = false;
bool g_gc_collecting = false;
u32 g_gc_node_moves = 0;

namespace {

constexpr u32 STRESS_INTERVAL = KEL_GC_STRESS;
constexpr bool STRESS = STRESS_INTERVAL > 0;
constexpr u8 POISON = 0xDB;
// A gap between buffers that compaction could not close (before a pinned buffer): word 0
// holds this flag, word 1 the gap's length in bytes (at least 8).
constexpr u32 SB_FILLER = 0x40000000;
constexpr u32 EVACUATE_BELOW = 5000;  // node frames with fewer used nodes may be emptied
constexpr u32 HISTORY_DEPTH = 5;

u32 g_collections = 0;
u32 g_stress_count = 0;

std::vector<Off> g_mark_stack;  // buffers whose cells still need marking
std::vector<Node*> g_node_roots;
std::vector<Cell*> g_cell_roots;
std::vector<MarkHook> g_hooks;
std::vector<MarkHook> g_after_mark_hooks;
std::vector<MarkHook> g_after_collect_hooks;
TypeMarker g_type_markers[256];
std::unordered_map<Node, Node> g_forward;  // node moves of this cycle
std::vector<Node> g_dead_nodes;

// This cycle's view of the frames.
struct Range {
    Off start, end, frame;
};
std::vector<Range> g_node_areas;    // node frames' node areas, sorted
std::vector<Range> g_series_areas;  // series frames' used areas and big buffers, sorted
std::vector<Off> g_pinned;          // buffers found from the native stack, sorted
std::vector<Off> g_pinned_node_frames;

const u8* g_stack_high = nullptr;

// ---- frame tables ---------------------------------------------------------------------

void build_frame_tables() {
    g_node_areas.clear();
    for (Off f = g_memory.node_frame_head; f; f = at<NodeFrame>(f)->next) {
        auto* nf = at<NodeFrame>(f);
        Off start = off_of(nf->nodes());
        g_node_areas.push_back({start, start + nf->capacity * 4, f});
    }
    std::sort(g_node_areas.begin(), g_node_areas.end(), [](auto& a, auto& b) { return a.start < b.start; });
    g_series_areas.clear();
    for (Off f = g_memory.series_frame_head; f; f = at<SeriesFrame>(f)->next) {
        auto* sf = at<SeriesFrame>(f);
        g_series_areas.push_back({off_of(sf->area()), sf->bump, f});
    }
    for (Off f = g_memory.big_frame_head; f; f = at<BigFrame>(f)->next) {
        auto* bf = at<BigFrame>(f);
        Off b = off_of(bf->buffer());
        g_series_areas.push_back({b, b + bf->size, 0});
    }
    std::sort(g_series_areas.begin(), g_series_areas.end(), [](auto& a, auto& b) { return a.start < b.start; });
}

const Range* find_range(const std::vector<Range>& v, Off o) {
    auto it = std::upper_bound(v.begin(), v.end(), o, [](Off x, const Range& r) { return x < r.start; });
    if (it == v.begin()) return nullptr;
    --it;
    return (o >= it->start && o < it->end) ? &*it : nullptr;
}

// The node frame holding a node, or 0.
Off node_frame_of(Node n) {
    const Range* r = find_range(g_node_areas, n);
    return (r && ((n - r->start) & 3) == 0) ? r->frame : 0;
}

inline u32 occupied(const SeriesBuffer* b) { return (b->flags & SB_FILLER) ? b->node : b->size + 24; }

void write_filler(Off at_off, u32 len) {
    u32* w = at<u32>(at_off);
    w[0] = SB_FILLER;
    w[1] = len;
    if (STRESS && len > 8) std::memset(w + 2, POISON, len - 8);
}

// ---- marking --------------------------------------------------------------------------

// A node moved twice in one cycle (its first new frame was emptied too) is followed along.
inline void forward(Node& slot) {
    if (g_forward.empty()) return;
    for (auto it = g_forward.find(slot); it != g_forward.end(); it = g_forward.find(slot)) slot = it->second;
}

inline bool mark_buffer(SeriesBuffer* b) {
    if (b->flags & SB_MARK) return false;
    b->flags |= SB_MARK;
    return true;
}

void drain() {
    while (!g_mark_stack.empty()) {
        auto* b = at<SeriesBuffer>(g_mark_stack.back());
        g_mark_stack.pop_back();
        mark_cells(at<Cell>(b->offset), at<Cell>(b->tail));
    }
}

}  // namespace

void gc_relocate(Node& slot) {
    if (slot) forward(slot);
}

bool gc_node_marked(Node n) {
    if (!n) return false;
    forward(n);
    Off buf = *at<u32>(n);
    return buf && (at<SeriesBuffer>(buf)->flags & SB_MARK);
}

bool mark_node(Node& slot) {
    if (!slot) return false;
    forward(slot);
    Off buf = *at<u32>(slot);
    if (!buf) return false;
    return mark_buffer(at<SeriesBuffer>(buf));
}

void mark_block(Node& slot) {
    if (!mark_node(slot)) return;
    auto* b = buffer_of(slot);
    if (b->unit() == 16) g_mark_stack.push_back(off_of(b));
}

namespace {
// Record tables may be keyed by values that are not nodes: only real nodes are marked.
bool mark_node_slot(u32* slot) {
    if (*slot && !node_frame_of(*slot) && !g_forward.count(*slot)) return false;
    return mark_node(*slot);
}
void mark_block_cells(Node block) {
    auto* b = buffer_of(block);
    if (b->unit() == 16) g_mark_stack.push_back(off_of(b));
}
const HashMarkOps g_hash_mark_ops{mark_node_slot, mark_block_cells};
}  // namespace

void mark_hashtable(Node& slot) {
    if (mark_node(slot)) hashtable_mark(slot, g_hash_mark_ops);
}

namespace {
// A node held without a cell that tells its type (native stack, node roots).
void mark_bare_node(Node& slot) {
    if (!slot) return;
    forward(slot);
    Off buf = *at<u32>(slot);
    if (buf && (at<SeriesBuffer>(buf)->flags & SB_TABLE)) mark_hashtable(slot);
    else mark_block(slot);
}
}  // namespace

void mark_value(Cell* c) {
    u32 t = type_of(c);
    if (g_type_markers[t]) {
        g_type_markers[t](c);
        return;
    }
    switch (t) {
        case T_BLOCK: case T_PAREN: case T_PATH: case T_LIT_PATH: case T_SET_PATH: case T_GET_PATH:
            mark_block(c->data2);
            break;
        case T_HASH: case T_MAP:
            mark_block(c->data2);
            if (c->data3) mark_hashtable(c->data3);
            break;
        case T_STRING: case T_FILE: case T_URL: case T_TAG: case T_EMAIL: case T_REF:
            mark_node(c->data2);
            if (c->data3) mark_node(c->data3);
            break;
        case T_BINARY: case T_BITSET: case T_VECTOR: case T_IMAGE:
            mark_node(c->data2);
            break;
        case T_SYMBOL:
            if (c->data3) mark_node(c->data3);
            if (c->data2) mark_node(c->data2);
            break;
        case T_CONTEXT:
            if (c->data1) mark_hashtable(c->data1);
            if (!(c->header & 0x400000) && c->data2) mark_block(c->data2);
            break;
        case T_WORD: case T_SET_WORD: case T_LIT_WORD: case T_GET_WORD: case T_REFINEMENT: case T_ISSUE:
            if (c->data1) mark_block(c->data1);
            break;
        case T_NATIVE: case T_ACTION:
            mark_block(c->data2);
            mark_block(c->data3);
            break;
        case T_OP: {
            u32 source = (c->header >> 16) & 0xFF;
            mark_block(c->data2);
            mark_block(c->data3);
            if (source == T_FUNCTION || source == T_ROUTINE) mark_block(c->data1);
            break;
        }
        case T_FUNCTION: case T_ROUTINE:
            mark_block(c->data1);
            mark_block(c->data2);
            mark_block(c->data3);
            break;
        case T_OBJECT: case T_ERROR: case T_PORT:
            mark_block(c->data1);
            if (c->data3) mark_block(c->data3);
            break;
        case T_HANDLE:
            if (i32(c->data3) >= 0) externals_mark(i32(c->data3), nullptr);
            break;
        case T_EVENT:  // a made event's field record
            if ((c->header & 0x1000) && c->data2) mark_block(c->data2);
            break;
        default: break;
    }
}

void mark_cells(Cell* first, Cell* end) {
    for (Cell* c = first; c < end; ++c) mark_value(c);
}

void gc_set_type_marker(u32 type, TypeMarker marker) { g_type_markers[type & 0xFF] = marker; }

// ---- roots ----------------------------------------------------------------------------

void register_mark_hook(MarkHook hook) { g_hooks.push_back(hook); }
void unregister_mark_hook(MarkHook hook) {
    for (auto& h : g_hooks)
        if (h == hook) {
            h = nullptr;
            return;
        }
}
void register_after_mark_hook(MarkHook hook) { g_after_mark_hooks.push_back(hook); }
void register_after_collect_hook(MarkHook hook) { g_after_collect_hooks.push_back(hook); }
void gc_register_node_root(Node* slot) { g_node_roots.push_back(slot); }
void gc_unregister_node_root(Node* slot) {
    auto it = std::find(g_node_roots.rbegin(), g_node_roots.rend(), slot);
    if (it != g_node_roots.rend()) g_node_roots.erase(std::next(it).base());
}
void gc_register_cell_root(Cell* cell) { g_cell_roots.push_back(cell); }
void gc_unregister_cell_root(Cell* cell) {
    // Guards are nearly always released in reverse order of creation.
    auto it = std::find(g_cell_roots.rbegin(), g_cell_roots.rend(), cell);
    if (it != g_cell_roots.rend()) g_cell_roots.erase(std::next(it).base());
}

namespace {

void mark_frames() {
    for (CallFrame* f = g_calls.bottom; f < g_calls.top; ++f) {
        if (f->context) mark_block(f->context);
        if (frame_type(f) == FRAME_FUNCTION && f->fn_context) {
            mark_block(f->fn_context);
            Cell* ctx = cells_of(buffer_of(f->fn_context));
            // Argument contexts keep their values on the stack: the saved word is a position.
            if (!(ctx->header & 0x400000) && f->fn_values) mark_block(f->fn_values);
        }
    }
}

void mark_roots() {
    mark_cells(g_args.bottom, g_args.top);
    mark_frames();
    for (Node* slot : g_node_roots) mark_bare_node(*slot);
    for (Cell* cell : g_cell_roots) mark_value(cell);
    for (MarkHook hook : g_hooks)
        if (hook) hook();
    drain();
}

// ---- the native stack -----------------------------------------------------------------

std::vector<Off> g_candidates;

inline void consider(u64 word) {
    const u8* p = reinterpret_cast<const u8*>(word);
    if (p >= g_arena && p < g_arena + (u64(1) << 32)) g_candidates.push_back(Off(p - g_arena));
    u32 lo = u32(word), hi = u32(word >> 32);
    if (lo >= ARENA_GUARD) g_candidates.push_back(lo);
    if (hi >= ARENA_GUARD) g_candidates.push_back(hi);
}

// The stack holds sanitizer red zones between locals: read it unchecked.
__attribute__((no_sanitize_address)) void scan_words(const u8* from, const u8* to) {
    from = reinterpret_cast<const u8*>((reinterpret_cast<uintptr_t>(from) + 7) & ~uintptr_t(7));
    for (const u8* p = from; p + 8 <= to; p += 8) consider(*reinterpret_cast<const volatile u64*>(p));
}

// `low` is the collection's entry frame: the frames below it are the collector's own, whose
// unwritten slots hold stale values of earlier calls. `regs` holds the registers saved there.
void scan_native_stack(const u8* low, const jmp_buf& regs) {
    g_candidates.clear();
    // Only the register words: the rest of a jmp_buf (the signal mask) is never written.
    const auto& words = regs[0].__jmpbuf;
    scan_words(reinterpret_cast<const u8*>(&words), reinterpret_cast<const u8*>(&words) + sizeof words);
    const u8* high = g_stack_high ? g_stack_high : g_native_stack_high;
    if (high && high > low) scan_words(low, high);
    std::sort(g_candidates.begin(), g_candidates.end());
    g_candidates.erase(std::unique(g_candidates.begin(), g_candidates.end()), g_candidates.end());
}

// The stack's nodes pin their frames against evacuation; planning needs them first.
void pin_node_frames_from_stack() {
    g_pinned_node_frames.clear();
    for (Off o : g_candidates)
        if (Off f = node_frame_of(o)) g_pinned_node_frames.push_back(f);
    std::sort(g_pinned_node_frames.begin(), g_pinned_node_frames.end());
    g_pinned_node_frames.erase(std::unique(g_pinned_node_frames.begin(), g_pinned_node_frames.end()),
                               g_pinned_node_frames.end());
}

bool is_storage(Off o) { return find_range(g_series_areas, o) != nullptr; }

// Marks what the stack refers to: nodes, and buffers that host pointers or offsets point
// into. The latter are pinned.
void mark_from_stack() {
    std::vector<Off> interior;
    for (Off o : g_candidates) {
        if (node_frame_of(o)) {
            Node n = o;
            Off buf = *at<u32>(n);
            if (buf && is_storage(buf)) mark_bare_node(n);
        } else if (is_storage(o)) {
            interior.push_back(o);
        }
    }
    // One walk over each frame's buffers resolves the sorted interior pointers.
    g_pinned.clear();
    size_t i = 0;
    for (const Range& r : g_series_areas) {
        while (i < interior.size() && interior[i] < r.start) ++i;
        if (i >= interior.size()) break;
        if (interior[i] >= r.end) continue;
        for (Off pos = r.start; pos < r.end && i < interior.size();) {
            auto* b = at<SeriesBuffer>(pos);
            u32 len = r.frame ? occupied(b) : r.end - r.start;
            Off end = pos + len;
            if (interior[i] < end) {
                if (!(b->flags & SB_FILLER)) {
                    g_pinned.push_back(pos);
                    if (mark_buffer(b)) {
                        if (b->unit() == 16) g_mark_stack.push_back(pos);
                        // A pointer into a table's record: its parts live as long as it.
                        else if ((b->flags & SB_TABLE) && b->node) {
                            Node n = b->node;
                            forward(n);
                            hashtable_mark(n, g_hash_mark_ops);
                        }
                    }
                }
                while (i < interior.size() && interior[i] < end) ++i;
            }
            pos = end;
        }
    }
    drain();
}

inline bool is_pinned(Off buf) { return std::binary_search(g_pinned.begin(), g_pinned.end(), buf); }

// Whether buffers are pinned, asked in address order (the frames' walks): a cursor through the
// sorted pinned list instead of a search for each buffer. A question out of order searches.
struct PinnedWalk {
    size_t i = 0;
    Off last = 0;
    bool operator()(Off buf) {
        if (buf < last) return is_pinned(buf);
        last = buf;
        while (i < g_pinned.size() && g_pinned[i] < buf) ++i;
        return i < g_pinned.size() && g_pinned[i] == buf;
    }
};

// ---- node moves -----------------------------------------------------------------------

void plan_node_moves() {
    g_forward.clear();
    // Free nodes available outside the frames that could be emptied.
    u64 free_nodes = 0;
    for (Off f = g_memory.node_frame_head; f; f = at<NodeFrame>(f)->next) {
        auto* nf = at<NodeFrame>(f);
        if (!nf->release) free_nodes += nf->capacity - nf->used;
    }
    Off current = g_memory.node_frame_current;
    u32 history_mask = (1u << (HISTORY_DEPTH + 1)) - 1;
    bool moved = false;
    for (Off f = g_memory.node_frame_tail; f && free_nodes > NODES_PER_FRAME; f = at<NodeFrame>(f)->prev) {
        auto* nf = at<NodeFrame>(f);
        if (f == current || nf->release || nf->used >= EVACUATE_BELOW || nf->used == 0) continue;
        // Frames made before the collector ran hold the start-up's nodes: they stay.
        if (nf->stamp == 0) continue;
        if (!STRESS && (nf->history & history_mask) != history_mask) continue;
        if (std::binary_search(g_pinned_node_frames.begin(), g_pinned_node_frames.end(), f)) continue;
        // Move every used node of this frame to a free node elsewhere.
        nf->release = 1;
        u32* nodes = nf->nodes();
        std::vector<bool> is_free(nf->capacity, false);
        for (Off fr = nf->free_head; fr; fr = *at<u32>(fr)) is_free[(fr - off_of(nodes)) / 4] = true;
        for (u32 k = 0; k < nf->capacity; ++k) {
            if (is_free[k]) continue;
            Node old_node = off_of(&nodes[k]);
            Node fresh = alloc_node();
            Off buf = nodes[k];
            *at<u32>(fresh) = buf;
            if (buf) at<SeriesBuffer>(buf)->node = fresh;
            g_forward.emplace(old_node, fresh);
        }
        nf->used = 0;
        free_nodes -= std::min<u64>(free_nodes, NODES_PER_FRAME);
        moved = true;
    }
    if (moved) ++g_gc_node_moves;
}

// ---- compaction -----------------------------------------------------------------------

void relocate(SeriesBuffer* b, i64 delta) {
    b->offset = Off(i64(b->offset) + delta);
    b->tail = Off(i64(b->tail) + delta);
    if (b->node) *at<u32>(b->node) = off_of(b);
}

void bury(SeriesBuffer* b) {
    if (b->node && (b->flags & SB_IN_USE)) g_dead_nodes.push_back(b->node);
}

void compact_frames() {
    PinnedWalk is_pinned;
    Off prev = 0;
    Off f = g_memory.series_frame_head;
    while (f) {
        auto* sf = at<SeriesFrame>(f);
        Off next = sf->next;
        Off pos = off_of(sf->area());
        Off cursor = pos;
        Off end = sf->bump;
        auto* pf = prev ? at<SeriesFrame>(prev) : nullptr;
        while (pos < end) {
            auto* b = at<SeriesBuffer>(pos);
            u32 len = occupied(b);
            if (b->flags & SB_FILLER) {
                pos += len;
                continue;
            }
            bool pinned = is_pinned(pos);
            if (!(b->flags & SB_MARK) && !pinned) {
                bury(b);
                pos += len;
                continue;
            }
            b->flags &= ~SB_MARK;
            if (pinned) {
                if (cursor < pos) write_filler(cursor, pos - cursor);
                cursor = pos + len;
            } else if (pf && pf->end - pf->bump >= len) {
                Off to = pf->bump;
                std::memcpy(at(to), b, len);
                pf->bump += len;
                relocate(at<SeriesBuffer>(to), i64(to) - i64(pos));
            } else {
                if (cursor != pos) {
                    std::memmove(at(cursor), b, len);
                    relocate(at<SeriesBuffer>(cursor), i64(cursor) - i64(pos));
                }
                cursor += len;
            }
            pos += len;
        }
        sf->bump = cursor;
        if (STRESS) std::memset(at(cursor), POISON, sf->end - cursor);
        if (cursor == off_of(sf->area()) && next) {
            free_series_frame(f);
        } else {
            prev = f;
        }
        f = next;
    }
}

// Stress: every movable buffer goes to a fresh frame, and frames left without pinned
// buffers are unmapped, so that a stale pointer faults at once.
void evacuate_frames() {
    std::vector<Off> fresh;
    auto new_target = [&fresh]() {
        Off t = os_alloc_block(FRAME_SIZE_2M + sizeof(SeriesFrame));
        auto* sf = at<SeriesFrame>(t);
        sf->block_size = FRAME_SIZE_2M + sizeof(SeriesFrame);
        sf->bump = off_of(sf->area());
        sf->end = sf->bump + FRAME_SIZE_2M;
        sf->next = sf->prev = 0;
        fresh.push_back(t);
        return sf;
    };
    SeriesFrame* target = nullptr;
    std::vector<Off> kept;
    PinnedWalk is_pinned;
    for (Off f = g_memory.series_frame_head; f;) {
        auto* sf = at<SeriesFrame>(f);
        Off next = sf->next;
        Off pos = off_of(sf->area());
        Off cursor = pos;
        bool any_pinned = false;
        while (pos < sf->bump) {
            auto* b = at<SeriesBuffer>(pos);
            u32 len = occupied(b);
            if (b->flags & SB_FILLER) {
                pos += len;
                continue;
            }
            bool pinned = is_pinned(pos);
            if (!(b->flags & SB_MARK) && !pinned) {
                bury(b);
            } else {
                b->flags &= ~SB_MARK;
                if (pinned) {
                    if (cursor < pos) write_filler(cursor, pos - cursor);
                    cursor = pos + len;
                    any_pinned = true;
                } else {
                    if (!target || target->end - target->bump < len) target = new_target();
                    Off to = target->bump;
                    std::memcpy(at(to), b, len);
                    target->bump += len;
                    relocate(at<SeriesBuffer>(to), i64(to) - i64(pos));
                }
            }
            pos += len;
        }
        if (any_pinned) {
            if (cursor < sf->bump) std::memset(at(cursor), POISON, sf->bump - cursor);
            sf->bump = cursor;
            kept.push_back(f);
        } else {
            os_free_block(f);
        }
        f = next;
    }
    if (kept.empty() && fresh.empty()) new_target();
    kept.insert(kept.end(), fresh.begin(), fresh.end());
    std::sort(kept.begin(), kept.end());
    for (size_t i = 0; i < kept.size(); ++i) {
        auto* sf = at<SeriesFrame>(kept[i]);
        sf->prev = i ? kept[i - 1] : 0;
        sf->next = i + 1 < kept.size() ? kept[i + 1] : 0;
    }
    g_memory.series_frame_head = kept.front();
    g_memory.series_frame_tail = kept.back();
    g_memory.series_frame_current = kept.back();
}

// Dead nodes go back in the order compaction met their buffers (roughly the order they were
// made): sorting them first cost more than the order gained. Consecutive nodes mostly share a
// frame, so the last frame found is tried before a search.
void return_dead_nodes() {
    const Range* r = nullptr;
    for (Node n : g_dead_nodes) {
        if (!r || n < r->start || n >= r->end) {
            r = find_range(g_node_areas, n);
            if (!r) continue;
        }
        if (((n - r->start) & 3) == 0) free_node(r->frame, n);
    }
    g_dead_nodes.clear();
}

}  // namespace

// ---- the cycle ------------------------------------------------------------------------

void gc_init() {
    g_mark_stack.reserve(1024);
    g_dead_nodes.reserve(20000);
}

bool gc_active() { return g_gc_collecting; }
u32 gc_collection_count() { return g_collections; }
u32 gc_move_counter() { return g_gc_node_moves; }

void gc_free_node(Node n) {
    if (n) g_dead_nodes.push_back(n);
}

void gc_attach_current_thread() {
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0) return;
    void* addr = nullptr;
    size_t size = 0;
    pthread_attr_getstack(&attr, &addr, &size);
    pthread_attr_destroy(&attr);
    g_stack_high = static_cast<const u8*>(addr) + size;
}

__attribute__((noinline)) void gc_collect() {
    // Spill the callee-saved registers first: they may hold the callers' values.
    jmp_buf regs;
    setjmp(regs);
    const u8* entry_frame = static_cast<const u8*>(__builtin_frame_address(0));
    if (g_gc_collecting || !stacks_ready()) return;
    g_gc_collecting = true;
    std::atomic_thread_fence(std::memory_order_seq_cst);
    build_frame_tables();
    scan_native_stack(entry_frame, regs);
    pin_node_frames_from_stack();
    plan_node_moves();
    if (!g_forward.empty()) build_frame_tables();  // planning may have made a node frame
    mark_from_stack();
    mark_roots();
    for (MarkHook hook : g_after_mark_hooks) hook();
    drain();
    externals_sweep();
    if (STRESS) evacuate_frames();
    else compact_frames();
    sweep_big_frames();
    return_dead_nodes();
    release_node_frames();
    stack_clear_above_top();
    g_forward.clear();
    ++g_collections;
    std::atomic_thread_fence(std::memory_order_seq_cst);
    g_gc_collecting = false;
    for (MarkHook hook : g_after_collect_hooks) hook();
}

void gc_trigger() {
    if (g_gc_enabled) gc_collect();
}

bool g_gc_stress_paused = false;

void gc_stress_point() {
    if (!STRESS || !g_gc_enabled || g_gc_stress_paused) return;
    if (++g_stress_count >= STRESS_INTERVAL) {
        g_stress_count = 0;
        gc_collect();
    }
}

MemoryFigures memory_figures() {
    MemoryFigures m{};
    for (Off f = g_memory.node_frame_head; f; f = at<NodeFrame>(f)->next) m.node_used_bytes += at<NodeFrame>(f)->used * 4;
    for (Off f = g_memory.series_frame_head; f; f = at<SeriesFrame>(f)->next)
        m.series_used_bytes += at<SeriesFrame>(f)->bump - off_of(at<SeriesFrame>(f)->area());
    for (Off f = g_memory.big_frame_head; f; f = at<BigFrame>(f)->next) m.big_bytes += at<BigFrame>(f)->size;
    m.os_bytes = g_memory.total_os_bytes;
    return m;
}

}  // namespace kel::rt
