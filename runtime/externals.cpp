// External resources and the slot table.
#include "runtime/externals.h"

#include <vector>

#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/series.h"

namespace kel::rt {

namespace {

constexpr u32 SLOT_FREE = 0x40000000;
constexpr u32 SLOT_MARK = 0x80000000;

struct Kind {
    u32 value;
    ReleaseFn release;
};
struct Slot {
    u32 kind;  // bits 0-7 kind number; SLOT_MARK; exactly SLOT_FREE when free
    void* object;
    i32 next;
};

// The kinds and slots live on the C++ heap: the collector never moves them.
std::vector<Kind> g_kinds;
std::vector<Slot> g_slots;
i32 g_free_head = -1;
i32 g_used_head = -1;

void thread_free(size_t from) {
    for (size_t i = from; i < g_slots.size(); ++i)
        g_slots[i] = {SLOT_FREE, nullptr, i + 1 < g_slots.size() ? i32(i + 1) : -1};
    g_free_head = i32(from);
}

void release(const Slot& s) {
    i32 k = i32(s.kind & 0xFF);
    if (k >= 1 && size_t(k) <= g_kinds.size() && g_kinds[k - 1].release && s.object) g_kinds[k - 1].release(s.object);
}

Node g_slot_table = 0;
i32 g_slot_free = -1;

}  // namespace

void externals_init() {
    g_kinds.clear();
    g_slots.assign(1000, Slot{});
    thread_free(0);
    g_used_head = -1;
}

i32 externals_register_kind(u32 kind_value, ReleaseFn fn) {
    g_kinds.push_back({kind_value, fn});
    return i32(g_kinds.size());
}

u32 externals_kind_value(i32 kind) {
    return kind >= 1 && size_t(kind) <= g_kinds.size() ? g_kinds[size_t(kind) - 1].value : 0;
}

i32 externals_store(void* object, i32 kind) {
    if (g_free_head < 0 || g_slots[size_t(g_free_head)].next < 0) {
        // The last free slot: double the table first; indexes handed out stay valid.
        size_t old = g_slots.size();
        g_slots.resize(old * 2);
        i32 tail_free = g_free_head;
        thread_free(old);
        if (tail_free >= 0) {
            g_slots[size_t(tail_free)].next = i32(old);
            g_free_head = tail_free;
        }
    }
    i32 i = g_free_head;
    Slot& s = g_slots[size_t(i)];
    g_free_head = s.next;
    s.kind = u32(kind) & 0xFF;
    s.object = object;
    s.next = g_used_head;
    g_used_head = i;
    return i;
}

void* externals_object(i32 slot) { return g_slots[size_t(slot)].object; }

void externals_replace(i32 slot, void* object) {
    Slot& s = g_slots[size_t(slot)];
    if (s.object != object) release(s);
    s.object = object;
}

void externals_remove(i32 slot, bool do_release) {
    Slot& s = g_slots[size_t(slot)];
    if (do_release) release(s);
    for (i32* link = &g_used_head; *link >= 0; link = &g_slots[size_t(*link)].next) {
        if (*link == slot) {
            *link = s.next;
            break;
        }
    }
    s = {SLOT_FREE, nullptr, g_free_head};
    g_free_head = slot;
}

bool externals_mark(i32 slot, void* object) {
    if (slot < 0 || size_t(slot) >= g_slots.size()) return false;
    Slot& s = g_slots[size_t(slot)];
    if (s.kind == SLOT_FREE) return false;
    if (object) s.object = object;
    bool was = s.kind & SLOT_MARK;
    s.kind |= SLOT_MARK;
    return !was;
}

void externals_for_kind(i32 kind, void (*fn)(i32, void*)) {
    for (i32 i = g_used_head; i >= 0; i = g_slots[size_t(i)].next)
        if (i32(g_slots[size_t(i)].kind & 0xFF) == kind) fn(kind, g_slots[size_t(i)].object);
}

void externals_sweep() {
    i32* link = &g_used_head;
    while (*link >= 0) {
        i32 i = *link;
        Slot& s = g_slots[size_t(i)];
        if (s.kind & SLOT_MARK) {
            s.kind &= ~SLOT_MARK;
            link = &s.next;
            continue;
        }
        release(s);
        *link = s.next;
        s = {SLOT_FREE, nullptr, g_free_head};
        g_free_head = i;
    }
}

u32 externals_capacity() { return u32(g_slots.size()); }

// ---- slot table -----------------------------------------------------------------------

namespace {

void thread_slot_cells(u32 from, u32 to) {
    Cell* c = cells_of(buffer_of(g_slot_table));
    for (u32 i = from; i < to; ++i) set_cell(&c[i], T_INTEGER, 0, i + 1 < to ? i + 1 : u32(-1), 0);
    g_slot_free = i32(from);
}

}  // namespace

void slot_table_init() {
    g_slot_table = alloc_cells(100);
    SeriesBuffer* b = buffer_of(g_slot_table);
    b->tail = b->offset + 100 * sizeof(Cell);
    thread_slot_cells(0, 100);
    gc_register_node_root(&g_slot_table);
}

u32 slot_table_alloc(const Cell* value) {
    if (g_slot_free < 0) {
        SeriesBuffer* b = buffer_of(g_slot_table);
        u32 old = (b->tail - b->offset) / sizeof(Cell);
        Cell v = *value;  // the value may sit in the table
        b = expand_series(b, i64(old) * 2 * sizeof(Cell));
        b->tail = b->offset + old * 2 * sizeof(Cell);
        thread_slot_cells(old, old * 2);
        Cell* c = cells_of(b);
        u32 i = u32(g_slot_free);
        g_slot_free = i32(c[i].data2);
        c[i] = v;
        return i + 1;
    }
    Cell* c = cells_of(buffer_of(g_slot_table));
    u32 i = u32(g_slot_free);
    g_slot_free = i32(c[i].data2);
    c[i] = *value;
    return i + 1;
}

Cell* slot_table_at(u32 index) { return cells_of(buffer_of(g_slot_table)) + (index - 1); }

void slot_table_free(u32 index) {
    if (index == 0) return;
    Cell* c = slot_table_at(index);
    set_cell(c, T_INTEGER, 0, u32(g_slot_free), 0);
    g_slot_free = i32(index - 1);
}

}  // namespace kel::rt
