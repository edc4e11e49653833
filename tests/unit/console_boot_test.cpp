// Start-up's registration of the library: what the boot sources leave behind, and the
// routines registered from C++ as the language sees them.
#include <string>

#include "eval_support.h"
#include "datatypes/function.h"
#include "library/routines.h"

namespace kel::test::eval {
namespace {

struct Case {
    const char* source;
    const char* expected;
};

void expect_all(std::initializer_list<Case> cases) {
    for (const Case& c : cases) EXPECT_EQ(run(c.source), c.expected) << c.source;
}

class ConsoleBootTest : public EvalTest {};

TEST_F(ConsoleBootTest, TheConsoleObjectIsTheFullOneAndItsWordsShareTheirFunctions) {
    expect_all({
        {"object? system/console", "true"},
        {"function? :system/console/run", "true"},
        {"routine? :system/console/init", "true"},
        {"system/console/def-prompt", "\">> \""},
        {"same? system/console/prompt system/console/def-prompt", "true"},
        {"same? :q :quit", "true"},
        {"function? :cli-console-ctx/launch", "true"},
        {"system/console/mode", "mono"},
        {"system/platform", "Linux"},
        {"system/options/binary-base", "16"},
        {"system/catalog/errors/script/code", "300"},
        {"system/catalog/errors/math/type", "\"Math Error\""},
        {"any-object? system/standard/error", "true"},
        {"length? system/lexer/exit-states", "36"},
        {"system/lexer/exit-states/13", "comma"},
        {"system/lexer/exit-states/28", "point"},
        {"datatype? system/lexer/exit-states/3", "true"},
    });
}

TEST_F(ConsoleBootTest, TypePredicatesAreExactAndFamiliesFollowTheirTypesets) {
    expect_all({
        {"routine? :block?", "true"},
        {"block? [1]", "true"},
        {"block? 1", "false"},
        {"unset? ()", "true"},
        {"object? make error! [type: 'user id: 'message arg1: \"x\"]", "false"},
        {"any-object? make error! [type: 'user id: 'message arg1: \"x\"]", "true"},
        {"any-string? \"a\"", "true"},
        {"series? [a]", "true"},
        {"number? 1.5", "true"},
        {"any-word? 'a", "true"},
    });
    // A family predicate reads its typeset word afresh at each call.
    expect_all({
        {"saved: number! number!: make typeset! [integer!] number? 1.5", "false"},
        {"number!: saved number? 1.5", "true"},
        {"number!: 1 number? 1", "false"},
        {"number!: saved number? 1", "true"},
    });
}

TEST_F(ConsoleBootTest, LibraryFunctions) {
    expect_all({
        {"empty? none", "true"},
        {"empty? []", "true"},
        {"empty? next [1]", "true"},
        {"last [1 2 3]", "3"},
        {"attempt [1 + none]", "none"},
        {"attempt [2]", "2"},
        {"load \"1\"", "1"},
        {"load \"1 2\"", "[1 2]"},
        {"load/all \"1\"", "[1]"},
        {"load \"\"", "[]"},
        {"split-path \"a/b/c.kel\"", "[\"a/b/\" \"c.kel\"]"},
        {"split-path \"c.kel\"", "[\"./\" \"c.kel\"]"},
    });
}

TEST_F(ConsoleBootTest, MemberPathsReachObjectFieldsOrRaise) {
    EXPECT_EQ(type_of(lib::member_slot("system/console/init")), T_ROUTINE);
    for (const char* path : {"system/no-such-member", "system/platform/deeper", "system/console/nothing"}) {
        EXPECT_EQ(catch_error([&] { lib::member_slot(path); }), rt::Err::script_invalid_path) << path;
    }
}

TEST_F(ConsoleBootTest, EveryRoutineIsBoundWhereItsDefinitionSays) {
    // A definition naming a source outside the boot order, or a target its source never
    // builds, would leave the routine unreachable.
    for (u32 code = 1; code <= lib::routine_count(); ++code) {
        const lib::RoutineDef* def = lib::routine_def(code);
        ASSERT_NE(def, nullptr);
        const Cell* value = lib::member_slot(def->target);
        ASSERT_EQ(type_of(value), T_ROUTINE) << def->target;
        const Cell* entry = dt::function_record(value, dt::FN_CODE);
        EXPECT_EQ(get_int(entry), i32(code)) << def->target;
    }
}

TEST_F(ConsoleBootTest, RoutinesHaveEntriesAndUnknownCodesHaveNone) {
    EXPECT_GT(lib::routine_count(), 60u);
    EXPECT_EQ(lib::routine_entry(0), nullptr);
    EXPECT_EQ(lib::routine_entry(i64(lib::routine_count()) + 1), nullptr);
    EXPECT_NE(lib::routine_entry(1), nullptr);
}

}  // namespace
}  // namespace kel::test::eval
