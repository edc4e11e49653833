// Argument stack and call frames.
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "support.h"

namespace kel::rt {
namespace {

using test::catch_error;

class StackTest : public test::StackProbeTest {};

TEST_F(StackTest, PushPopAndTop) {
    EXPECT_EQ(stack_top(), g_args.bottom);  // empty: the bottom cell
    push_int(1);
    push_int(2);
    Cell v;
    set_cell(&v, T_NONE);
    stack_push(&v);
    EXPECT_EQ(depth(), 3);
    EXPECT_EQ(stack_top_type(), T_NONE);
    stack_pop(1);
    EXPECT_EQ(get_int(stack_top()), 2);
    stack_pop(10);  // more than pushed
    EXPECT_EQ(depth(), 0);
    EXPECT_EQ(stack_top(), g_args.bottom);
}

TEST_F(StackTest, ResultSlotOperations) {
    push_int(7);  // the result slot
    push_int(8);
    push_int(9);
    Cell v;
    set_cell(&v, T_INTEGER, 0, 42, 0);
    stack_set_last(&v);
    EXPECT_EQ(get_int(g_args.base), 42);
    EXPECT_EQ(depth(), 3);
    stack_keep();
    EXPECT_EQ(depth(), 1);
    push_int(5);
    stack_set_last_keep(&v);
    EXPECT_EQ(depth(), 1);
    stack_reset();
    EXPECT_EQ(depth(), 0);

    push_int(1);
    push_int(2);
    Cell* err = stack_push_slot();
    set_cell(err, T_ERROR, 3);
    stack_keep_error();  // the error on top becomes the result
    EXPECT_EQ(depth(), 1);
    EXPECT_EQ(type_of(g_args.base), T_ERROR);
    push_int(4);
    stack_keep_error();  // no error on top: the result stays
    EXPECT_EQ(type_of(g_args.base), T_ERROR);
}

TEST_F(StackTest, ArgumentStackOverflowRaisesAndLeavesRoom) {
    i32 pushed = 0;
    EXPECT_EQ(catch_error([&] {
                  for (;;) {
                      push_int(pushed);
                      ++pushed;
                  }
              }),
              Err::internal_stack_overflow);
    EXPECT_EQ(pushed, i32(ARG_STACK_CELLS) - 1);
}

// A try whose window starts within a few cells of the end: the overflow's error must not be
// built over the cells below that window, which the code around the try still holds.
TEST_F(StackTest, ArgumentOverflowInATryAtTheTopKeepsTheCellsBelowIt) {
    stack_close_reserve();  // an earlier test's overflow was caught without a try
    i32 n = 0;
    while (g_args.top + 2 < g_args.end) push_int(n++);
    Cell* soft_end = g_args.end;
    stack_open_try(nullptr);
    bool caught = false;
    try {
        for (;;) push_int(-1);
    } catch (ErrorThrow&) {
        caught = true;
        stack_keep_error();
    }
    ASSERT_TRUE(caught);
    EXPECT_EQ(error_id_of(g_args.base), Err::internal_stack_overflow);
    for (i32 i = 1; i < n; ++i) ASSERT_EQ(get_int(g_args.bottom + i), i) << "cell " << i;
    // Once caught, the stack ends where it did.
    EXPECT_EQ(g_args.end, soft_end);
}

TEST_F(StackTest, TwelveThousandFramesOpenTheNextOverflows) {
    stack_open_try(nullptr);
    for (int i = 0; i < 10; ++i) push_int(i);
    i32 opened = 1;
    try {
        for (;;) {
            stack_open_native(nullptr);
            ++opened;
        }
    } catch (ErrorThrow&) {
    }
    EXPECT_EQ(opened, i32(CALL_STACK_FRAMES));
    EXPECT_EQ(error_id_of(stack_top()), Err::internal_stack_overflow);
    // The try frame is gone; the error sits on the argument top, which the overflow left
    // where it was: the values pushed before it are intact.
    EXPECT_EQ(frames(), 0);
    EXPECT_EQ(depth(), 10 + 1);
}

TEST_F(StackTest, OpeningAndClosingFrames) {
    push_int(100);  // caller's result slot
    push_int(101);
    Cell word;
    set_cell(&word, T_WORD, 3, 77, 0);
    Cell* base = stack_open_native(&word);
    EXPECT_EQ(base, g_args.top);
    EXPECT_EQ(base_index(), 2);
    CallFrame* f = stack_top_frame();
    EXPECT_EQ(frame_type(f), u32(FRAME_NATIVE));
    EXPECT_EQ(frame_symbol(f), 77u);
    EXPECT_EQ(f->context, 3u);
    push_int(55);  // the call's result
    push_int(56);
    stack_unwind_last();  // result into the caller's result slot
    EXPECT_EQ(frames(), 0);
    EXPECT_EQ(base_index(), 0);
    EXPECT_EQ(get_int(g_args.base), 55);
    EXPECT_EQ(depth(), 3);  // the call's own result slot stays in view

    stack_open_native(&word);
    push_int(1);
    stack_pop_frame();  // drops down to the caller's base
    EXPECT_EQ(depth(), 0);
    EXPECT_EQ(base_index(), 0);

    push_int(1);
    stack_open_loop(&word);
    push_int(1);
    push_int(2);
    stack_unwind_last_keep();  // the last frame: both back to the bottom
    EXPECT_EQ(depth(), 0);
    EXPECT_EQ(base_index(), 0);
}

TEST_F(StackTest, FunctionFramesGiveTheContextItsValuesBack) {
    Node ctx = alloc_cells(1);
    Cell* cc = cells_of(buffer_of(ctx));
    cc->data2 = 1111;  // the values the context has outside any call
    stack_open_function(nullptr, ctx);
    cc->data2 = 2222;  // the first call's arguments
    stack_open_function(nullptr, ctx);
    cc->data2 = 3333;  // a recursive call's
    // A native frame on top (its function fields are not written: only function frames
    // carry a context to give back).
    stack_open_native(nullptr);
    stack_unwind();
    stack_unwind_function();
    EXPECT_EQ(cc->data2, 2222u);  // the outer call sees its own arguments again
    stack_unwind_reset();
    EXPECT_EQ(cc->data2, 1111u);
    EXPECT_EQ(depth(), 0);

    // Unrolling restores them too.
    stack_open_loop(nullptr);
    stack_open_function(nullptr, ctx);
    cc->data2 = 4444;
    stack_open_function(nullptr, ctx);
    cc->data2 = 5555;
    EXPECT_EQ(frame_type(stack_unroll_loop(false)), u32(FRAME_LOOP));
    EXPECT_EQ(cc->data2, 1111u);
}

TEST_F(StackTest, CompiledBodyPointsTheContextAtItsWindow) {
    Node ctx = alloc_cells(1);
    push_int(0);
    push_int(1);
    stack_open_function_body(nullptr, ctx);
    EXPECT_EQ(cells_of(buffer_of(ctx))->data2, off_of(g_args.bottom));
    EXPECT_EQ(stack_top_frame()->header & 0xFF000000u, FH_FUNCTION_BODY & 0xFF000000u);
}

TEST_F(StackTest, UnrollKeepsTheFoundFrame) {
    push_int(0);
    stack_open_try(nullptr);  // window at 1
    push_int(1);
    stack_open_native(nullptr);  // window at 2
    push_int(2);
    push_int(3);
    stack_open_native(nullptr);  // window at 4
    CallFrame* f = stack_unroll(FRAME_TRY, false);
    EXPECT_EQ(frame_type(f), u32(FRAME_TRY));
    EXPECT_EQ(frames(), 1);
    EXPECT_EQ(base_index(), 0);  // the try frame's saved base
    EXPECT_EQ(depth(), 2);       // its own window's result slot stays

    // The same with keep: the found frame's own window stays.
    g_args.base = g_args.top = g_args.bottom;
    g_calls.top = g_calls.bottom;
    push_int(0);
    stack_open_try(nullptr);  // window at 1
    push_int(1);
    stack_open_native(nullptr);  // window at 2
    push_int(9);
    stack_open_native(nullptr);
    stack_unroll(FRAME_TRY, true);
    EXPECT_EQ(frames(), 1);
    EXPECT_EQ(base_index(), 1);
    EXPECT_EQ(depth(), 2);

    // A try/all frame stops any unroll; no frame at all leaves both at the bottom.
    stack_open_try_all(nullptr);
    stack_open_native(nullptr);
    EXPECT_EQ(frame_type(stack_unroll(FRAME_LOOP, false)), u32(FRAME_TRY_ALL));
    g_calls.top = g_calls.bottom + 1;
    stack_pop_frame();
    EXPECT_EQ(stack_unroll(FRAME_LOOP, false), nullptr);
    EXPECT_EQ(depth(), 0);
    EXPECT_EQ(base_index(), 0);
}

TEST_F(StackTest, UnrollToCarriesTheInnermostResult) {
    push_int(0);
    stack_open_catch(nullptr);  // window at 1
    push_int(1);
    stack_open_native(nullptr);  // window at 2
    push_int(42);
    stack_unroll_to(FRAME_CATCH);
    EXPECT_EQ(frames(), 1);
    EXPECT_EQ(base_index(), 1);
    EXPECT_EQ(depth(), 1);
    EXPECT_EQ(get_int(g_args.base), 42);
}

TEST_F(StackTest, CallWordSkipsReservedNames) {
    Cell w;
    stack_get_call(&w);
    EXPECT_EQ(type_of(&w), T_NONE);

    u32 saved_body = g_sym_body, saved_anon = g_sym_anon;
    g_sym_body = 100;
    g_sym_anon = 101;
    stack_open_named(7, FH_NATIVE);
    stack_open_named(8, FH_NATIVE);
    stack_open_named(100, FH_NATIVE);
    stack_open_named(101, FH_NATIVE);
    stack_open_native(nullptr);
    stack_get_call(&w);
    EXPECT_EQ(type_of(&w), T_WORD);
    EXPECT_EQ(word_symbol(&w), 8u);

    // A remembered throw origin is the starting point, once.
    g_throw_origin = 1 + 1;  // the frame above the first one
    stack_get_call(&w);
    EXPECT_EQ(word_symbol(&w), 7u);
    EXPECT_EQ(g_throw_origin, 0u);
    stack_get_call(&w);
    EXPECT_EQ(word_symbol(&w), 8u);
    g_sym_body = saved_body;
    g_sym_anon = saved_anon;
}

TEST_F(StackTest, FlagsOfTheInnermostFrames) {
    stack_open_native(nullptr);
    EXPECT_FALSE(stack_interpreted(nullptr, false));
    stack_set_interp_flag();
    stack_open_loop(nullptr);
    EXPECT_TRUE(stack_interpreted(nullptr, false));  // further down
    EXPECT_FALSE(stack_interpreted(nullptr, true));   // near: the innermost frame alone
    stack_open_interp_native(nullptr);
    EXPECT_TRUE(stack_interpreted(nullptr, true));

    CallFrame* below = stack_set_return_target_below();
    EXPECT_EQ(below, g_calls.top - 2);
    EXPECT_TRUE(below->header & FRAME_RETURN_TARGET);
    EXPECT_EQ(stack_set_return_target_below(), nullptr);  // already one
    stack_clear_return_target(below);
    EXPECT_FALSE(below->header & FRAME_RETURN_TARGET);
    stack_set_return_flag(true);
    EXPECT_TRUE(stack_top_frame()->header & FRAME_RETURN_TARGET);
    stack_set_return_flag(false);
    EXPECT_FALSE(stack_top_frame()->header & FRAME_RETURN_TARGET);
}

}  // namespace
}  // namespace kel::rt
