// Memory manager: arena blocks, node frames, series frames, big frames.
#include "runtime/memory.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/gc.h"

namespace kel::rt {

MemoryState g_memory;

#ifndef KEL_GC_STRESS
#define KEL_GC_STRESS 0
#endif

namespace {
// Emptied node frames kept at the least (see release_node_frames).
constexpr u32 NODE_FRAMES_KEPT = 16;
}  // namespace

// ---- arena blocks ---------------------------------------------------------------------
//
// The arena hands out page-aligned ranges: first from ranges given back (first fit, so
// low addresses are reused first and frames stay compact), else from the bump pointer.

namespace {

constexpr u64 ARENA_BYTES = u64(1) << 32;
// The top 64 KiB stay unmapped too, so that "end" offsets always fit 32 bits.
constexpr u64 ARENA_LIMIT = ARENA_BYTES - ARENA_GUARD;

// Blocks are taken from the upper half first: the collector scans the native stack for
// offsets, and small integers (counts, sizes) then never look like a buffer's address.
constexpr u64 UPPER_HALF = u64(1) << 31;
u64 g_arena_bump = UPPER_HALF;
u64 g_arena_limit = ARENA_LIMIT;
std::map<u32, u32> g_free_ranges;  // start -> length, coalesced
std::map<u32, u32> g_live_blocks;  // start -> length, for checking frees

u32 round_pages(u64 n) { return u32((n + PAGE_SIZE - 1) & ~u64(PAGE_SIZE - 1)); }

bool take_range(u32 len, u32& start) {
    for (auto it = g_free_ranges.begin(); it != g_free_ranges.end(); ++it) {
        if (it->second >= len) {
            start = it->first;
            u32 rest = it->second - len;
            g_free_ranges.erase(it);
            if (rest) g_free_ranges.emplace(start + len, rest);
            return true;
        }
    }
    if (g_arena_bump + len > g_arena_limit) {
        if (g_arena_limit != ARENA_LIMIT) return false;
        // The upper half is used up: go on in the lower half.
        g_arena_bump = ARENA_GUARD;
        g_arena_limit = UPPER_HALF;
        if (g_arena_bump + len > g_arena_limit) return false;
    }
    start = u32(g_arena_bump);
    g_arena_bump += len;
    return true;
}

void give_range(u32 start, u32 len) {
    auto next = g_free_ranges.lower_bound(start);
    if (next != g_free_ranges.end() && start + len == next->first) {
        len += next->second;
        next = g_free_ranges.erase(next);
    }
    if (next != g_free_ranges.begin()) {
        auto prev = std::prev(next);
        if (prev->first + prev->second == start) {
            prev->second += len;
            return;
        }
    }
    g_free_ranges.emplace(start, len);
}

u8* reserve_arena() {
    void* p = mmap(nullptr, ARENA_BYTES, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED) return nullptr;
    // Frames are 1 and 2 MiB and the collector moves live data into fresh ones, so most of
    // a program's page faults are first touches: huge pages make them 512 times fewer. A
    // system that refuses simply keeps small pages.
    madvise(p, ARENA_BYTES, MADV_HUGEPAGE);
    return static_cast<u8*>(p);
}

}  // namespace

// A failed reservation leaves it null; arena_init reports that once the runtime runs.
u8* const g_arena = reserve_arena();

void arena_init() {
    if (!g_arena) runtime_quit(94, 0);
}

Off os_alloc_block(u32 size, bool executable) {
    arena_init();
    u64 want = u64(size) + 4;
    if (want > ARENA_LIMIT) raise_error(Err::internal_no_memory);
    u32 len = round_pages(want);
    u32 start;
    if (!take_range(len, start)) raise_error(Err::internal_no_memory);
    int prot = PROT_READ | PROT_WRITE | (executable ? PROT_EXEC : 0);
    if (mprotect(g_arena + start, len, prot) != 0) {
        give_range(start, len);
        raise_error(Err::internal_no_memory);
    }
    g_live_blocks.emplace(start, len);
    *at<u32>(start) = len;
    g_memory.total_os_bytes += len;
    return start + 4;
}

void os_free_block(Off usable) {
    u32 start = usable - 4;
    auto it = g_live_blocks.find(start);
    if (it == g_live_blocks.end()) raise_error(Err::internal_wrong_mem);
    u32 len = it->second;
    g_live_blocks.erase(it);
    // Give the pages back to the system and make stale pointers fault.
    madvise(g_arena + start, len, MADV_DONTNEED);
    mprotect(g_arena + start, len, PROT_NONE);
    give_range(start, len);
    g_memory.total_os_bytes -= len;
}

// ---- settings -------------------------------------------------------------------------

void memory_settings_init() {
    arena_init();
    std::memset(&g_memory, 0, sizeof g_memory);
    g_memory.initial_frame_size = FRAME_SIZE_1M;
    g_memory.next_frame_size = FRAME_SIZE_1M;
    g_memory.max_frame_size = FRAME_SIZE_2M;
}

// ---- node frames ----------------------------------------------------------------------

Off new_node_frame(u32 count) {
    Off f = os_alloc_block(sizeof(NodeFrame) + count * 4);
    auto* nf = at<NodeFrame>(f);
    std::memset(nf, 0, sizeof *nf);
    nf->capacity = count;
    nf->stamp = gc_collection_count();
    u32* nodes = nf->nodes();
    for (u32 i = 0; i + 1 < count; ++i) nodes[i] = off_of(&nodes[i + 1]);
    if (count) nodes[count - 1] = 0;
    nf->free_head = count ? off_of(&nodes[0]) : 0;
    nf->prev = g_memory.node_frame_tail;
    if (g_memory.node_frame_tail)
        at<NodeFrame>(g_memory.node_frame_tail)->next = f;
    else
        g_memory.node_frame_head = g_memory.node_frame_current = f;
    g_memory.node_frame_tail = f;
    return f;
}

void free_node_frame(Off f) {
    auto* nf = at<NodeFrame>(f);
    if (nf->prev) at<NodeFrame>(nf->prev)->next = nf->next;
    else g_memory.node_frame_head = nf->next;
    if (nf->next) at<NodeFrame>(nf->next)->prev = nf->prev;
    else g_memory.node_frame_tail = nf->prev;
    if (g_memory.node_frame_current == f) g_memory.node_frame_current = g_memory.node_frame_tail;
    os_free_block(f);
}

namespace {

// A node from the current frame's free list, or 0 when it has none to give.
inline Node take_node() {
    Off f = g_memory.node_frame_current;
    if (!f) return 0;
    auto* nf = at<NodeFrame>(f);
    Node n = nf->free_head;
    if (!n || nf->release) return 0;
    nf->free_head = *at<u32>(n);
    *at<u32>(n) = 0;
    nf->used++;
    return n;
}

}  // namespace

Node alloc_node() {
    if (Node n = take_node()) return n;
    Off f = g_memory.node_frame_current;
    NodeFrame* nf = f ? at<NodeFrame>(f) : nullptr;
    if (!nf || !nf->free_head || nf->release) {
        f = 0;
        for (Off g = g_memory.node_frame_head; g; g = at<NodeFrame>(g)->next) {
            auto* gf = at<NodeFrame>(g);
            if (gf->free_head && !gf->release) {
                f = g;
                break;
            }
        }
        if (!f) f = new_node_frame(NODES_PER_FRAME);
        g_memory.node_frame_current = f;
        nf = at<NodeFrame>(f);
    }
    Node n = nf->free_head;
    nf->free_head = *at<u32>(n);
    *at<u32>(n) = 0;
    nf->used++;
    return n;
}

void free_node(Off frame, Node node) {
    auto* nf = at<NodeFrame>(frame);
    *at<u32>(node) = nf->free_head;
    nf->free_head = node;
    nf->used--;
}

// Emptied frames of the usual size are kept, up to a sixteenth of the frames (at least
// NODE_FRAMES_KEPT): a program that makes and drops many series empties and refills the same
// frames every cycle, and giving them back to the system each time (unmapping, then faulting
// the pages in again) cost more than the rest of the cycle. Frames emptied into others
// (`release`) always go: that is what emptying them is for. Under the GC-stress build every
// empty frame goes, so that a stale node faults at once.
void release_node_frames() {
    u32 frames = 0;
    for (Off f = g_memory.node_frame_head; f; f = at<NodeFrame>(f)->next) ++frames;
    u32 keep = KEL_GC_STRESS ? 0 : std::max(NODE_FRAMES_KEPT, frames / 16);
    u32 kept = 0;
    bool have_current = false;
    Off f = g_memory.node_frame_head;
    while (f) {
        auto* nf = at<NodeFrame>(f);
        Off next = nf->next;
        bool keep_empty = nf->used == 0 && !nf->release && nf->capacity == NODES_PER_FRAME && kept < keep;
        if ((nf->used == 0 || nf->release) && !keep_empty) {
            free_node_frame(f);
        } else {
            if (keep_empty) ++kept;
            if (!have_current && nf->used < nf->capacity) {
                g_memory.node_frame_current = f;
                have_current = true;
            }
            nf->history = (nf->history << 1) | (nf->used == nf->used_at_last ? 1u : 0u);
            nf->used_at_last = nf->used;
        }
        f = next;
    }
    if (!have_current) g_memory.node_frame_current = g_memory.node_frame_tail;
}

// ---- series frames --------------------------------------------------------------------

Off new_series_frame() {
    u32 size = g_memory.next_frame_size;
    if (size < g_memory.max_frame_size) g_memory.next_frame_size = size * 2;
    Off f = os_alloc_block(size + sizeof(SeriesFrame));
    auto* sf = at<SeriesFrame>(f);
    sf->block_size = size + sizeof(SeriesFrame);
    sf->bump = off_of(sf->area());
    sf->end = sf->bump + size;
    sf->next = sf->prev = 0;
    // Keep the list sorted by address: compaction and address classification rely on it.
    if (!g_memory.series_frame_head) {
        g_memory.series_frame_head = g_memory.series_frame_tail = g_memory.series_frame_current = f;
    } else if (f < g_memory.series_frame_head) {
        sf->next = g_memory.series_frame_head;
        at<SeriesFrame>(g_memory.series_frame_head)->prev = f;
        g_memory.series_frame_head = f;
    } else {
        Off after = g_memory.series_frame_head;
        while (at<SeriesFrame>(after)->next && at<SeriesFrame>(after)->next < f)
            after = at<SeriesFrame>(after)->next;
        auto* af = at<SeriesFrame>(after);
        sf->prev = after;
        sf->next = af->next;
        if (af->next) at<SeriesFrame>(af->next)->prev = f;
        else g_memory.series_frame_tail = f;
        af->next = f;
    }
    return f;
}

void free_series_frame(Off f) {
    auto* sf = at<SeriesFrame>(f);
    if (sf->prev) at<SeriesFrame>(sf->prev)->next = sf->next;
    else g_memory.series_frame_head = sf->next;
    if (sf->next) at<SeriesFrame>(sf->next)->prev = sf->prev;
    else g_memory.series_frame_tail = sf->prev;
    if (g_memory.series_frame_current == f) g_memory.series_frame_current = g_memory.series_frame_tail;
    os_free_block(f);
}

Off find_series_frame(u32 needed) {
    for (Off f = g_memory.series_frame_head; f; f = at<SeriesFrame>(f)->next) {
        auto* sf = at<SeriesFrame>(f);
        if (u64(sf->bump) + needed + FRAME_MIN_LEFT <= sf->end) return f;
    }
    return 0;
}

// ---- buffers --------------------------------------------------------------------------

namespace {

void init_header(SeriesBuffer* b, u32 data, u32 w, u32 big, i32 offset) {
    b->size = data;
    b->node = 0;
    b->flags = w | SB_IN_USE | big | SB_ALLOCATED;
    u32 off = 0;
    if (offset == -1) {
        off = data >> 1;
        b->flags |= SB_HEAD_ROOM;
    } else {
        off = u32(offset);
    }
    b->offset = b->data_off() + off;
    b->tail = b->offset;
}

// After a collection that left less than a quarter of the frames free, more frames are made
// at once: the next collection then comes after an allocation proportional to what is live,
// so that a large live set is not walked again for every frame that fills.
void ensure_headroom() {
    u64 total = 0, free = 0;
    for (Off f = g_memory.series_frame_head; f; f = at<SeriesFrame>(f)->next) {
        auto* sf = at<SeriesFrame>(f);
        total += sf->end - off_of(sf->area());
        free += sf->end - sf->bump;
    }
    while (free * 4 < total) {
        g_memory.next_frame_size = g_memory.max_frame_size;
        Off f = new_series_frame();
        u64 size = at<SeriesFrame>(f)->end - at<SeriesFrame>(f)->bump;
        total += size;
        free += size;
    }
}

// Big buffers trigger a collection only once enough big bytes were made since the last
// one: a program that makes many large buffers does not walk its live data for each.
u64 g_big_bytes_since_collection = 0;
u32 g_collections_seen = 0;

bool big_budget_spent(u32 needed) {
    if (gc_collection_count() != g_collections_seen) {
        g_collections_seen = gc_collection_count();
        g_big_bytes_since_collection = 0;
    }
    g_big_bytes_since_collection += needed;
    return g_big_bytes_since_collection >= u64(8) * FRAME_SIZE_2M;
}

SeriesBuffer* bump(Off frame, u32 needed) {
    auto* sf = at<SeriesFrame>(frame);
    auto* b = at<SeriesBuffer>(sf->bump);
    sf->bump += needed;
    return b;
}

}  // namespace

namespace {

// The commonest allocation: a small buffer with room in the current frame (what the general
// way's first test takes), inline. Not under the GC-stress build, whose every allocation is
// a stress point.
inline SeriesBuffer* bump_current(u32 n, u32 w, i32 offset) {
    if (KEL_GC_STRESS) return nullptr;
    u64 bytes = u64(n) * w;
    if (bytes >= FRAME_SIZE_1M) return nullptr;
    u32 data = u32((bytes + 15) & ~u64(15));
    u32 needed = data + sizeof(SeriesBuffer) + 4;
    Off cur = g_memory.series_frame_current;
    if (!cur || needed >= g_memory.max_frame_size) return nullptr;
    auto* sf = at<SeriesFrame>(cur);
    if (u64(sf->bump) + needed >= sf->end) return nullptr;
    auto* b = at<SeriesBuffer>(sf->bump);
    sf->bump += needed;
    init_header(b, data, w, 0, offset);
    return b;
}

}  // namespace

SeriesBuffer* alloc_series_buffer(u32 n, u32 w, i32 offset) {
    if (SeriesBuffer* b = bump_current(n, w, offset)) return b;
    u64 bytes = u64(n) * w;
    if (bytes > 0x7FFFFFF0) raise_error(Err::internal_no_memory);
    u32 data = u32((bytes + 15) & ~u64(15));
    u32 needed = data + sizeof(SeriesBuffer) + 4;
    gc_stress_point();
    if (needed >= g_memory.max_frame_size) {
        if (big_budget_spent(needed)) gc_trigger();
        SeriesBuffer* b = alloc_big_frame(needed);
        init_header(b, data, w, SB_BIG, offset);
        return b;
    }
    Off cur = g_memory.series_frame_current;
    if (cur && u64(at<SeriesFrame>(cur)->bump) + needed < at<SeriesFrame>(cur)->end) {
        SeriesBuffer* b = bump(cur, needed);
        init_header(b, data, w, 0, offset);
        return b;
    }
    // A frame that would be left nearly full is passed over; when no frame is roomy the
    // collector runs before the heap grows. (Growing whenever the only room left is a
    // sliver would skip the collector for good: every new frame fills and leaves the
    // same sliver behind.)
    Off f = find_series_frame(needed);
    if (!f) {
        u32 before = gc_collection_count();
        gc_trigger();
        if (gc_collection_count() != before) ensure_headroom();
        f = find_series_frame(needed);
    }
    if (!f) {
        if (needed >= g_memory.next_frame_size) g_memory.next_frame_size = g_memory.max_frame_size;
        f = new_series_frame();
    }
    g_memory.series_frame_current = f;
    SeriesBuffer* b = bump(f, needed);
    init_header(b, data, w, 0, offset);
    return b;
}

Node alloc_series(u32 n, u32 w, i32 offset) {
    SeriesBuffer* b = bump_current(n, w, offset);
    if (!b) b = alloc_series_buffer(n, w, offset);
    // alloc_node never collects, so the bare buffer cannot be lost in between.
    Node node = take_node();
    if (!node) node = alloc_node();
    *at<u32>(node) = off_of(b);
    b->node = node;
    return node;
}

Node alloc_fixed_series(u32 n, u32 w, i32 offset) {
    u64 bytes = u64(n) * w;
    if (bytes > 0x7FFFFFF0) raise_error(Err::internal_no_memory);
    u32 data = u32((bytes + 15) & ~u64(15));
    // A block of its own: never moved, never swept.
    Off blk = os_alloc_block(data + sizeof(SeriesBuffer) + 4);
    auto* b = at<SeriesBuffer>(blk);
    init_header(b, data, w, 0, offset);
    b->flags |= SB_FIXED;
    Node node = alloc_node();
    *at<u32>(node) = blk;
    b->node = node;
    return node;
}

Node alloc_cells(u32 n) { return alloc_series(n, 16, 0); }

Node alloc_unset_cells(u32 n) {
    Node node = alloc_cells(n);
    SeriesBuffer* b = buffer_of(node);
    Cell* c = reinterpret_cast<Cell*>(b->data());
    for (u32 i = 0; i < b->size / 16; ++i) set_cell(&c[i], T_UNSET);
    return node;
}

Node alloc_bytes(u32 n) { return alloc_series(n ? n : 16, 1, 0); }

Node alloc_codepoints(u32 n, u32 w) { return alloc_series(n ? n : 16 >> (w >> 1), w, 0); }

Node alloc_bytes_filled(u32 n, u8 byte) {
    Node node = alloc_bytes(n);
    SeriesBuffer* b = buffer_of(node);
    std::memset(b->data(), byte, b->size);
    return node;
}

SeriesBuffer* expand_series_buffer(SeriesBuffer* b, i64 new_size) {
    // Twice the old size; an empty buffer (made for 0 units) must still be able to grow.
    if (new_size == 0) new_size = b->size ? i64(b->size) * 2 : 16;
    if (new_size < 1) raise_error(Err::internal_no_memory);
    if (new_size > 0x7FFFFFF0) raise_error(Err::internal_no_memory);
    Node node = b->node;
    u32 w = b->flags & SB_UNIT_MASK;
    SeriesBuffer* nb = alloc_series_buffer(u32(new_size / w), w, 0);
    // The allocation may have collected and moved the old buffer: find it again.
    SeriesBuffer* old = node ? buffer_of(node) : b;
    nb->flags = old->flags | (nb->flags & SB_BIG);
    nb->node = node;
    nb->tail = nb->offset + (old->tail - old->offset);
    if (node) *at<u32>(node) = off_of(nb);
    old->node = 0;
    old->flags &= ~SB_IN_USE;
    return nb;
}

SeriesBuffer* expand_series(SeriesBuffer* b, i64 new_size) {
    Node node = b->node;
    Off old_off = off_of(b);
    SeriesBuffer* nb = expand_series_buffer(b, new_size);
    // The abandoned buffer stays readable until the next collection: copy from it now.
    SeriesBuffer* old = at<SeriesBuffer>(old_off);
    (void)node;
    u32 count = old->data_end() - old->offset;
    if (count > nb->data_end() - nb->offset) count = nb->data_end() - nb->offset;
    std::memmove(at(nb->offset), at(old->offset), count);
    return nb;
}

SeriesBuffer* expand_series_filled(SeriesBuffer* b, i64 new_size, u8 byte) {
    u32 old_size = b->size;
    SeriesBuffer* nb = expand_series(b, new_size);
    u8* from = at(nb->offset) + old_size;
    u8* to = at(nb->offset) + nb->size;
    if (to > nb->data() + nb->size) to = nb->data() + nb->size;
    if (from < to) fill_range(from, to, byte);
    return nb;
}

Node copy_series_buffer(SeriesBuffer* b) {
    Node src_node = b->node;
    u32 size = b->size;
    u32 w = b->flags & SB_UNIT_MASK;
    Node node = alloc_series(size / w, w, 0);
    SeriesBuffer* src = src_node ? buffer_of(src_node) : b;
    SeriesBuffer* nb = buffer_of(node);
    nb->flags = src->flags & ~(SB_BIG | SB_FIXED | SB_MARK);
    nb->flags |= (buffer_of(node)->size >= g_memory.max_frame_size) ? SB_BIG : 0;
    nb->flags |= SB_IN_USE | SB_ALLOCATED;
    u32 used = src->tail - src->offset;
    u32 lead = src->offset - src->data_off();
    nb->offset = nb->data_off() + lead;
    nb->tail = nb->offset + used;
    std::memcpy(nb->data(), src->data(), size);
    return node;
}

// ---- big frames -----------------------------------------------------------------------

SeriesBuffer* alloc_big_frame(u32 bytes) {
    Off f = os_alloc_block(sizeof(BigFrame) + bytes);
    auto* bf = at<BigFrame>(f);
    bf->next = 0;
    bf->zero = 0;
    bf->size = bytes;
    if (!g_memory.big_frame_head) {
        g_memory.big_frame_head = f;
    } else {
        Off g = g_memory.big_frame_head;
        while (at<BigFrame>(g)->next) g = at<BigFrame>(g)->next;
        at<BigFrame>(g)->next = f;
    }
    return bf->buffer();
}

void free_big_frame(SeriesBuffer* b) {
    Off f = off_of(b) - sizeof(BigFrame);
    Off* link = &g_memory.big_frame_head;
    while (*link && *link != f) link = &at<BigFrame>(*link)->next;
    if (!*link) return;
    *link = at<BigFrame>(f)->next;
    os_free_block(f);
}

void sweep_big_frames() {
    Off* link = &g_memory.big_frame_head;
    while (*link) {
        Off f = *link;
        auto* bf = at<BigFrame>(f);
        SeriesBuffer* b = bf->buffer();
        if (b->flags & SB_MARK) {
            b->flags &= ~SB_MARK;
            link = &bf->next;
            continue;
        }
        // An abandoned buffer has node 0: there is no node to hand back.
        if (b->node) gc_free_node(b->node);
        *link = bf->next;
        os_free_block(f);
    }
}

void free_all_frames() {
    while (g_memory.node_frame_head) free_node_frame(g_memory.node_frame_head);
    while (g_memory.series_frame_head) free_series_frame(g_memory.series_frame_head);
    while (g_memory.big_frame_head) {
        Off f = g_memory.big_frame_head;
        g_memory.big_frame_head = at<BigFrame>(f)->next;
        os_free_block(f);
    }
}

void runtime_release_all() {
    free_all_frames();
    heap_free_all();
}

void fill_range(u8* start, u8* end, u8 byte) {
    if (end > start) std::memset(start, byte, size_t(end - start));
}

void zero_words(u32* first, u32* last) {
    do *first++ = 0;
    while (first < last);
}

bool is_series_data_address(const void* p) {
    if (!in_arena(p)) return false;
    Off o = off_of(p);
    for (Off f = g_memory.series_frame_head; f; f = at<SeriesFrame>(f)->next) {
        auto* sf = at<SeriesFrame>(f);
        if (o >= off_of(sf->area()) && o < sf->end) return true;
    }
    return false;
}

}  // namespace kel::rt
