// Memory manager: buffer sizes, frame growth, big frames, head room and expansion.
#include <cstring>

#include "runtime/memory.h"
#include "runtime/series.h"
#include "support.h"

namespace kel::rt {
namespace {

using test::RuntimeTest;

class MemoryTest : public RuntimeTest {};

// Tests that swap the memory state out must not meet a collection meanwhile.
struct CollectorOff {
    bool was = g_gc_enabled;
    CollectorOff() { g_gc_enabled = false; }
    ~CollectorOff() { g_gc_enabled = was; }
};

TEST_F(MemoryTest, EmptyAllocationsStillGetSixteenBytes) {
    EXPECT_EQ(buffer_of(alloc_bytes(0))->size, 16u);
    SeriesBuffer* b = buffer_of(alloc_codepoints(0, 4));
    EXPECT_EQ(b->size, 16u);
    EXPECT_EQ(b->size / b->unit(), 4u);
    EXPECT_EQ(buffer_of(alloc_codepoints(0, 2))->size, 16u);
}

TEST_F(MemoryTest, BufferSizesRoundUpToSixteen) {
    struct Case { u32 n, w, size; };
    for (Case c : {Case{1, 1, 16}, Case{16, 1, 16}, Case{17, 1, 32}, Case{3, 16, 48}, Case{5, 4, 32}}) {
        SeriesBuffer* b = buffer_of(alloc_series(c.n, c.w, 0));
        EXPECT_EQ(b->size, c.size) << c.n << "x" << c.w;
        EXPECT_EQ(b->unit(), c.w);
        EXPECT_EQ(b->offset, b->data_off());
        EXPECT_EQ(b->tail, b->offset);
        EXPECT_TRUE(b->flags & SB_IN_USE);
        EXPECT_TRUE(b->flags & SB_ALLOCATED);
    }
}

TEST_F(MemoryTest, BigFrameBoundary) {
    // needed = data + 24: 2 MiB + 8 goes to a big frame, 2 MiB - 8 to a series frame.
    SeriesBuffer* big = buffer_of(alloc_bytes(FRAME_SIZE_2M - 16));
    EXPECT_TRUE(big->flags & SB_BIG);
    SeriesBuffer* framed = buffer_of(alloc_bytes(FRAME_SIZE_2M - 32));
    EXPECT_FALSE(framed->flags & SB_BIG);
    EXPECT_TRUE(is_series_data_address(framed->data()));
    EXPECT_FALSE(is_series_data_address(big->data()));
}

TEST_F(MemoryTest, FrameSizesGrowFromOneToTwoMegabytes) {
    // Start from a fresh state so that the frame sizes are those of a new process.
    CollectorOff off;
    MemoryState saved = g_memory;
    memory_settings_init();
    Off first = new_series_frame();
    Off second = new_series_frame();
    Off third = new_series_frame();
    auto size = [](Off f) { return at<SeriesFrame>(f)->end - at<SeriesFrame>(f)->bump; };
    EXPECT_EQ(size(first), FRAME_SIZE_1M);
    EXPECT_EQ(size(second), FRAME_SIZE_2M);
    EXPECT_EQ(size(third), FRAME_SIZE_2M);
    // The list is kept in address order.
    Off prev = 0;
    for (Off f = g_memory.series_frame_head; f; f = at<SeriesFrame>(f)->next) {
        EXPECT_GT(f, prev);
        prev = f;
    }
    free_series_frame(first);
    free_series_frame(second);
    free_series_frame(third);
    g_memory = saved;
}

TEST_F(MemoryTest, LargeRequestForcesTwoMegabyteFrame) {
    CollectorOff off;
    MemoryState saved = g_memory;
    memory_settings_init();
    // Needs more than the 1 MiB a first frame would have.
    SeriesBuffer* b = buffer_of(alloc_bytes(FRAME_SIZE_1M + 4096));
    EXPECT_FALSE(b->flags & SB_BIG);
    Off f = g_memory.series_frame_current;
    EXPECT_EQ(at<SeriesFrame>(f)->end - off_of(at<SeriesFrame>(f)->area()), FRAME_SIZE_2M);
    g_memory = saved;
}

TEST_F(MemoryTest, HeadRoomStartsInTheMiddle) {
    SeriesBuffer* b = buffer_of(alloc_series(64, 1, -1));
    EXPECT_EQ(b->size, 64u);
    EXPECT_EQ(b->offset, b->data_off() + 32);
    EXPECT_EQ(b->tail, b->offset);
    EXPECT_TRUE(b->flags & SB_HEAD_ROOM);
}

TEST_F(MemoryTest, ExpansionAbandonsTheOldBufferAndKeepsContents) {
    Node n = alloc_series(64, 1, -1);
    SeriesBuffer* old = buffer_of(n);
    std::memcpy(at(old->offset), "abcdefgh", 8);
    old->tail = old->offset + 8;
    SeriesBuffer* nb = expand_series(old, 0);
    EXPECT_EQ(buffer_of(n), nb);
    EXPECT_EQ(nb->size, 128u);
    EXPECT_EQ(nb->offset, nb->data_off());
    EXPECT_EQ(nb->tail - nb->offset, 8u);
    EXPECT_EQ(std::memcmp(at(nb->offset), "abcdefgh", 8), 0);
    EXPECT_EQ(old->node, 0u);
    EXPECT_FALSE(old->flags & SB_IN_USE);
    EXPECT_EQ(nb->node, n);
}

TEST_F(MemoryTest, ExpansionBelowOneRaisesNoMemory) {
    SeriesBuffer* b = buffer_of(alloc_bytes(16));
    EXPECT_EQ(test::catch_error([&] { expand_series_buffer(b, -5); }), Err::internal_no_memory);
}

TEST_F(MemoryTest, FilledExpansionFillsOnlyTheNewPart) {
    Node n = alloc_bytes_filled(16, 0xAB);
    SeriesBuffer* b = expand_series_filled(buffer_of(n), 64, 0xCD);
    EXPECT_EQ(at(b->offset)[15], 0xAB);
    EXPECT_EQ(at(b->offset)[16], 0xCD);
    EXPECT_EQ(at(b->offset)[63], 0xCD);
}

TEST_F(MemoryTest, NodesComeFromFramesAndAreCleared) {
    Node a = alloc_node();
    Node b = alloc_node();
    EXPECT_NE(a, b);
    EXPECT_EQ(*at<u32>(a), 0u);
    Off f = g_memory.node_frame_current;
    u32 used = at<NodeFrame>(f)->used;
    free_node(f, b);
    EXPECT_EQ(at<NodeFrame>(f)->used, used - 1);
    EXPECT_EQ(alloc_node(), b);  // the free list hands it out again
}

TEST_F(MemoryTest, EmptyNodeFrameIsReleased) {
    Off f = new_node_frame(4);
    EXPECT_EQ(g_memory.node_frame_tail, f);
    release_node_frames();
    for (Off g = g_memory.node_frame_head; g; g = at<NodeFrame>(g)->next) EXPECT_NE(g, f);
    // The first frame with room becomes current.
    Off cur = g_memory.node_frame_current;
    ASSERT_NE(cur, 0u);
    for (Off g = g_memory.node_frame_head; g != cur; g = at<NodeFrame>(g)->next)
        EXPECT_EQ(at<NodeFrame>(g)->used, at<NodeFrame>(g)->capacity);
}

TEST_F(MemoryTest, FixedBuffersAreMarkedFixed) {
    SeriesBuffer* b = buffer_of(alloc_fixed_series(10, 16, 0));
    EXPECT_TRUE(b->flags & SB_FIXED);
    EXPECT_EQ(b->size, 160u);
    EXPECT_FALSE(is_series_data_address(b->data()));
}

TEST_F(MemoryTest, OsBlocksAreReusedAfterRelease) {
    Off a = os_alloc_block(10000);
    os_free_block(a);
    Off b = os_alloc_block(10000);
    EXPECT_EQ(a, b);
    os_free_block(b);
    EXPECT_EQ(test::catch_error([&] { os_free_block(b); }), Err::internal_wrong_mem);
}

TEST_F(MemoryTest, SeriesPrimitives) {
    Node cells = alloc_cells(4);
    SeriesBuffer* b = buffer_of(cells);
    for (int i = 0; i < 4; ++i) buffer_alloc_tail(b);
    Cell* fifth = buffer_alloc_tail(b);
    EXPECT_EQ(type_of(fifth), T_UNSET);
    EXPECT_EQ(buffer_of(cells)->size, 128u);

    Node bytes = alloc_bytes(16);
    SeriesBuffer* bb = buffer_of(bytes);
    buffer_reserve(bb, 100);
    EXPECT_EQ(buffer_of(bytes)->size, 208u);  // 200 rounded up to 16

    Node ints = make_unit_series(4, 4);
    for (u32 v : {7u, 9u, 11u}) series_append_int(ints, v);
    EXPECT_EQ(series_find_int(ints, 7), 0);
    EXPECT_EQ(series_find_int(ints, 11), 8);
    EXPECT_EQ(series_find_int(ints, 8), -1);
    series_insert_int_at(ints, 8, 1);
    EXPECT_EQ(series_int_at(ints, 2), 8u);
    series_remove_ptr(ints, 9);
    EXPECT_EQ(series_length(ints), 3u);
    series_set_length(ints, 1);
    EXPECT_EQ(series_length(ints), 0u);

    Node part = copy_series_part(bytes, 0, 0);
    EXPECT_EQ(buffer_of(part)->size, 16u);
    EXPECT_EQ(series_length(part), 0u);
}

TEST_F(MemoryTest, CopyCellOntoItselfIsHarmless) {
    Cell c{T_INTEGER, 0, 42, 0};
    copy_cell(&c, &c);
    EXPECT_EQ(get_int(&c), 42);
    static_assert(sizeof(Cell) == 16);
}

}  // namespace
}  // namespace kel::rt
