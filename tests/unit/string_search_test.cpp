// string!: find and append over every pairing of unit widths, checked against a plain
// character-by-character model, and the case folding the search's first-character scan
// leans on.
#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "datatypes/string.h"
#include "datatypes/string_actions.h"
#include "datatypes/string_search.h"
#include "runtime/casefold.h"
#include "support.h"
#include "text_support.h"

namespace kel {
namespace {

using namespace dt;
using rt::case_fold_char;

u32 narrowest(const std::u32string& s) {
    u32 unit = 1;
    for (char32_t c : s) unit = c > 0xFFFF ? 4 : c > 0xFF && unit < 2 ? 2 : unit;
    return unit;
}

struct Flags {
    bool case_sensitive = false, last = false, reverse = false, tail = false, match = false;
    i32 skip = 1, part = INT_MIN;  // INT_MIN: no /part
};

// find as plain code: every start tried in order, every character folded and compared.
i64 model_find(const std::u32string& text, i64 head, const std::u32string& needle, const Flags& f) {
    i64 total = i64(text.size()), m = i64(needle.size());
    if (total == 0 || (head >= total && !f.reverse)) return -1;
    i64 from = head, to = total;
    if (f.part != INT_MIN) {
        if (f.part < 1) return -1;
        to = std::min(to, head + f.part);
    }
    auto eq = [&](i64 q) {
        for (i64 k = 0; k < m; ++k) {
            u32 a = text[size_t(q + k)], b = needle[size_t(k)];
            if (!f.case_sensitive) a = case_fold_char(a, false), b = case_fold_char(b, false);
            if (a != b) return false;
        }
        return true;
    };
    i64 found = -1;
    if (f.reverse) {
        if (f.match) return -1;
        for (i64 p = head - 1; p >= 0 && found < 0; p -= f.skip)
            if (p - m + 1 >= 0 && eq(p - m + 1)) found = p - m + 1;
    } else if (f.last) {
        for (i64 p = to - 1; p >= from && found < 0; p -= f.skip)
            if (p - m + 1 >= from && eq(p - m + 1)) found = p - m + 1;
    } else {
        for (i64 p = from; p < to && found < 0; p += f.skip) {
            if (p + m <= to && eq(p)) found = p;
            if (f.match) break;
        }
    }
    return found < 0 ? -1 : f.tail ? found + m : found;
}

class StringSearchTest : public test::RuntimeTest {
protected:
    static i64 find(Cell* s, Cell* v, const Flags& f) {
        Cell skip, part;
        set_cell(&skip, T_INTEGER, 0, u32(f.skip));
        set_cell(&part, T_INTEGER, 0, u32(f.part));
        Cell* r = string_find(s, v, f.part == INT_MIN ? nullptr : &part, false, f.case_sensitive, false, false,
                              nullptr, f.skip == 1 ? nullptr : &skip, f.last, f.reverse, f.tail, f.match);
        return type_of(r) == T_NONE ? -1 : series_head(r);
    }
    static std::u32string text(const Cell* s) {
        std::u32string r;
        for (u32 i = 0, n = string_length(s); i < n; ++i) r += char32_t(string_char_at(s, i));
        return r;
    }
    static u32 unit(const Cell* s) { return rt::buffer_of(series_node(s))->unit(); }
};

// Each text is stored in every unit that holds it, and so is each needle: the scans of
// one, two and four-byte units must agree with the model, whatever the needle's width.
TEST_F(StringSearchTest, FindAgreesWithModelAcrossWidths) {
    // Longer than a 16-byte block in every width, so that hits fall inside and across
    // blocks as well as in the tail left over.
    const std::u32string filler = U"the quick brown fox jumps over it ";
    const std::u32string texts[] = {
        filler + U"Hello HELLO hello" + filler,
        U"aAaAaAaAaAaAaAaAaAaAaAaAaAaAaAaAaAb",
        filler + U"caf\u00C9 CAF\u00E9 \u00FF\u00DF" + filler,
        filler + U"\u212A\u0130 k i K I \u03A3\u03C3\u03C2" + filler,
        filler + U"\u20AC\u4E2D\u6587 \u20ac" + filler,
        filler + U"\U00010400\U00010428 x\U0001F600" + filler,
    };
    const std::u32string needles[] = {
        U"hello", U"h", U"o h", U"aab", U"Ab", U"caf\u00E9", U"\u00C9", U"\u00FF", U"\u0178", U"k", U"K",
        U"\u212A", U"i", U"\u0130", U"\u03C3", U"\u03C2", U"\u20AC", U"\u4E2D\u6587", U"\U00010428", U"\U00010400 x",
        U"it ", U"zz", U"\u0101",
    };
    std::vector<Flags> modes;
    for (bool cs : {false, true}) {
        Flags f;
        f.case_sensitive = cs;
        modes.push_back(f);
        Flags l = f;
        l.last = true;
        modes.push_back(l);
        Flags r = f;
        r.reverse = true;
        modes.push_back(r);
        Flags m = f;
        m.match = true;
        modes.push_back(m);
        Flags t = f;
        t.tail = true;
        modes.push_back(t);
        Flags s = f;
        s.skip = 3;
        modes.push_back(s);
        Flags ls = l;
        ls.skip = 2;
        modes.push_back(ls);
        Flags p = f;
        p.part = 40;
        modes.push_back(p);
    }
    for (const auto& t : texts) {
        for (u32 tu = narrowest(t); tu <= 4; tu *= 2) {
            for (const auto& n : needles) {
                for (u32 nu = narrowest(n); nu <= 4; nu *= 2) {
                    for (i64 head : {i64(0), i64(17), i64(t.size() - 3)}) {
                        for (const Flags& f : modes) {
                            Cell* mark = rt::g_args.top;
                            Cell* s = test::push_text(tu, t);
                            s->data1 = u32(head);
                            Cell* v = test::push_text(nu, n);
                            i64 got = find(s, v, f);
                            i64 want = model_find(t, head, n, f);
                            rt::g_args.top = mark;
                            ASSERT_EQ(got, want) << "text " << (&t - texts) << " unit " << tu << ", needle "
                                                 << (&n - needles) << " unit " << nu << ", head " << head
                                                 << ", case " << f.case_sensitive << " last " << f.last << " reverse "
                                                 << f.reverse << " match " << f.match << " tail " << f.tail
                                                 << " skip " << f.skip << " part " << f.part;
                        }
                    }
                }
            }
        }
    }
}

// One-byte text is scanned for the bytes that fold to the run's first character: that
// pair must be exactly the bytes that fold to it, for every first character.
TEST(StringSearchFold, ByteCandidatesAreEveryByteThatFolds) {
    rt::init_case_folding();
    std::vector<u32> firsts;
    for (u32 c = 0; c < 0x3000; ++c) firsts.push_back(c);
    for (u32 c : {0x212Au, 0x212Bu, 0x2126u, 0x1E9Eu, 0xFF41u, 0x10428u}) firsts.push_back(c);
    for (u32 first : firsts) {
        std::vector<u32> want;
        for (u32 b = 0; b <= 0xFF; ++b)
            if (case_fold_char(b, false) == first) want.push_back(b);
        u8 out[2];
        u32 n = byte_fold_candidates(first, out);
        std::vector<u32> got(out, out + n);
        std::sort(got.begin(), got.end());
        ASSERT_EQ(got, want) << "first " << first;
    }
}

// Long runs of a repeated start: the byte scan must not stop at a near miss, nor step past
// a hit that starts inside a near miss.
TEST_F(StringSearchTest, RepeatedStartsAndLongRuns) {
    std::u32string t(100, U'a');
    t += U"ab";
    std::u32string longer(70, U'a');
    longer += U"b";  // longer than the inline needle, and than memmem's short form
    for (u32 tu : {1u, 2u, 4u}) {
        for (bool cs : {false, true}) {
            Cell* s = test::push_text(tu, t);
            Flags f;
            f.case_sensitive = cs;
            EXPECT_EQ(find(s, test::push_text(1, U"aab"), f), 99) << tu;
            EXPECT_EQ(find(s, test::push_text(1, longer), f), 101 - 70) << tu;
            EXPECT_EQ(find(s, test::push_text(1, U"AAB"), f), cs ? -1 : 99) << tu;
            EXPECT_EQ(find(s, test::push_text(1, U"abb"), f), -1) << tu;
        }
    }
}

struct AppendCase {
    std::u32string target;
    u32 target_unit;
    std::u32string source;
    u32 source_unit;
    i32 part;
    std::u32string want;
    u32 want_unit;
};

// Appending text widens the target to the source's unit (never for an empty part) and
// copies in one pass, whatever the pair of widths.
TEST_F(StringSearchTest, AppendAcrossWidths) {
    const AppendCase cases[] = {
        {U"ab", 1, U"cd", 1, -1, U"abcd", 1},
        {U"ab", 1, U"c\u00E9", 1, -1, U"abc\u00E9", 1},  // a one-byte source keeps the target narrow
        {U"ab", 1, U"cd", 2, -1, U"abcd", 2},
        {U"ab", 1, U"c\u20AC", 2, 1, U"abc", 2},
        {U"ab", 1, U"c\U0001F600", 4, -1, U"abc\U0001F600", 4},
        {U"ab", 1, U"\U0001F600", 4, 0, U"ab", 1},
        {U"a\u20AC", 2, U"cd", 1, -1, U"a\u20ACcd", 2},
        {U"a\u20AC", 2, U"c\u00FF", 1, -1, U"a\u20ACc\u00FF", 2},
        {U"a\u20AC", 2, U"\u4E2D", 2, -1, U"a\u20AC\u4E2D", 2},
        {U"a\u20AC", 2, U"\U00010400z", 4, -1, U"a\u20AC\U00010400z", 4},
        {U"\U0001F600", 4, U"xyz", 1, 2, U"\U0001F600xy", 4},
        {U"\U0001F600", 4, U"\u20ACy", 2, -1, U"\U0001F600\u20ACy", 4},
        {U"\U0001F600", 4, U"\U00010400", 4, -1, U"\U0001F600\U00010400", 4},
        {U"", 1, U"", 4, -1, U"", 1},
    };
    for (const AppendCase& c : cases) {
        Cell* t = test::push_text(c.target_unit, c.target);
        Cell* v = test::push_text(c.source_unit, c.source);
        string_append(t, v, c.part, false, 1, true);
        EXPECT_EQ(text(t), c.want) << "case " << (&c - cases);
        EXPECT_EQ(unit(t), c.want_unit) << "case " << (&c - cases);
    }
}

// A string appended to itself, from its head or from further on, in each width; with
// /part; and a source of another series whose head lies past its tail.
TEST_F(StringSearchTest, AppendToItself) {
    for (u32 u : {1u, 2u, 4u}) {
        Cell* t = test::push_text(u, U"abcdefghijklmnopqrstuvwxyz0123456789");
        Cell* v = rt::stack_push(t);
        v->data1 = 30;
        string_append(t, v, -1, false, 1, true);
        string_append(t, t, 3, false, 1, true);
        EXPECT_EQ(text(t), U"abcdefghijklmnopqrstuvwxyz0123456789456789abc") << u;
        EXPECT_EQ(unit(t), u);
        Cell* past = test::push_text(u, U"xy");
        past->data1 = 5;
        string_append(t, past, -1, false, 1, true);
        EXPECT_EQ(string_length(t), 45u) << u;
    }
}

}  // namespace
}  // namespace kel
