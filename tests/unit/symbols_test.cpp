// Symbols: interning, case twins and their aliases, UTF-8 and long names, growth of the
// symbol table, and the well-known names of the runtime.
#include <cstring>
#include <string>
#include <vector>

#include "hash_support.h"
#include "runtime/hashtable.h"
#include "runtime/stack.h"
#include "runtime/symbols.h"

namespace kel::rt {
namespace {

using test::RuntimeTest;

class SymbolsTest : public RuntimeTest {};

i32 alias_of(u32 id) { return i32(symbol_cell(id)->data1); }

TEST_F(SymbolsTest, SameSpellingSameId) {
    u32 a = make_symbol("sym-same");
    EXPECT_EQ(make_symbol("sym-same"), a);
    const char bytes[] = "sym-same and more";
    EXPECT_EQ(make_symbol_from_buffer(reinterpret_cast<const u8*>(bytes), 8), a);
    EXPECT_EQ(std::string(symbol_name(a)), "sym-same");
    EXPECT_EQ(symbol_name_length(a), 8u);
    EXPECT_EQ(type_of(symbol_cell(a)), T_SYMBOL);
    EXPECT_EQ(alias_of(a), -1);
    EXPECT_EQ(resolve_symbol_alias(a), a);
}

TEST_F(SymbolsTest, OtherCasesAreTwinsOfTheFirstSpelling) {
    u32 lower = make_symbol("sym-twin");
    u32 mixed = make_symbol("Sym-Twin");
    u32 upper = make_symbol("SYM-TWIN");
    EXPECT_NE(mixed, lower);
    EXPECT_NE(upper, lower);
    EXPECT_NE(upper, mixed);
    EXPECT_EQ(alias_of(mixed), i32(lower));
    EXPECT_EQ(alias_of(upper), i32(lower));
    EXPECT_EQ(resolve_symbol_alias(upper), lower);
    EXPECT_EQ(make_symbol("Sym-Twin"), mixed);
    // The start-up's mode answers the known name for any spelling.
    EXPECT_EQ(make_symbol_2("sYM-tWIN"), lower);
    u32 fresh = make_symbol_2("Sym-Fresh-Two");
    EXPECT_EQ(alias_of(fresh), -1);
    u32 twin = make_symbol("sym-fresh-two");
    EXPECT_EQ(twin, symbol_count());
    EXPECT_EQ(resolve_symbol_alias(twin), fresh);
}

TEST_F(SymbolsTest, Utf8Names) {
    struct Case { const char* first; const char* second; bool same; bool twins; };
    for (Case c : {Case{"größe", "größe", true, false}, Case{"Größe", "gröSSe", false, false},
                   Case{"Éclair", "ÉCLAIR", false, true}, Case{"äb", "Äb", false, false},
                   Case{"日本語", "日本語", true, false}}) {
        u32 a = make_symbol(c.first);
        u32 b = make_symbol(c.second);
        EXPECT_EQ(a == b, c.same) << c.first << " / " << c.second;
        if (!c.same) {
            EXPECT_EQ(resolve_symbol_alias(b) == resolve_symbol_alias(a), c.twins) << c.first;
        }
        EXPECT_EQ(std::string(symbol_name(b)), c.second);
    }
}

TEST_F(SymbolsTest, LongNames) {
    std::string name(1000, 'x');
    name += "-end";
    u32 a = make_symbol(name.c_str());
    EXPECT_EQ(make_symbol(name.c_str()), a);
    EXPECT_EQ(symbol_name_length(a), name.size());
    EXPECT_EQ(std::string(symbol_name(a)), name);
    std::string upper = name;
    upper[0] = 'X';
    EXPECT_EQ(resolve_symbol_alias(make_symbol(upper.c_str())), a);
}

TEST_F(SymbolsTest, TwinsNeedTheSameLength) {
    // A private table of 8 buckets, and a long name whose probe path starts where the short
    // one's does: comparing only the short name's bytes would make them twins.
    Cell block;
    set_cell(&block, T_BLOCK, 0, alloc_cells(4), 0);
    Node t = hashtable_init(0, &block, HASH_SYMBOLS);
    u32 mask = hashtable_of(t)->capacity - 1;
    auto bucket = [&](const std::string& s) {
        return murmur3_32_ascii_folded(reinterpret_cast<const u8*>(s.data()), u32(s.size())) & mask;
    };
    std::string shorter = "foo";
    std::string longer;
    for (int i = 0; longer.empty(); ++i) {
        std::string candidate = "FOOBAR" + std::to_string(i);
        if (bucket(candidate) == bucket(shorter)) longer = candidate;
    }
    auto intern = [&](const std::string& s, bool ci_only) {
        return hashtable_find_string(t, reinterpret_cast<const u8*>(s.data()), u32(s.size()), ci_only);
    };
    u32 long_id = intern(longer, false);
    for (bool ci_only : {false, true}) {
        u32 short_id = intern(shorter, ci_only);
        EXPECT_NE(short_id, long_id) << ci_only;
        Cell* cell = cells_of(buffer_of(hashtable_of(t)->block)) + (short_id - 1);
        EXPECT_EQ(i32(cell->data1), -1) << ci_only;
    }
    EXPECT_EQ(hashtable_of(t)->count, 2u);
}

TEST_F(SymbolsTest, TableGrowthKeepsIds) {
    u32 before = symbol_count();
    std::vector<u32> ids;
    for (int i = 0; i < 20000; ++i) ids.push_back(make_symbol(("grow-" + std::to_string(i)).c_str()));
    EXPECT_EQ(symbol_count(), before + 20000);
    EXPECT_GT(hashtable_of(g_symbol_table)->capacity, 16384u);
    for (int i = 0; i < 20000; i += 7) {
        std::string n = "grow-" + std::to_string(i);
        ASSERT_EQ(make_symbol(n.c_str()), ids[i]);
        n[0] = 'G';
        ASSERT_EQ(resolve_symbol_alias(make_symbol(n.c_str())), ids[i]);
    }
}

TEST_F(SymbolsTest, WellKnownNames) {
    for (u32 s = 0; s < SYM_COUNT; ++s) {
        const char* name = runtime_symbol_name(RuntimeSymbol(s));
        EXPECT_EQ(runtime_symbol(RuntimeSymbol(s)), make_symbol(name)) << name;
    }
    for (u32 w = 0; w < WORD_COUNT; ++w) {
        const char* name = runtime_word_name(RuntimeWord(w));
        const Cell* word = runtime_word(RuntimeWord(w));
        EXPECT_EQ(type_of(word), T_WORD) << name;
        EXPECT_EQ(word->data2, make_symbol(name)) << name;
    }
    EXPECT_EQ(std::string(symbol_name(runtime_symbol(SYM_ANY_TYPE))), "any-type!");
    EXPECT_EQ(std::string(symbol_name(runtime_symbol(SYM_BAR))), "|");
    EXPECT_EQ(std::string(symbol_name(runtime_word_symbol(WORD_ON_DEEP_CHANGE))), "on-deep-change*");
    // A name interned both ways has one symbol id.
    EXPECT_EQ(runtime_word_symbol(WORD_EXIT), runtime_symbol(SYM_EXIT));
    EXPECT_EQ(runtime_word_symbol(WORD_RETURN), runtime_symbol(SYM_RETURN));
    EXPECT_EQ(runtime_word_symbol(WORD_TYPE), runtime_symbol(SYM_TYPE));
    // The spellings differ only in case: twins.
    EXPECT_EQ(resolve_symbol_alias(make_symbol("LINUX")), runtime_symbol(SYM_LINUX));
    // Reserved frame names.
    EXPECT_EQ(g_sym_body, make_symbol("<body>"));
    EXPECT_EQ(g_sym_anon, make_symbol("<anon>"));
    const char* refinements[] = {"local", "extern", "compare", "part", "skip", "with"};
    for (u32 r = 0; r < REF_COUNT; ++r) {
        EXPECT_EQ(type_of(&g_refinement_words[r]), T_REFINEMENT);
        EXPECT_EQ(g_refinement_words[r].data2, make_symbol(refinements[r]));
    }
    EXPECT_EQ(type_of(&g_ooo_issue), T_ISSUE);
    EXPECT_EQ(g_ooo_issue.data2, make_symbol("ooo"));
    EXPECT_EQ(i32(g_ooo_issue.data3), -1);
}

}  // namespace
}  // namespace kel::rt
