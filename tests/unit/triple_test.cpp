// triple!: scripts cannot make one, so its text forms are checked here.
#include "number_helpers.h"
#include "support.h"

namespace kel::test {
namespace {

class TripleText : public RuntimeTest {};

TEST_F(TripleText, FormAndMoldWriteTheThreeNumbersWithTheirSigns) {
    Cell t;
    set_cell(&t, T_TRIPLE, u32(-1), 0, 2147483647u);
    i32 left = 0;
    EXPECT_EQ(form_text(t, &left, nullptr, 100), "make triple! [-1 0 2147483647]");
    EXPECT_EQ(left, 100 - 30);
    EXPECT_EQ(mold_text(t), U"make triple! [-1 0 2147483647]");
    set_cell(&t, T_TRIPLE, 0x80000000u, 1, 2);
    EXPECT_EQ(form_text(t), "make triple! [-2147483648 1 2]");
}

}  // namespace
}  // namespace kel::test
