#include "eval_support.h"
namespace kel::test::eval {
namespace {
class ControlSmoke : public EvalTest {};
TEST_F(ControlSmoke, Basics) {
    const char* srcs[] = {
        "if true [1]", "if false [1]", "either 1 [2] [3]", "any [none 2]", "all [1 2]", "all []",
        "x: 0 loop 3 [x: x + 1] x", "loop 0 [1]", "repeat i 5 [i]", "x: 0 while [lesser? x 5] [x: x + 1] x",
        "x: 0 until [x: x + 1 equal? x 4]", "b: [] foreach v [1 2 3] [append b v * 2] b",
        "foreach [a b] [1 2 3 4] [b]", "b: [1 2 3 4] remove-each v b [odd? v] b",
        "b: [1 2 3] forall b [b/1] b", "f: func [a] [a + 1] f 2", "f: function [a] [z: a z] f 3",
        "switch 2 [1 [10] 2 [20]]", "case [false [1] true [2]]", "do [1 + 2]", "reduce [1 + 2 3]",
        "compose [a (1 + 2) (reduce [4 5])]", "get 'x", "set [p q] [1 2] q", "type? 1", "type?/word 1",
        "same? 1 1", "not none", "loop 3 [break]", "loop 3 [break/return 5]", "x: 0 loop 5 [x: x + 1 if equal? x 3 [break]] x",
        "forever [break/return 7]", "f: func [] [loop 5 [return 9] 1] f", "print [1 + 2 \"a\"]",
        "print [\"a\" do [print [\"b\"] \"c\"]]",
    };
    for (const char* s : srcs) printf("%-50s => %s\n", s, run(s).c_str());
}
}
}
