// Cycles stack: push, find and pop, its limit, the markers of cycles-detect, and the scope
// guard that puts the top back when an error unwinds through a walk.
#include <string>

#include "datatypes/string.h"
#include "datatypes/walk_guard.h"
#include "runtime/cycles.h"
#include "runtime/hashtable.h"
#include "support.h"

namespace kel::rt {
namespace {

using test::catch_error;
using test::RuntimeTest;

class CyclesTest : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        cycles_reset();
    }
    void TearDown() override { cycles_reset(); }
};

TEST_F(CyclesTest, PushFindPop) {
    EXPECT_FALSE(cycles_find(0x100));
    cycles_push(0x100);
    cycles_push(0x200);
    cycles_push(0x300);
    EXPECT_EQ(cycles_depth(), 3u);
    EXPECT_TRUE(cycles_find(0x200));
    cycles_pop();
    EXPECT_FALSE(cycles_find(0x300));
    EXPECT_TRUE(cycles_find(0x100));
    cycles_pop_n(5);
    EXPECT_EQ(cycles_depth(), 0u);
    cycles_pop();
    EXPECT_EQ(cycles_depth(), 0u);
}

TEST_F(CyclesTest, FullStackEmptiesAndRaisesTooDeep) {
    for (u32 i = 1; i < CYCLES_SLOTS; ++i) cycles_push(i * 16);
    EXPECT_EQ(cycles_depth(), 999u);
    EXPECT_EQ(catch_error([] { cycles_push(0x7770); }), Err::internal_too_deep);
    EXPECT_EQ(cycles_depth(), 0u);
    EXPECT_FALSE(cycles_find(16));
}

// A walk that pushes its series and fails half-way, as a failing compare inside mold does.
void failing_walk(Node series, int depth) {
    CyclesScope scope;
    cycles_push(series + u32(depth));
    if (depth == 3) raise_error(Err::script_invalid_compare);
    if (depth < 3) failing_walk(series, depth + 1);
    cycles_pop();
}

TEST_F(CyclesTest, ScopeRestoresTheTopWhenAnErrorUnwinds) {
    cycles_push(0x40);
    EXPECT_EQ(catch_error([] { failing_walk(0x1000, 0); }), Err::script_invalid_compare);
    EXPECT_EQ(cycles_depth(), 1u);
    EXPECT_TRUE(cycles_find(0x40));
    for (int d = 0; d <= 3; ++d) EXPECT_FALSE(cycles_find(0x1000 + d));
    // A scope left normally restores too, even when the walk forgot to pop.
    {
        CyclesScope scope;
        cycles_push(0x80);
        cycles_push(0x90);
        cycles_pop();
    }
    EXPECT_EQ(cycles_depth(), 1u);
    // After the stack was emptied by a too-deep push, the scopes put back the entries of
    // the walks still running outside them.
    {
        CyclesScope outer;
        cycles_push(0x50);
        EXPECT_EQ(catch_error([] {
                      CyclesScope inner;
                      for (u32 i = 0; i < CYCLES_SLOTS; ++i) cycles_push(0x2000 + i);
                  }),
                  Err::internal_too_deep);
        EXPECT_EQ(cycles_depth(), 2u);
        EXPECT_TRUE(cycles_find(0x50));
    }
    EXPECT_EQ(cycles_depth(), 1u);
}

TEST_F(CyclesTest, DetectAppendsTheMarkerOfTheType) {
    struct Case { u32 type; bool mold; const char* marker; };
    Node node = 0x4440;
    for (Case c : {Case{T_BLOCK, true, "[...]"}, Case{T_BLOCK, false, "..."}, Case{T_HASH, true, "[...]"},
                   Case{T_PAREN, true, "(...)"}, Case{T_MAP, true, "#[...]"}, Case{T_MAP, false, "..."},
                   Case{T_OBJECT, true, "make object! [...]"}, Case{T_OBJECT, false, "..."},
                   Case{T_PATH, true, "..."}, Case{T_STRING, true, "..."}}) {
        Cell value;
        // An object is known by its context node (data1), everything else by data2.
        if (c.type == T_OBJECT) set_cell(&value, T_OBJECT, node, 7, 0);
        else set_cell(&value, c.type, 0, node, 0);
        Cell out;
        dt::make_string_at(&out, 16);
        i32 remaining = 100;
        EXPECT_FALSE(dt::cycles_detect(&value, &out, &remaining, c.mold));
        EXPECT_EQ(dt::string_length(&out), 0u);
        CyclesScope scope;
        cycles_push(node);
        EXPECT_TRUE(dt::cycles_detect(&value, &out, &remaining, c.mold));
        std::string text;
        for (u32 i = 0; i < dt::string_length(&out); ++i) text += char(dt::string_char_at(&out, i));
        EXPECT_EQ(text, c.marker) << c.type;
        EXPECT_EQ(remaining, 100 - i32(text.size()));
    }
}

TEST_F(CyclesTest, RelocateFollowsMovedNodes) {
    cycles_push(0x100);
    cycles_push(0x200);
    PtrMap* forward = ptrmap_new(4);
    ptrmap_put(forward, 0x200, 0x900);
    cycles_relocate(forward);
    ptrmap_free(forward);
    EXPECT_TRUE(cycles_find(0x100));
    EXPECT_TRUE(cycles_find(0x900));
    EXPECT_FALSE(cycles_find(0x200));
}

}  // namespace
}  // namespace kel::rt
