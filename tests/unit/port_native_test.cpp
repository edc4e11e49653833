// port!: a scheme whose actor is a handle! naming a table of C++ handlers. Scripts cannot
// make such handles, so the scheme is set up here and driven through Kel source.
#include "datatypes/port.h"

#include <cstring>

#include "datatypes/handle.h"
#include "eval_support.h"

namespace kel::dt {
namespace {

using namespace test;
using test::eval::run;

// What the handlers saw last.
i32 g_seen_part = 0;
bool g_seen_binary = false;

Cell* text_result(const char* text) { return load_string(reinterpret_cast<const u8*>(text), u32(std::strlen(text)), 0); }

Cell* native_open_q(Cell*) { return &g_true_cell; }
i32 native_length(Cell*) { return 7; }
// A stack form: the port in the first argument slot, the index in the second.
void native_at() { set_cell(rt::g_args.base, T_INTEGER, 0, u32(get_int(rt::g_args.base + 1) * 10), 0); }
Cell* native_insert(Cell* port, Cell*, i32 part, bool, i32, bool) {
    g_seen_part = part;
    return port;
}
Cell* native_read(Cell*, Cell*, Cell*, bool binary, bool, bool, Cell*) {
    g_seen_binary = binary;
    return text_result("from the native actor");
}

const PortActorTable& table() {
    static PortActorTable t = [] {
        PortActorTable t;
        t.set<A_OPEN_Q>(native_open_q).set<A_LENGTH_Q>(native_length).set<A_AT>(native_at);
        t.set<A_INSERT>(native_insert).set<A_READ>(native_read);
        return t;
    }();
    return t;
}

class PortNativeTest : public eval::EvalTest {
protected:
    void SetUp() override {
        EvalTest::SetUp();
        Cell actor, other;
        make_port_actor_handle(&actor, &table());
        make_handle_at(&other, 1, 0);  // a handle naming no actor table
        Cell w = load_word("native-actor");
        set_word_value(&w, &actor);
        w = load_word("other-actor");
        set_word_value(&w, &other);
        run("scheme: func [name actor] [append system/schemes reduce [name make object! [name: none title: none "
            "info: none actor: none awake: none]] system/schemes/:name/actor: actor]");
        run("scheme 'nat :native-actor  scheme 'odd :other-actor  p: make port! [scheme: 'nat]");
    }
};

TEST_F(PortNativeTest, ActionsReachTheTable) {
    eval::check_all({
        {"type? p/actor", "handle!"},
        // open? is no action of port! itself: only a native actor answers it.
        {"open? p", "true"},
        {"length? p", "7"},
        {"at p 3", "30"},
        {"same? p insert/part p \"abc\" 2", "true"},
        {"read/binary p", "\"from the native actor\""},
    });
    EXPECT_EQ(g_seen_part, 2);
    EXPECT_TRUE(g_seen_binary);
}

TEST_F(PortNativeTest, MissingEntriesAndForeignHandles) {
    const char* unsupported = "*** Access Error: port action not supported\n";
    EXPECT_EQ(run("close p").rfind(unsupported, 0), 0u);
    // write has its entry missing too: no composite open/insert/copy/close stands in.
    EXPECT_EQ(run("write p 1").rfind(unsupported, 0), 0u);
    EXPECT_EQ(run("length? make port! [scheme: 'odd]").rfind(unsupported, 0), 0u);
    // The actions before append stay port!'s own.
    EXPECT_EQ(run("copy/part mold p 12"), "\"make port! [\"");
}

}  // namespace
}  // namespace kel::dt
