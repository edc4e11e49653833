// handle!: scripts cannot make handles, so their text and comparison are checked here.
#include "datatypes/handle.h"

#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "evaluator/actions.h"
#include "runtime/externals.h"
#include "runtime/symbols.h"
#include "support.h"
#include "text_support.h"

namespace kel::dt {
namespace {

using namespace test;

class HandleTest : public RuntimeTest {};

std::u32string text_of(Cell* h, bool mold, bool all) {
    Cell* out = push_string(16);
    i32 left = mold ? ev::mold_dispatch(h, out, false, all, false, nullptr, 100, 0)
                    : ev::form_dispatch(h, out, nullptr, 100);
    std::u32string t = node_text(series_node(out));
    EXPECT_EQ(left, 100 - i32(t.size())) << "budget";
    return t;
}

TEST_F(HandleTest, FormAndMold) {
    i32 image = rt::externals_register_kind(rt::make_symbol("image"), nullptr);
    struct Case {
        i32 value, kind;
        const char32_t* form;
        const char32_t* mold_all;
    } cases[] = {
        {0, 0, U"00000000h", U"#[handle! 00000000h]"},
        {0xABCD, 0, U"0000ABCDh", U"#[handle! 0000ABCDh]"},
        {0x00A3F2C0, image, U"00A3F2C0h", U"#[handle! 00A3F2C0h image]"},
        {-1, 0, U"FFFFFFFFh", U"#[handle! FFFFFFFFh]"},
        {5, 200, U"00000005h", U"#[handle! 00000005h]"},  // a number no kind has: no name
    };
    for (const Case& c : cases) {
        Cell* h = push_handle(c.value, c.kind);
        EXPECT_EQ(h->data3, u32(-1));
        EXPECT_EQ(text_of(h, false, false), c.form);
        EXPECT_EQ(text_of(h, true, false), U"handle!");
        EXPECT_EQ(text_of(h, true, true), c.mold_all);
    }
}

TEST_F(HandleTest, ComparesByValueAloneAndOnlyWithHandles) {
    auto compare = handler<A_COMPARE>(T_HANDLE);
    Cell* a = push_handle(-5, 1);
    Cell* b = push_handle(7, 0);
    Cell* c = push_handle(7, 2);
    EXPECT_EQ(compare(a, b, 0), -1);  // signed: -5 is below 7
    EXPECT_EQ(compare(b, a, 0), 1);
    EXPECT_EQ(compare(b, c, 0), 0);  // kinds are not compared
    Cell* n = rt::stack_push_slot();
    set_cell(n, T_INTEGER, 0, 7, 0);
    EXPECT_EQ(compare(b, n, 0), -2);
    EXPECT_EQ(compare(b, n, 3), -2);
    EXPECT_FALSE(ev::compare(b, n, 0));  // not comparable is never equal
    EXPECT_TRUE(ev::compare(b, c, 0));
}

TEST_F(HandleTest, NothingElseIsSupported) {
    for (int a : {A_MAKE, A_TO, A_ADD, A_NEGATE, A_EVEN_Q, A_PICK, A_RANDOM})
        EXPECT_EQ(action_entry(T_HANDLE, u32(a)), nullptr) << a;
}

}  // namespace
}  // namespace kel::dt
