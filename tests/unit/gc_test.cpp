// Collector: live data survives collections intact, garbage is reclaimed, pinned buffers
// stay put, node frames are emptied, external resources are released once.
#include <algorithm>
#include <cstring>
#include <vector>

#include "runtime/externals.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "support.h"

namespace kel::rt {
namespace {

using test::RuntimeTest;

class GcTest : public RuntimeTest {};

u32 used_nodes() {
    u32 n = 0;
    for (Off f = g_memory.node_frame_head; f; f = at<NodeFrame>(f)->next) n += at<NodeFrame>(f)->used;
    return n;
}

// A block of `n` strings "s<i>", held in a new block; answers the block's node.
Node make_block_of_strings(u32 n) {
    Node block = alloc_cells(n);
    RootGuard guard(Cell{T_BLOCK, 0, block, 0});
    for (u32 i = 0; i < n; ++i) {
        Node s = alloc_bytes(8);
        SeriesBuffer* sb = buffer_of(s);
        int len = std::snprintf(reinterpret_cast<char*>(at(sb->offset)), 8, "s%u", i);
        sb->tail = sb->offset + u32(len);
        Cell* c = block_alloc_tail(guard.cell.data2);
        set_cell(c, T_STRING, 0, s, 0);
    }
    return guard.cell.data2;
}

__attribute__((noinline)) void make_garbage(u32 count) {
    for (u32 i = 0; i < count; ++i) make_block_of_strings(4);
}

// Dead frames below the stack pointer keep old values; a collection's own frames are laid
// over them. Clearing them first keeps the conservative scan from seeing stale nodes.
__attribute__((noinline)) void wipe_stack() {
    volatile u8 area[32 * 1024];
    for (auto& b : area) b = 0;
}

__attribute__((noinline)) void collect_clean() {
    wipe_stack();
    gc_collect();
}

void check_block_of_strings(Node block, u32 n) {
    SeriesBuffer* b = buffer_of(block);
    ASSERT_EQ((b->tail - b->offset) / 16, n);
    for (u32 i = 0; i < n; ++i) {
        Cell* c = cells_of(buffer_of(block)) + i;
        ASSERT_EQ(type_of(c), T_STRING);
        SeriesBuffer* sb = buffer_of(c->data2);
        char want[8];
        int len = std::snprintf(want, sizeof want, "s%u", i);
        ASSERT_EQ(sb->tail - sb->offset, u32(len));
        ASSERT_EQ(std::memcmp(at(sb->offset), want, size_t(len)), 0) << i;
    }
}

TEST_F(GcTest, LiveDataSurvivesAndGarbageIsReclaimed) {
    RootGuard live(Cell{T_BLOCK, 0, make_block_of_strings(300), 0});
    collect_clean();
    u32 before = used_nodes();
    make_garbage(2000);
    EXPECT_GT(used_nodes(), before);
    for (int i = 0; i < 3; ++i) collect_clean();
    check_block_of_strings(live.cell.data2, 300);
    // What the conservative scan may still see is a handful at most.
    EXPECT_LT(used_nodes(), before + 50);
}

// Live data that leaves each frame with only a sliver of room must not stop automatic
// collection: the heap stays a small multiple of what is live however much garbage goes
// through it.
TEST_F(GcTest, ChurnBesideNearlyFullFramesRunsInBoundedMemory) {
    if (KEL_GC_STRESS) GTEST_SKIP() << "a collection per allocation makes this churn too slow";
    // About 1.5 MB of live strings; each frame they fill keeps a sliver of some 300 bytes,
    // room for a small buffer but less than a frame worth filling.
    constexpr u32 count = 1500;
    RootGuard live(Cell{T_BLOCK, 0, alloc_cells(count), 0});
    for (u32 i = 0; i < count; ++i) {
        auto* frame = at<SeriesFrame>(g_memory.series_frame_current);
        u32 left = frame->end - frame->bump;
        u32 size = left > 2000 ? 1000 : left >= 600 ? (left - 300 - 24) & ~15u : 1000;
        Node s = alloc_bytes(size);
        set_cell(block_alloc_tail(live.cell.data2), T_STRING, 0, s, 0);
    }
    collect_clean();
    u64 before = g_memory.total_os_bytes;
    make_garbage(150000);  // about 40 MB of short-lived buffers
    EXPECT_LT(g_memory.total_os_bytes, before + 12 * 1024 * 1024);
}

TEST_F(GcTest, ArgumentStackValuesAreRoots) {
    Cell* slot = stack_push_slot();
    set_cell(slot, T_BLOCK, 0, make_block_of_strings(50), 0);
    make_garbage(500);
    gc_collect();
    check_block_of_strings(slot->data2, 50);
    stack_pop(1);
}

// A slot opened by a push holds whatever the last value there was until it is written. If
// that value's node died in an earlier collection, marking it would put a freed node back
// in use and corrupt the free list: collections leave the cells above the top blank.
TEST_F(GcTest, SlotOpenedOverADeadValueIsNoRoot) {
    Cell* slot = stack_push_slot();
    set_cell(slot, T_BLOCK, 0, make_block_of_strings(50), 0);
    stack_pop(1);
    collect_clean();  // the block is garbage now: its node goes back to the free list
    Cell* reopened = stack_push_slot();
    ASSERT_EQ(reopened, slot);
    EXPECT_EQ(type_of(reopened), T_UNSET);
    collect_clean();  // with the slot open, before anything is written to it
    stack_pop(1);
    // Every node handed out now is distinct: the free list is whole. Each is held on the
    // argument stack, so a collection between allocations (GC stress) frees none of them.
    std::vector<Node> nodes;
    for (u32 i = 0; i < 2000; ++i) {
        Node n = alloc_cells(1);
        set_cell(stack_push_slot(), T_BLOCK, 0, n, 0);
        nodes.push_back(n);
    }
    stack_pop(2000);
    std::sort(nodes.begin(), nodes.end());
    EXPECT_EQ(std::adjacent_find(nodes.begin(), nodes.end()), nodes.end());
}

TEST_F(GcTest, BufferPointedAtFromTheNativeStackStaysPut) {
    Node n = make_block_of_strings(10);
    SeriesBuffer* held = buffer_of(n);
    Cell* cells = cells_of(held);
    make_garbage(500);
    gc_collect();
    // The host pointers on this frame pinned the buffer: it has not moved.
    EXPECT_EQ(buffer_of(n), held);
    EXPECT_EQ(cells_of(buffer_of(n)), cells);
    check_block_of_strings(n, 10);
}

TEST_F(GcTest, AbandonedBufferHeldByThePointerStaysReadable) {
    Node n = alloc_bytes(16);
    SeriesBuffer* old = buffer_of(n);
    std::memcpy(at(old->offset), "keep", 4);
    old->tail = old->offset + 4;
    expand_series(old, 64);
    make_garbage(200);
    gc_collect();
    EXPECT_EQ(std::memcmp(at(old->offset), "keep", 4), 0);
    EXPECT_EQ(std::memcmp(at(buffer_of(n)->offset), "keep", 4), 0);
}

// Holds a block in a guard across a collection; answers whether it read back intact.
__attribute__((noinline)) bool guard_a_block(u32 used_before) {
    RootGuard g(Cell{T_BLOCK, 0, make_block_of_strings(100), 0});
    gc_collect();
    check_block_of_strings(g.cell.data2, 100);
    return used_nodes() >= used_before + 101;
}

TEST_F(GcTest, RootGuardKeepsAndReleases) {
    collect_clean();  // start-up leaves garbage of its own
    u32 before = used_nodes();
    EXPECT_TRUE(guard_a_block(before));
    collect_clean();
    EXPECT_LT(used_nodes(), before + 20);
}

__attribute__((noinline)) void make_big_garbage() { alloc_bytes(3 * 1024 * 1024); }

TEST_F(GcTest, BigBuffersAreFreedWhenUnreachable) {
    // The conservative scan may keep one by chance (any stack word that happens to fall in
    // its 3 MiB counts); what must hold is that garbage does not pile up.
    u64 before = memory_figures().big_bytes;
    make_big_garbage();
    EXPECT_GT(memory_figures().big_bytes, before);
    for (int i = 0; i < 20; ++i) {
        make_big_garbage();
        collect_clean();
    }
    EXPECT_LE(memory_figures().big_bytes, before + 2 * (3 * 1024 * 1024 + 64));
}

TEST_F(GcTest, DisabledCollectorDoesNothing) {
    g_gc_enabled = false;
    u32 count = gc_collection_count();
    gc_trigger();
    EXPECT_EQ(gc_collection_count(), count);
    g_gc_enabled = true;
    gc_trigger();
    EXPECT_EQ(gc_collection_count(), count + 1);
}

int g_hook_calls = 0;
void counting_hook() { ++g_hook_calls; }

TEST_F(GcTest, UnregisteredHookIsNotCalled) {
    register_mark_hook(counting_hook);
    g_hook_calls = 0;
    gc_collect();
    EXPECT_EQ(g_hook_calls, 1);
    unregister_mark_hook(counting_hook);
    gc_collect();
    EXPECT_EQ(g_hook_calls, 1);
}

// Fills a fresh node frame and keeps every 400th of its buffers in the holder block.
__attribute__((noinline)) Off fill_node_frame(Node holder) {
    Off frame = new_node_frame(NODES_PER_FRAME);
    g_memory.node_frame_current = frame;
    for (u32 i = 0; i < 4000; ++i) {
        Node n = alloc_bytes(4);
        at(buffer_of(n)->offset)[0] = u8(i);
        if (i % 400 == 0) {
            Cell* c = block_alloc_tail(holder);
            set_cell(c, T_BINARY, 0, n, 0);
        }
    }
    // Plenty of free nodes elsewhere.
    new_node_frame(NODES_PER_FRAME);
    new_node_frame(NODES_PER_FRAME);
    return frame;
}

TEST_F(GcTest, LightlyUsedNodeFrameIsEmptiedAndReferencesFollow) {
    RootGuard holder(Cell{T_BLOCK, 0, alloc_cells(64), 0});
    gc_collect();  // frames made from now on carry a non-zero stamp
    // Kept as an offset into the frame header, which no scan mistakes for a node.
    Off frame = fill_node_frame(holder.cell.data2);
    wipe_stack();
    // Its use count stays unchanged over several collections: then it is emptied.
    for (int i = 0; i < 8; ++i) collect_clean();
    bool still_there = false;
    for (Off f = g_memory.node_frame_head; f; f = at<NodeFrame>(f)->next) still_there |= (f == frame);
    EXPECT_FALSE(still_there);
    Cell* cells = cells_of(buffer_of(holder.cell.data2));
    for (u32 k = 0; k < 10; ++k) {
        ASSERT_EQ(type_of(&cells[k]), T_BINARY);
        EXPECT_EQ(at(buffer_of(cells[k].data2)->offset)[0], u8(k * 400));
    }
}

int g_released = 0;
void count_release(void*) { ++g_released; }

TEST_F(GcTest, ExternalsReleasedOnceAndSlotsReused) {
    i32 kind = externals_register_kind(7, count_release);
    int object = 0;
    g_released = 0;
    i32 slot = externals_store(&object, kind);
    externals_sweep();  // unmarked: released and freed
    EXPECT_EQ(g_released, 1);
    externals_sweep();
    EXPECT_EQ(g_released, 1);
    EXPECT_EQ(externals_store(&object, kind), slot);
    externals_replace(slot, &object);
    EXPECT_EQ(g_released, 1);
    EXPECT_TRUE(externals_mark(slot, nullptr));
    EXPECT_FALSE(externals_mark(slot, nullptr));
    externals_sweep();
    EXPECT_EQ(g_released, 1);
    externals_remove(slot, true);
    EXPECT_EQ(g_released, 2);
}

TEST_F(GcTest, ExternalTableDoublesBeforeTheLastFreeSlot) {
    externals_init();
    u32 cap = externals_capacity();
    std::vector<i32> slots;
    for (u32 i = 0; i < cap; ++i) slots.push_back(externals_store(nullptr, 0));
    EXPECT_EQ(externals_capacity(), cap * 2);
    for (size_t i = 0; i < slots.size(); ++i) EXPECT_EQ(slots[i], i32(i));
    externals_init();
}

TEST_F(GcTest, SlotTableGrowsAndKeepsValues) {
    std::vector<u32> idx;
    for (int i = 0; i < 250; ++i) {
        Cell v{T_INTEGER, 0, u32(i), 0};
        idx.push_back(slot_table_alloc(&v));
    }
    gc_collect();
    for (int i = 0; i < 250; ++i) EXPECT_EQ(slot_table_at(idx[size_t(i)])->data2, u32(i));
    slot_table_free(idx[5]);
    Cell v{T_INTEGER, 0, 999, 0};
    EXPECT_EQ(slot_table_alloc(&v), idx[5]);
    for (u32 i : idx) slot_table_free(i);
}

}  // namespace
}  // namespace kel::rt
