// The interpreter: expressions, infix order, words and paths, function calls with
// refinements, and the errors of each.
#include "eval_support.h"

namespace kel::test::eval {
namespace {

struct Case {
    const char* source;
    const char* expected;
};

class InterpTest : public EvalTest {};

void check_all(std::initializer_list<Case> cases) {
    for (const Case& c : cases) EXPECT_EQ(run(c.source), c.expected) << c.source;
}

TEST_F(InterpTest, ValuesAndWords) {
    check_all({
        {"1", "1"},
        {"1 2 3", "3"},
        {"", "unset"},
        {"a: 5 a", "5"},
        {"a: b: 7 a + b", "14"},
        {"'foo", "foo"},
        {"'a/b", "a/b"},
        {"(1 2)", "2"},
        {"()", "unset"},
        {"x: [1 2 3] x", "[1 2 3]"},
    });
}

TEST_F(InterpTest, InfixHasNoPrecedence) {
    check_all({
        {"1 + 2 * 3", "9"},
        {"negate 1 + 2", "-3"},
        {"1 + negate 2 + 3", "-4"},
        {"10 - 2 - 3", "5"},
        {"2 * (3 + 4)", "14"},
        {"2147483647 + 1", "2147483648.0"},
        {"-2147483648 - 1", "-2147483649.0"},
        {"65536 * 65536", "4294967296.0"},
        {"1.5 + 2", "3.5"},
        {"1.5 * 2.0", "3.0"},
        {"6 and 3", "2"},
        {"6 or 3", "7"},
        {"6 xor 3", "5"},
        {"7 % 3", "1"},
    });
}

}  // namespace
}  // namespace kel::test::eval
