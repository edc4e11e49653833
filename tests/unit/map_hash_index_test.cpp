// The indexes of map! and hash! after edits: every cell (every key) is found at its own
// position, nothing removed is found, and a map revives a removed entry in place.
#include <string>
#include <vector>

#include "datatypes/series.h"
#include "eval_support.h"
#include "runtime/hashtable.h"

namespace kel::test {
namespace {

using namespace eval;

class IndexTest : public EvalTest {
protected:
    // The value of a global word set by the script.
    Cell global(const char* name) {
        Cell w = dt::load_word(name);
        const Cell* v = dt::word_value_or_null(&w);
        EXPECT_NE(v, nullptr) << name;
        return v ? *v : Cell{};
    }
    static Cell* cells(const Cell* s) { return rt::cells_of(rt::buffer_of(series_node(s))); }
    static i32 length(const Cell* s) { return dt::ks_buffer_length(s); }
};

// Every cell of the hash's buffer is indexed at its own position: a look-up from position i
// of the value at i answers i itself.
void expect_indexed(const Cell& h, const char* script) {
    ASSERT_EQ(type_of(&h), u32(T_HASH)) << script;
    Cell copy = h;
    Cell* s = rt::stack_push(&copy);
    i32 n = dt::ks_buffer_length(s);
    for (i32 i = 0; i < n; ++i) {
        Cell key = rt::cells_of(rt::buffer_of(series_node(s)))[i];
        Cell* hit = rt::hashtable_get(s->data3, &key, i, 1, ev::OP_EQUAL);
        ASSERT_NE(hit, nullptr) << script << " cell " << i;
        EXPECT_EQ(hit - rt::cells_of(rt::buffer_of(series_node(s))), i) << script << " cell " << i;
    }
    rt::stack_pop(1);
}

TEST_F(IndexTest, HashIndexFollowsEdits) {
    struct Case {
        const char* script;
        const char* gone;  // values that were removed and must not be found
    };
    const Case cases[] = {
        {"h: make hash! [c 3 a 1 b 2 a 0] sort h", "[]"},
        {"h: make hash! [c 3 a 1 b 2] sort/skip/reverse h 2", "[]"},
        {"h: make hash! [a #(none) b #(none) c] trim h", "[#(none)]"},
        {"h: make hash! [x #(none) y #(none)] trim next h", "[]"},
        {"h: make hash! [a b c] poke h 2 'z", "[b]"},
        {"h: make hash! [a b a] poke h 3 'q change h 'r", "[a]"},
        {"h: make hash! [a b c d] remove/part next h 2 insert h [x y]", "[b c]"},
        {"h: make hash! [1 2 3] reverse h take/last h", "[1]"},
        {"h: make hash! [3 1 2 1 3 2] sort h remove/part h 3", "[1]"},
        // Past 30000 moved keys an edit rebuilds the whole index instead.
        {"h: make hash! 0 repeat i 31000 [append h i] insert h 0 remove next h", "[1]"},
        {"h: copy/deep make hash! [[1] a [2] b]", "[]"},
        {"h: copy next make hash! [a b a b]", "[]"},
    };
    for (const auto& c : cases) {
        std::string out = run(c.script);
        ASSERT_EQ(out.find("***"), std::string::npos) << c.script << ": " << out;
        Cell h = global("h");
        expect_indexed(h, c.script);
        std::string check = std::string("r: copy [] foreach v ") + c.gone + " [if find head h v [append r v]] r";
        EXPECT_EQ(run(check.c_str()), "[]") << c.script;
    }
}

TEST_F(IndexTest, MapIndexAfterRemovals) {
    // Removing and putting again revives the entry in place: the entries never grow.
    run("m: make map! [a 1 b 2 \"k\" 3] loop 50 [remove/key m 'a remove/key m \"k\" m/a: 1 put m \"K\" 4]");
    Cell m = global("m");
    ASSERT_EQ(type_of(&m), u32(T_MAP));
    Cell* ms = rt::stack_push(&m);
    EXPECT_EQ(length(ms), 6);
    EXPECT_EQ(rt::hashtable_of(ms->data3)->count, 3u);
    // Every key is found at its own cell, and each value is live.
    for (i32 i = 0; i < 6; i += 2) {
        Cell key = cells(ms)[i];
        Cell* hit = rt::hashtable_get(ms->data3, &key, 0, 1, ev::OP_STRICT_EQUAL);
        ASSERT_NE(hit, nullptr);
        EXPECT_EQ(hit - cells(ms), i);
        EXPECT_NE(cells(ms)[i + 1].header, 0u);
    }
    rt::stack_pop(1);

    // A removed entry keeps its key in the index with a dead value; the count drops.
    run("m: make map! [a 1 b 2 c 3] remove/key m 'b remove/key m 'b");
    m = global("m");
    ms = rt::stack_push(&m);
    EXPECT_EQ(rt::hashtable_of(ms->data3)->count, 2u);
    EXPECT_EQ(cells(ms)[3].header, 0u);
    EXPECT_EQ(run("reduce [length? m select m 'b m/b: 5 length? m mold/flat m]"), "[2 none 5 3 \"#[a: 1 b: 5 c: 3]\"]");
    rt::stack_pop(1);

    // Many keys, half removed, all put again: every look-up still lands on its own key.
    run("m: make map! [] repeat i 200 [m/:i: i put m form i i] "
        "repeat i 100 [remove/key m i * 2 remove/key m form i] repeat i 200 [m/:i: 0 - i]");
    EXPECT_EQ(run("length? m"), "300");
    EXPECT_EQ(run("reduce [m/2 m/200 select m \"7\" select m \"150\" select m \"99\"]"), "[-2 -200 none 150 none]");
    m = global("m");
    ms = rt::stack_push(&m);
    EXPECT_EQ(length(ms), 800);
    rt::stack_pop(1);
}

}  // namespace
}  // namespace kel::test
