// Ownership: changes to a series owned by an object reach its on-deep-change* handler.
#include "datatypes/object.h"
#include "runtime/gc.h"
#include "datatypes/ownership.h"
#include "unit/word_support.h"

namespace kel::test {
namespace {

using namespace dt;

class OwnershipTest : public RuntimeTest {
protected:
    EvalStandIns stand_ins;
};

Cell make_watcher() {
    Cell handler = function_v(blk_v({word_v("owner"), word_v("word"), word_v("target"), word_v("action"),
                                     word_v("new"), word_v("index"), word_v("part")}),
                              blk_v({}));
    return make_obj(blk_v({set_v("list"), blk_v({}), set_v("text"), str_v("ab"), set_v("on-deep-change*"), handler}));
}

std::vector<std::string> actions() {
    std::vector<std::string> out;
    for (auto& c : CallRecorder::calls) out.push_back(mold(&c.args[3]));
    return out;
}

TEST_F(OwnershipTest, AppendToAnOwnedBlockCallsTheHandlerTwice) {
    Cell o = make_watcher();
    rt::RootGuard keep(o);
    Cell list = field(o, "list");
    Cell one = int_v(1);
    Cell* slot = rt::stack_push(&list);
    CallRecorder::calls.clear();
    ev::dispatch<A_APPEND>(slot, &one, -1, false, 1, true);
    EXPECT_EQ(actions(), (std::vector<std::string>{"append", "appended"}));
    ASSERT_EQ(CallRecorder::calls.size(), 2u);
    // The handler hears which field holds the series, and where the change happened.
    EXPECT_EQ(mold(&CallRecorder::calls[1].args[1]), "list");
    EXPECT_EQ(get_int(&CallRecorder::calls[1].args[5]), 0);
    EXPECT_EQ(get_int(&CallRecorder::calls[1].args[6]), 1);
    rt::stack_pop(1);
}

TEST_F(OwnershipTest, UnsetStopsTheNotifications) {
    Cell o = make_watcher();
    rt::RootGuard keep(o);
    Cell list = field(o, "list");
    dt::ownership_unset(&list);
    EXPECT_EQ(dt::ownership_owner(series_node(&list)), nullptr);
    Cell one = int_v(1);
    Cell* slot = rt::stack_push(&list);
    CallRecorder::calls.clear();
    ev::dispatch<A_APPEND>(slot, &one, -1, false, 1, true);
    EXPECT_TRUE(CallRecorder::calls.empty());
    rt::stack_pop(1);
}

TEST_F(OwnershipTest, ObjectHoldingItselfDoesNotRecurse) {
    Cell o = make_watcher();
    rt::RootGuard keep(o);
    Cell self_holder = make_obj(blk_v({set_v("me"), none_v()}));
    rt::RootGuard keep2(self_holder);
    Cell me = word_v("me");
    *object_select_word(&self_holder, &me) = self_holder;
    Cell w = word_v("x");
    dt::ownership_bind(&o, &self_holder, &w);
    EXPECT_NE(dt::ownership_owner(object_context(&self_holder)), nullptr);
}

// Kept scrambled, so that the conservative stack scan does not see the node.
constexpr Node SCRAMBLE = 0x5A5A5A5A;

__attribute__((noinline)) Node own_a_fresh_block(const Cell& owner) {
    Cell b = blk_v({int_v(1)});
    Cell w = word_v("x");
    dt::ownership_set(&owner, &b, &w);
    EXPECT_NE(dt::ownership_record(series_node(&b)), nullptr);
    return series_node(&b) ^ SCRAMBLE;
}

__attribute__((noinline)) void wipe_stack() {
    volatile u8 area[32 * 1024];
    for (auto& b : area) b = 0;
}

TEST_F(OwnershipTest, RecordsDieWithTheirSeries) {
    Cell o = make_watcher();
    rt::RootGuard keep(o);
    Node scrambled = own_a_fresh_block(o);
    wipe_stack();
    // The table is weak: it neither keeps the block alive nor keeps a record of it.
    for (int i = 0; i < 2; ++i) rt::gc_collect();
    EXPECT_EQ(dt::ownership_record(scrambled ^ SCRAMBLE), nullptr);
    Cell list = field(o, "list");
    EXPECT_NE(dt::ownership_record(series_node(&list)), nullptr);
}

}  // namespace
}  // namespace kel::test
