// get, set, print, prin, the comparison natives, same?, not, type?, reduce and compose.
#include "control_support.h"
#include "evaluator/natives_value.h"

namespace kel::test::eval {
namespace {

class ControlValueTest : public EvalTest {};

TEST_F(ControlValueTest, GetReadsWordsPathsAndObjects) {
    check_cases({
        {"x: 5 get 'x", "5"},
        {"x: 5 get pick [x:] 1", "5"},
        {"get 'never-set-anywhere", "*** Script Error: never-set-anywhere has no value"},
        {"get/any 'never-set-anywhere", "unset"},
        {"b: [k 3] get 'b/k", "3"},
        {"o: make object! [a: 1 b: 2] get o", "[1 2]"},
        {"f: func [] [1] same? get 'f :f", "true"},  // a function is answered, not called
        {"o: make object! [f: func [] [1]] type? get 'o/f", "function!"},
    });
}

TEST_F(ControlValueTest, SetAssignsWordsBlocksPathsAndObjects) {
    check_cases({
        {"set 'x 5 x", "5"},
        {"set 'x 5", "5"},
        {"set 'x ()", "*** Script Error: x needs a value"},
        {"set/any 'x () get/any 'x", "unset"},
        {"set [a b] [1 2] reduce [a b]", "[1 2]"},
        {"set [a b] [1] b", "none"},
        {"a: b: 0 set/some [a b] reduce [1 none] reduce [a b]", "[1 0]"},
        {"set/only [a b] [1 2] b", "[1 2]"},
        {"set [a b] 7 b", "7"},
        {"a: 0 set [a b] reduce [1 ()]", "*** Script Error: b needs a value"},
        {"a: 0 try [set [a b] reduce [1 ()]] a", "0"},  // checked before anything is set
        {"set/any [a b] reduce [1 ()] get/any 'b", "unset"},
        {"set [a 1] [1 2]", "*** Script Error: invalid argument: 1"},
        {"b: [k 1] set 'b/k 5 b", "[k 5]"},
        {"o: make object! [a: 1 b: 2] set o [3 4] o/b", "4"},
    });
}

TEST_F(ControlValueTest, PrintFormsReducedBlocks) {
    EXPECT_EQ(printed("print [1 + 2 \"a\" [b c]]"), "3 a b c\n => unset");
    EXPECT_EQ(printed("print \"text\""), "text\n => unset");
    EXPECT_EQ(printed("print next \"text\""), "ext\n => unset");
    EXPECT_EQ(printed("print 12"), "12\n => unset");
    EXPECT_EQ(printed("print []"), "\n => unset");
    EXPECT_EQ(printed("prin \"a\" prin [1 2]"), "a1 2 => unset");
    EXPECT_EQ(printed("x: 3 print ['x x]"), "x 3\n => unset");
}

TEST_F(ControlValueTest, NestedPrintsKeepTheirOwnValues) {
    EXPECT_EQ(printed("print [\"a\" do [print [\"b\"] \"c\"]]"), "b\na c\n => unset");
    EXPECT_EQ(printed("print [1 do [print [2 do [print [3] 4]] 5]]"), "3\n2 4\n1 5\n => unset");
    // A nested print's own answer is unset, which forms as nothing between its neighbours.
    EXPECT_EQ(printed("print [1 do [print [2]] 3]"), "2\n1  3\n => unset");
    // A failed reduction leaves nothing behind for the next print.
    EXPECT_EQ(printed("try [print [\"x\" 1 / 0]] print [\"y\"]"), "y\n => unset");
    EXPECT_EQ(printed("loop 2 [print [\"z\" break]] print [\"w\"]"), "w\n => unset");
}

TEST_F(ControlValueTest, PrintAndPrinRecordTheLastLineFeed) {
    outcome("print 1");
    EXPECT_EQ(ev::g_print_last_lf, 1u);
    outcome("prin 1");
    EXPECT_EQ(ev::g_print_last_lf, 0u);
    outcome("print \"\"");
    EXPECT_EQ(ev::g_print_last_lf, 1u);
}

TEST_F(ControlValueTest, Comparisons) {
    check_cases({
        {"equal? 1 1.0", "true"},
        {"equal? \"a\" \"A\"", "true"},
        {"equal? 1 \"1\"", "false"},  // incomparable values are simply unequal
        {"not-equal? 1 \"1\"", "true"},
        {"not-equal? 1 1", "false"},
        {"strict-equal? 1 1.0", "false"},
        {"strict-equal? 2 2", "true"},
        {"lesser? 1 2", "true"},
        {"lesser? 2 2", "false"},
        {"lesser-or-equal? 2 2", "true"},
        {"greater? 3 2.5", "true"},
        {"greater-or-equal? 2 3", "false"},
        {"lesser? 1 \"a\"", "*** Script Error: cannot compare 1 with \"a\""},
        {"greater-or-equal? [1] 2", "*** Script Error: cannot compare [1] with 2"},
    });
}

TEST_F(ControlValueTest, SameIsIdentity) {
    check_cases({
        {"same? 1 1", "true"},
        {"same? 1 1.0", "false"},
        {"same? 1.5 1.5", "true"},
        {"same? none none", "true"},
        {"same? () ()", "true"},
        {"same? to char! 97 to char! 97", "true"},
        {"same? \"a\" \"a\"", "false"},
        {"s: \"abc\" same? s s", "true"},
        {"s: \"abc\" same? s next s", "false"},
        {"s: \"abc\" same? next s next s", "true"},
        {"b: [1] same? b copy b", "false"},
        {"same? integer! integer!", "true"},
        {"same? true true", "true"},
        {"same? :add :add", "true"},
        {"same? :add :subtract", "false"},
        {"o: make object! [] same? o o", "true"},
        {"same? make object! [] make object! []", "false"},
        {"same? 'a 'a", "true"},
    });
}

TEST_F(ControlValueTest, NotAndType) {
    check_cases({
        {"not none", "true"},
        {"not false", "true"},
        {"not 0", "false"},
        {"not ()", "false"},
        {"type? 1", "integer!"},
        {"type? type? 1", "datatype!"},
        {"type?/word 1", "integer!"},
        {"type? type?/word 1", "word!"},
        {"type? ()", "unset!"},
        {"type? [a]", "block!"},
    });
}

TEST_F(ControlValueTest, Reduce) {
    check_cases({
        {"reduce [1 + 2 3]", "[3 3]"},
        {"reduce []", "[]"},
        {"reduce [[1 + 2]]", "[[1 + 2]]"},  // inner blocks are values
        {"x: 4 reduce 'x", "4"},
        {"reduce 7", "7"},
        {"same? :print reduce :print", "true"},
        {"b: [x y] reduce/into [1 + 1] tail b", "[2]"},  // appended: the answer is where it was
        {"b: [x y] reduce/into [1 + 1] tail b b", "[x y 2]"},
        {"b: [x y] reduce/into [1 + 1] b", "[x y]"},  // inserted: the answer is after it
        {"b: [x y] reduce/into [1 + 1] b b", "[2 x y]"},
        {"b: [x y] reduce/into [1 2] next b b", "[x 1 2 y]"},
        {"x: 5 b: [x] reduce/into 'x tail b b", "[x 5]"},
        {"h: make hash! [a 1] reduce/into ['c 1 + 2] h select h 'c", "3"},  // the hash index follows
        {"p: 'a/b reduce/into [1] tail p p", "a/b/1"},
        {"reduce [1 / 0]", "*** Math Error: attempt to divide by zero"},
        {"f: func [] [reduce [1 return 2]] f", "2"},
    });
}

TEST_F(ControlValueTest, ReduceDropsNewLineMarkers) {
    EXPECT_EQ(outcome("reduce [\n1\n2]"), "[1 2]");
    EXPECT_EQ(outcome("b: [\n1\n2] b"), "[\n    1\n    2\n]");
}

TEST_F(ControlValueTest, Compose) {
    check_cases({
        {"compose [a (1 + 2) b]", "[a 3 b]"},
        {"compose [a () b]", "[a b]"},
        {"compose [a (do []) b]", "[a b]"},  // an unset result adds nothing
        {"compose [(reduce [1 2])]", "[1 2]"},
        {"compose/only [(reduce [1 2])]", "[[1 2]]"},
        {"compose [([])]", "[]"},
        {"compose/only [([])]", "[[]]"},
        {"compose [[(1 + 1)]]", "[[(1 + 1)]]"},
        {"compose/deep [a [(1 + 1) [(2 + 2)]] ()]", "[a [2 [4]]]"},
        {"b: [1 2] compose/into [(3)] next b b", "[1 3 2]"},
        {"b: [1 2] compose/into [(3)] next b", "[2]"},
        {"b: [1 2] compose/into [(3) x] tail b b", "[1 2 3 x]"},
        {"h: make hash! [a 1] compose/into [b (2)] tail h select h 'b", "2"},
        {"compose 1", "*** Script Error: compose does not allow integer! for its value argument"},
        {"b: [(1)] append/only b b compose/deep b", "*** Internal Error: circular reference not allowed"},
        {"f: func [] [compose [(return 5)]] f", "5"},
    });
}

// A function composing a nested literal block of its own body while it recurses is not a
// cycle: each level splices the block that the level below made.
TEST_F(ControlValueTest, RecursiveComposeIsNotACycle) {
    EXPECT_EQ(outcome("f: func [n] [compose/deep [[(either n > 0 [f n - 1] [0])]]] f 3"), "[[[[[0]]]]]");
}

}  // namespace
}  // namespace kel::test::eval
