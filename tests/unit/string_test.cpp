// string!: buffers and widening, text forms, comparison, editing, search and sorting.
#include <climits>
#include <cstring>
#include <string>

#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/string_actions.h"
#include "evaluator/actions.h"
#include "runtime/series.h"
#include "support.h"

namespace kel {
namespace {

using namespace dt;
using rt::buffer_of;

class StringTest : public test::RuntimeTest {
protected:
    // A string holding the text, each character stored by the append rule.
    static Cell* str(const std::u32string& text) {
        Cell* s = push_string(u32(text.size()));
        for (char32_t c : text) append_char(s, u32(c));
        return s;
    }
    static std::u32string text(const Cell* s) {
        std::u32string r;
        for (u32 i = 0, n = string_length(s); i < n; ++i) r += char32_t(string_char_at(s, i));
        return r;
    }
    static u32 unit(const Cell* s) { return buffer_of(series_node(s))->unit(); }
    static Cell integer(i32 v) {
        Cell c;
        set_cell(&c, T_INTEGER, 0, u32(v));
        return c;
    }
    static Cell chr(u32 cp) {
        Cell c;
        set_cell(&c, T_CHAR, 0, cp);
        return c;
    }
    static std::u32string mold(const std::u32string& t, bool all = false, i32 part = -1) {
        Cell* v = str(t);
        Cell* out = push_string(16);
        Cell* p = part >= 0 ? v : nullptr;
        ev::mold_dispatch(v, out, false, all, false, p, part >= 0 ? part : INT_MAX, 0);
        return text(out);
    }
};

// ---- buffers and widening ---------------------------------------------------------------

TEST_F(StringTest, WideningThresholds) {
    struct Case {
        const char* how;
        u32 start_unit;  // 1 or 2 (a 2-byte buffer is made by appending U+0100 first)
        u32 cp;
        u32 want_unit;
    };
    const Case cases[] = {
        {"append", 1, 127, 1},    {"append", 1, 128, 2},     {"append", 1, 233, 2},
        {"append", 1, 0xFFFF, 2}, {"append", 1, 0x10000, 4}, {"append", 2, 0xFFFF, 2},
        {"append", 2, 0x10000, 4}, {"poke", 1, 233, 1},      {"poke", 1, 255, 1},
        {"poke", 1, 256, 2},      {"poke", 1, 0x10000, 4},   {"poke", 2, 0x1F600, 4},
        {"insert", 1, 255, 1},    {"insert", 1, 256, 2},     {"insert", 2, 0x10000, 4},
    };
    for (const Case& c : cases) {
        Cell* s = str(c.start_unit == 2 ? U"\u0100ab" : U"xab");
        ASSERT_EQ(unit(s), c.start_unit);
        std::u32string before = text(s);
        std::u32string want = before;
        std::string how = c.how;
        if (how == "append") {
            append_char(s, c.cp);
            want += char32_t(c.cp);
        } else if (how == "poke") {
            string_poke_char(s, 1, c.cp);
            want[1] = char32_t(c.cp);
        } else {
            string_insert_char(buffer_of(series_node(s)), 1, c.cp);
            want.insert(1, 1, char32_t(c.cp));
        }
        EXPECT_EQ(unit(s), c.want_unit) << c.how << " " << c.cp;
        EXPECT_EQ(text(s), want) << c.how << " " << c.cp;
    }
}

TEST_F(StringTest, PositionsAndRemoval) {
    Cell* s = str(U"hello");
    EXPECT_EQ(string_find_char(s, 'l'), 2);
    EXPECT_EQ(string_find_char(s, 'z'), -1);
    EXPECT_TRUE(string_match_c_string_q(s, "hel"));
    EXPECT_FALSE(string_match_c_string_q(s, "help"));
    EXPECT_TRUE(string_find_char_skip(s, 'L', 1, false));
    EXPECT_FALSE(string_find_char_skip(s, 'L', 1, true));
    EXPECT_FALSE(string_find_char_skip(s, 'e', 2, false));

    // A head beyond the tail is pulled back, and the cell keeps the clamped index.
    s->data1 = 40;
    string_head_ptr(s);
    EXPECT_EQ(series_head(s), 5);
    // A negative head counts as 0.
    s->data1 = u32(-3);
    EXPECT_EQ(string_length(s), 5u);
    EXPECT_EQ(text(s), U"hello");
    s->data1 = 0;

    string_remove_chars(s, 1, 2);
    EXPECT_EQ(text(s), U"hlo");
    string_remove_chars(s, 9, 1);
    EXPECT_EQ(text(s), U"hlo");
    string_remove_range(s, 2);
    EXPECT_EQ(text(s), U"hl");
    string_reset(s);
    EXPECT_EQ(text(s), U"");
    EXPECT_EQ(unit(s), 1u);
}

TEST_F(StringTest, Concatenation) {
    struct Case {
        std::u32string dst, src;
        i32 part, offset, mode;
        std::u32string want;
    };
    const Case cases[] = {
        {U"abc", U"XYZ", -1, 0, CONCAT_APPEND, U"abcXYZ"},
        {U"abc", U"XYZ", 2, 0, CONCAT_APPEND, U"abcXY"},
        {U"abc", U"XYZ", 9, 0, CONCAT_APPEND, U"abcXYZ"},
        {U"abc", U"XYZ", -1, 1, CONCAT_INSERT, U"aXYZbc"},
        {U"abc", U"XYZ", -1, 1, CONCAT_OVERWRITE, U"aXYZ"},
        {U"abcdef", U"XY", -1, 1, CONCAT_OVERWRITE, U"aXYdef"},
        {U"abc", U"\u20AC\U0001F600", -1, 3, CONCAT_INSERT, U"abc\u20AC\U0001F600"},
        {U"\u20ACb", U"xy", -1, 0, CONCAT_APPEND, U"\u20ACbxy"},
        {U"abc", U"", -1, 0, CONCAT_APPEND, U"abc"},
    };
    for (const Case& c : cases) {
        Cell* d = str(c.dst);
        Cell* s = str(c.src);
        string_concatenate(d, s, c.part, c.offset, true, c.mode);
        EXPECT_EQ(text(d), c.want);
        EXPECT_EQ(text(s), c.src);
    }
    // A string inserted into itself.
    Cell* d = str(U"abcd");
    Cell self = *d;
    self.data1 = 2;
    string_concatenate(d, &self, -1, 1, true, CONCAT_INSERT);
    EXPECT_EQ(text(d), U"acdbcd");
}

TEST_F(StringTest, LoadingUtf8AndUtf16) {
    const u8 text1[] = {'a', 0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0xF0, 0x9F, 0x98, 0x80};
    Cell* s = load_string(text1, sizeof text1, 0);
    EXPECT_EQ(text(s), U"a\u00E9\u20AC\U0001F600");
    EXPECT_EQ(unit(s), 4u);
    const u8 bom[] = {0xEF, 0xBB, 0xBF};
    EXPECT_EQ(text(load_string(bom, 3, 0)), U"");
    const u8 utf16[] = {'h', 0, 0x3D, 0xD8, 0x00, 0xDE};
    EXPECT_EQ(text(load_string(utf16, sizeof utf16, -1)), U"h\U0001F600");
    for (std::vector<u8> bad : {std::vector<u8>{0xC0, 0x80}, {0xED, 0xA0, 0x80}, {0x80}, {0xE2, 0x82}, {0xF5, 0x80, 0x80, 0x80}}) {
        EXPECT_EQ(test::catch_error([&] { load_string(bad.data(), u32(bad.size()), 0); }), rt::Err::access_invalid_utf8);
    }
}

TEST(StringLoading, UnknownEncodingEndsTheProcess) {
    EXPECT_EXIT(
        {
            console::runtime_init();
            const u8 b[] = {'a'};
            load_string(b, 1, 1);
        },
        ::testing::ExitedWithCode(1), "");
}

// ---- text forms -------------------------------------------------------------------------

TEST_F(StringTest, MoldDelimitersAndEscapes) {
    struct Case {
        std::u32string in;
        bool all;
        std::u32string want;
    };
    const Case cases[] = {
        {U"abc", false, U"\"abc\""},
        {U"", false, U"\"\""},
        {U"a\"b", false, U"{a\"b}"},
        {U"a\nb\n", false, U"\"a^/b^/\""},
        {U"a\nb\nc\n", false, U"{a^/b^/c^/}"},
        {U"tab\there", false, U"\"tab^-here\""},
        {U"a^b", false, U"\"a^^b\""},
        {U"x\x1Ey", false, U"\"x^(1E)y\""},
        {U"\u0080", false, U"\"^(80)\""},
        {U"\u00E9", false, U"\"\u00E9\""},
        {U"\u00E9", true, U"\"^(E9)\""},
        {U"a{b", false, U"\"a{b\""},
        {U"{a}", false, U"\"{a}\""},
        {U"q\"{b}", false, U"{q\"{b}}"},
        {U"q\"a{b", false, U"{q\"a^{b}"},
        {U"q\"}{", false, U"{q\"^}^{}"},
        {U"q\"{{}", false, U"{q\"^{^{^}}"},
        {U"q\"{x}{", false, U"{q\"{x}^{}"},
        {U"q\"^", false, U"{q\"^^}"},
        {U"\x7F", false, U"\"^~\""},
    };
    for (const Case& c : cases) EXPECT_EQ(mold(c.in, c.all), c.want);

    std::u32string s49(49, U'a'), s50(50, U'a');
    EXPECT_EQ(mold(s49), U"\"" + s49 + U"\"");
    EXPECT_EQ(mold(s50), U"{" + s50 + U"}");
}

TEST_F(StringTest, MoldPartAndForm) {
    EXPECT_EQ(mold(U"abcdef", false, 3), U"\"abc\"");
    EXPECT_EQ(mold(U"abcdef", false, 0), U"\"\"");
    // The brace choice looks at the whole length, even when /part cuts the range.
    std::u32string s60(60, U'x');
    EXPECT_EQ(mold(s60, false, 2), U"{xx}");

    Cell* v = str(U"form me");
    Cell* out = str(U">");
    i32 left = ev::form_dispatch(v, out, nullptr, 100);
    EXPECT_EQ(text(out), U">form me");
    EXPECT_EQ(left, 93);
    Cell* out2 = str(U"");
    ev::form_dispatch(v, out2, v, 4);
    EXPECT_EQ(text(out2), U"form");
}

TEST_F(StringTest, MakeAndTo) {
    Cell n = integer(10);
    Cell* made = dt::handler<A_MAKE>(T_STRING)(nullptr, &n, T_STRING);
    EXPECT_EQ(type_of(made), T_STRING);
    EXPECT_EQ(text(made), U"");
    Cell neg = integer(-1);
    EXPECT_EQ(test::catch_error([&] { dt::handler<A_MAKE>(T_STRING)(nullptr, &neg, T_STRING); }),
              rt::Err::script_out_of_range);
    Cell none;
    set_cell(&none, T_NONE);
    EXPECT_EQ(test::catch_error([&] { dt::handler<A_TO>(T_STRING)(nullptr, &none, T_STRING); }),
              rt::Err::script_bad_to_arg);

    Cell* src = str(U"copy\u20AC");
    Cell* copy = dt::handler<A_TO>(T_STRING)(nullptr, src, T_STRING);
    EXPECT_EQ(text(copy), U"copy\u20AC");
    EXPECT_NE(series_node(copy), series_node(src));
    Cell logic;
    set_cell(&logic, T_LOGIC, 1);
    EXPECT_EQ(text(dt::handler<A_TO>(T_STRING)(nullptr, &logic, T_STRING)), U"true");

    // binary! bytes decode as UTF-8 from the binary's head.
    auto binary = [](std::vector<u8> bytes, i32 head) {
        Node n = rt::alloc_bytes(u32(bytes.size()));
        rt::SeriesBuffer* b = buffer_of(n);
        std::memcpy(rt::at(b->offset), bytes.data(), bytes.size());
        b->tail = b->offset + u32(bytes.size());
        Cell* c = rt::stack_push_slot();
        set_cell(c, T_BINARY, u32(head), n, 0);
        return c;
    };
    Cell* bin = binary({'x', 0xE2, 0x82, 0xAC, 'y'}, 1);
    EXPECT_EQ(text(dt::handler<A_TO>(T_STRING)(nullptr, bin, T_STRING)), U"\u20ACy");
    Cell* bad = binary({'o', 'k', 0xFF, 1, 2, 3, 4, 5}, 0);
    EXPECT_EQ(test::catch_error([&] { dt::handler<A_TO>(T_STRING)(nullptr, bad, T_STRING); }),
              rt::Err::access_invalid_utf8);
}

// ---- comparison -------------------------------------------------------------------------

TEST_F(StringTest, CompareOps) {
    struct Case {
        std::u32string a, b;
        i32 op;
        i32 want;
    };
    const Case cases[] = {
        {U"abc", U"ABC", 0, 0},  {U"abc", U"ABC", 2, 1},  {U"abc", U"ABC", 8, 1},  {U"abc", U"abd", 3, -1},
        {U"abd", U"ABC", 3, 1},  {U"ab", U"abc", 0, 1},   {U"ab", U"abc", 3, -1},  {U"abc", U"ab", 3, 1},
        {U"", U"", 0, 0},        {U"", U"a", 3, -1},      {U"a", U"", 3, 1},       {U"\u00C9t\u00E9", U"\u00E9T\u00C9", 0, 0},
        {U"\U00010400", U"\U00010428", 0, 0}, {U"abc", U"abc", 9, -1}, {U"Abc", U"abc", 12, 0},
    };
    for (const Case& c : cases) {
        Cell* a = str(c.a);
        Cell* b = str(c.b);
        EXPECT_EQ(compare_string_values(a, b, c.op, false), c.want) << "op " << c.op;
    }
    Cell* a = str(U"same");
    EXPECT_EQ(compare_string_values(a, a, 9, false), 0);

    // Match mode: an empty second operand matches except under op 12; a longer one never.
    Cell* hay = str(U"Hello");
    EXPECT_EQ(compare_string_values(hay, str(U""), 0, true), 0);
    EXPECT_EQ(compare_string_values(hay, str(U""), 12, true), 1);
    EXPECT_EQ(compare_string_values(hay, str(U"HELLO!"), 0, true), 1);
    EXPECT_EQ(compare_string_values(hay, str(U"hel"), 0, true), 0);
    EXPECT_NE(compare_string_values(hay, str(U"hel"), 2, true), 0);

    Cell c = chr('h');
    EXPECT_TRUE(string_match_value_q(hay, &c, 0));
    EXPECT_FALSE(string_match_value_q(hay, &c, 2));

    // Through the action: not comparable with other types.
    Cell logic;
    set_cell(&logic, T_LOGIC, 1);
    EXPECT_FALSE(ev::compare(hay, &logic, ev::OP_EQUAL));
    EXPECT_TRUE(ev::compare(str(U"abc"), str(U"ABC"), ev::OP_EQUAL));
    EXPECT_FALSE(ev::compare(str(U"abc"), str(U"ABC"), ev::OP_STRICT_EQUAL));
    EXPECT_TRUE(ev::compare(str(U"a"), str(U"B"), ev::OP_LESSER));
}

// ---- editing ----------------------------------------------------------------------------

TEST_F(StringTest, AppendInsertChange) {
    enum Op { APPEND, INSERT, CHANGE };
    struct Case {
        Op op;
        std::u32string target;
        i32 head;
        std::u32string value;  // a one-character value is passed as a char!
        bool as_char;
        i32 part, dup;
        std::u32string want;
        i32 want_head;
    };
    const Case cases[] = {
        {APPEND, U"abc", 0, U"de", false, -1, 1, U"abcde", 0},
        {APPEND, U"abc", 1, U"de", false, 1, 1, U"abcd", 1},
        {APPEND, U"abc", 0, U"x", true, -1, 3, U"abcxxx", 0},
        {APPEND, U"ab", 0, U"xy", false, -1, 4, U"abxyxyxyxy", 0},
        {INSERT, U"abc", 1, U"XY", false, -1, 1, U"aXYbc", 3},
        {INSERT, U"abc", 0, U"XYZ", false, 2, 1, U"XYabc", 2},
        {INSERT, U"abc", 3, U"de", false, -1, 1, U"abcde", 5},
        {INSERT, U"abc", 1, U"-", true, -1, 3, U"a---bc", 4},
        {CHANGE, U"abcdef", 1, U"XY", false, -1, 1, U"aXYdef", 3},
        {CHANGE, U"abcdef", 1, U"XY", false, 4, 1, U"aXYf", 3},
        {CHANGE, U"abcdef", 1, U"XY", false, 0, 1, U"aXYbcdef", 3},
        {CHANGE, U"abc", 2, U"XYZ", false, -1, 1, U"abXYZ", 5},
        {CHANGE, U"abc", 3, U"de", false, -1, 1, U"abcde", 5},
        {CHANGE, U"abc", 0, U"\U0001F600", true, -1, 2, U"\U0001F600\U0001F600c", 2},
    };
    for (const Case& c : cases) {
        Cell* t = str(c.target);
        t->data1 = u32(c.head);
        Cell ch = chr(c.value.empty() ? 0 : u32(c.value[0]));
        Cell* v = c.as_char ? &ch : str(c.value);
        Cell* r;
        switch (c.op) {
            case APPEND: r = string_append(t, v, c.part, false, c.dup, true); break;
            case INSERT: r = string_insert(t, v, c.part, false, c.dup, false); break;
            default: r = string_change(t, v, c.part, false, c.dup); break;
        }
        i32 h = series_head(r);
        r->data1 = 0;
        EXPECT_EQ(text(r), c.want) << "case " << (&c - cases);
        EXPECT_EQ(h, c.want_head) << "case " << (&c - cases);
    }
}

TEST_F(StringTest, AppendWidensByValue) {
    Cell* t = str(U"ab");
    Cell e = chr(0xE9);
    string_append(t, &e, -1, false, 1, true);
    EXPECT_EQ(unit(t), 2u);
    // A 1-byte string holding 233 (poked) keeps the target at 1 byte.
    Cell* latin = str(U"x");
    string_poke_char(latin, 0, 0xE9);
    Cell* t2 = str(U"ab");
    string_append(t2, latin, -1, false, 1, true);
    EXPECT_EQ(unit(t2), 1u);
    EXPECT_EQ(text(t2), U"ab\u00E9");
}

TEST_F(StringTest, AppendBlockFormsElements) {
    Node blk = rt::alloc_cells(4);
    for (const char* s : {"ab", "cd", "ef"}) {
        Cell* c = rt::block_alloc_tail(blk);
        Cell* tmp = push_string(4);
        append_c_string(tmp, s);
        *c = *tmp;
        rt::stack_pop(1);
    }
    Cell* b = rt::stack_push_slot();
    set_cell(b, T_BLOCK, 0, blk, 0);
    Cell* t = str(U">");
    string_append(t, b, -1, false, 1, true);
    EXPECT_EQ(text(t), U">abcdef");
    Cell* t2 = str(U">");
    string_append(t2, b, 2, false, 1, true);  // two elements
    EXPECT_EQ(text(t2), U">abcd");
    Cell* t3 = str(U">");
    string_append(t3, b, 3, true, 1, true);  // three characters
    EXPECT_EQ(text(t3), U">abc");
    Cell* made = dt::handler<A_TO>(T_STRING)(nullptr, b, T_STRING);
    EXPECT_EQ(text(made), U"abcdef");
}

TEST_F(StringTest, SwapAndTake) {
    Cell* a = str(U"abc");
    Cell* b = str(U"\u20ACyz");
    string_swap(a, b);
    EXPECT_EQ(text(a), U"\u20ACbc");
    EXPECT_EQ(text(b), U"ayz");
    Cell logic;
    set_cell(&logic, T_LOGIC, 1);
    EXPECT_EQ(test::catch_error([&] { string_swap(a, &logic); }), rt::Err::script_invalid_arg);

    struct Case {
        std::u32string s;
        i32 head;
        i32 part;  // INT_MIN = no /part
        bool last;
        std::u32string taken;
        bool is_char;
        std::u32string left;
    };
    const Case cases[] = {
        {U"abc", 0, INT_MIN, false, U"a", true, U"bc"},
        {U"abc", 0, INT_MIN, true, U"c", true, U"ab"},
        {U"abcde", 0, 2, false, U"ab", false, U"cde"},
        {U"abcde", 0, 2, true, U"de", false, U"abc"},
        {U"abcde", 0, 0, false, U"", false, U"abcde"},
        {U"abcde", 0, 9, false, U"abcde", false, U""},
        {U"abcde", 3, -2, false, U"bc", false, U"ade"},
        {U"abcde", 1, -5, false, U"a", false, U"bcde"},
        {U"abcde", 0, -1, false, U"", false, U"abcde"},
        {U"abcde", 0, -2, true, U"", false, U"abcde"},
    };
    for (const Case& c : cases) {
        Cell* s = str(c.s);
        s->data1 = u32(c.head);
        Cell p = integer(c.part);
        Cell* r = string_take(s, c.part == INT_MIN ? nullptr : &p, false, c.last);
        if (c.is_char) {
            ASSERT_EQ(type_of(r), T_CHAR);
            EXPECT_EQ(std::u32string(1, char32_t(r->data2)), c.taken);
        } else {
            ASSERT_EQ(type_of(r), T_STRING) << "case " << (&c - cases);
            EXPECT_EQ(text(r), c.taken) << "case " << (&c - cases);
        }
        s->data1 = 0;
        EXPECT_EQ(text(s), c.left) << "case " << (&c - cases);
    }
    Cell* empty = str(U"");
    EXPECT_EQ(type_of(string_take(empty, nullptr, false, false)), T_NONE);
}

TEST_F(StringTest, Trim) {
    enum Mode { PLAIN, HEAD, TAIL, ALL, LINES };
    struct Case {
        std::u32string in;
        Mode mode;
        std::u32string want;
    };
    const Case cases[] = {
        {U"  a  \n  b  \n\n", PLAIN, U"a\nb\n"},
        {U"  a  \n  b  \n\n", TAIL, U"  a  \n  b"},
        {U"  a  \n  b  \n\n", HEAD, U"a  \n  b  \n\n"},
        {U"\u00A0\u3000x y\u3000\u00A0", PLAIN, U"x y"},
        {U"  keep   inner  ", PLAIN, U"keep   inner"},
        {U" a \n b ", LINES, U"a b"},
        {U"\t a\r\n\n b  c ", LINES, U"a b c"},
        {U" a b\tc\nd\re ", ALL, U"abcde"},
        {std::u32string(U"\0 a", 3), PLAIN, U"a"},
        {U"", PLAIN, U""},
        {U"   ", PLAIN, U""},
    };
    for (const Case& c : cases) {
        Cell* s = str(c.in);
        string_trim(s, c.mode == HEAD, c.mode == TAIL, false, c.mode == LINES, c.mode == ALL, nullptr);
        EXPECT_EQ(text(s), c.want) << "case " << (&c - cases);
    }
    Cell* s = str(U"a-b-c");
    Cell dash = chr('-');
    string_trim(s, false, false, false, false, false, &dash);
    EXPECT_EQ(text(s), U"abc");
    Cell* s2 = str(U"axbycz");
    string_trim(s2, false, false, false, false, false, str(U"xyz"));
    EXPECT_EQ(text(s2), U"abc");
    Cell* s3 = str(U"keep");
    string_trim(s3, false, false, false, false, false, str(U""));
    EXPECT_EQ(text(s3), U"keep");
    EXPECT_EQ(test::catch_error([&] { string_trim(s3, false, false, true, false, false, nullptr); }),
              rt::Err::internal_not_done);
}

// ---- search -----------------------------------------------------------------------------

TEST_F(StringTest, Find) {
    struct Case {
        std::u32string s;
        i32 head;
        std::u32string value;
        bool as_char;
        bool case_ = false, last = false, reverse = false, tail = false, match = false;
        i32 skip = 0, part = INT_MIN;
        i32 want;  // index of the answer, -1 = none
    };
    const Case cases[] = {
        {U"hello world", 0, U"WORLD", false, false, false, false, false, false, 0, INT_MIN, 6},
        {U"hello world", 0, U"WORLD", false, true, false, false, false, false, 0, INT_MIN, -1},
        {U"hello world", 0, U"o", true, false, false, false, false, false, 0, INT_MIN, 4},
        {U"hello world", 0, U"O", true, true, false, false, false, false, 0, INT_MIN, -1},
        {U"hello world", 0, U"o", false, false, true, false, false, false, 0, INT_MIN, 7},
        {U"hello world", 0, U"lo", false, false, false, false, true, false, 0, INT_MIN, 5},
        {U"hello world", 0, U"hel", false, false, false, false, false, true, 0, INT_MIN, 0},
        {U"hello world", 0, U"ell", false, false, false, false, false, true, 0, INT_MIN, -1},
        {U"hello world", 0, U"ell", false, false, false, false, true, true, 0, INT_MIN, -1},
        {U"hello world", 6, U"o", false, false, false, true, false, false, 0, INT_MIN, 4},
        {U"hello world", 6, U"wor", false, false, false, true, false, false, 0, INT_MIN, -1},
        {U"hello world", 8, U"wor", false, false, false, true, false, false, 0, INT_MIN, -1},
        {U"hello world", 9, U"wor", false, false, false, true, false, false, 0, INT_MIN, 6},
        {U"hello world", 0, U"world", false, false, false, false, false, false, 0, 8, -1},
        {U"hello world", 0, U"wo", false, false, false, false, false, false, 0, 8, 6},
        {U"hello world", 0, U"w", false, false, false, false, false, false, 0, 0, -1},
        {U"a1b2c3", 0, U"2", false, false, false, false, false, false, 2, INT_MIN, -1},
        {U"a1b2c3", 0, U"c", false, false, false, false, false, false, 2, INT_MIN, 4},
        {U"a1b2c3", 1, U"2", false, false, false, false, false, false, 2, INT_MIN, 3},
        {U"\u00C9t\u00E9", 0, U"\u00C9T\u00C9", false, false, false, false, false, false, 0, INT_MIN, 0},
        {U"x\U00010428y", 0, U"\U00010400", true, false, false, false, false, false, 0, INT_MIN, 1},
        {U"abc", 3, U"a", false, false, false, false, false, false, 0, INT_MIN, -1},
        // An empty run matches where the search starts.
        {U"abc", 1, U"", false, false, false, false, false, false, 0, INT_MIN, 1},
        {U"abc", 0, U"", false, false, true, false, false, false, 0, INT_MIN, 3},
    };
    for (const Case& c : cases) {
        Cell* s = str(c.s);
        s->data1 = u32(c.head);
        Cell ch = chr(c.value.empty() ? 0 : u32(c.value[0]));
        Cell* v = c.as_char ? &ch : str(c.value);
        Cell skip = integer(c.skip), part = integer(c.part);
        Cell* r = string_find(s, v, c.part == INT_MIN ? nullptr : &part, false, c.case_, false, false, nullptr,
                              c.skip ? &skip : nullptr, c.last, c.reverse, c.tail, c.match);
        if (c.want < 0) {
            EXPECT_EQ(type_of(r), T_NONE) << "case " << (&c - cases);
        } else {
            ASSERT_EQ(type_of(r), T_STRING) << "case " << (&c - cases);
            EXPECT_EQ(series_head(r), c.want) << "case " << (&c - cases);
        }
    }
}

TEST_F(StringTest, FindErrorsAndSelect) {
    Cell* s = str(U"key=value");
    Cell* v = str(U"=");
    Cell zero = integer(0);
    EXPECT_EQ(test::catch_error([&] { string_find(s, v, nullptr, false, false, false, true, nullptr, nullptr, false, false, false, false); }),
              rt::Err::internal_not_done);
    EXPECT_EQ(test::catch_error([&] { string_find(s, v, nullptr, false, false, false, false, nullptr, &zero, false, false, false, false); }),
              rt::Err::script_out_of_range);
    Cell* other = str(U"key=value");
    EXPECT_EQ(test::catch_error([&] { string_find(s, v, other, false, false, false, false, nullptr, nullptr, false, false, false, false); }),
              rt::Err::script_invalid_refine_arg);
    // A position in the same string bounds the range.
    Cell pos = *s;
    pos.data1 = 3;
    EXPECT_EQ(type_of(string_find(s, v, &pos, false, false, false, false, nullptr, nullptr, false, false, false, false)), T_NONE);
    pos.data1 = 4;
    EXPECT_EQ(type_of(string_find(s, v, &pos, false, false, false, false, nullptr, nullptr, false, false, false, false)), T_STRING);

    Cell* r = string_select(s, str(U"KEY"), nullptr, false, false, false, false, nullptr, nullptr, false, false);
    ASSERT_EQ(type_of(r), T_CHAR);
    EXPECT_EQ(r->data2, u32('='));
    EXPECT_EQ(type_of(string_select(s, str(U"value"), nullptr, false, false, false, false, nullptr, nullptr, false, false)),
              T_NONE);
    EXPECT_EQ(type_of(string_select(s, str(U"nope"), nullptr, false, false, false, false, nullptr, nullptr, false, false)),
              T_NONE);
}

TEST_F(StringTest, FindBitset) {
    // Bits most significant first: the bitset of "b" and "d".
    Node n = rt::alloc_bytes(16);
    rt::SeriesBuffer* b = buffer_of(n);
    std::memset(rt::at(b->offset), 0, 16);
    rt::at(b->offset)['b' >> 3] |= 0x80 >> ('b' & 7);
    rt::at(b->offset)['d' >> 3] |= 0x80 >> ('d' & 7);
    b->tail = b->offset + 16;
    Cell* bs = rt::stack_push_slot();
    set_cell(bs, T_BITSET, 0, n, 0);
    Cell* s = str(U"xxdxb\u20AC");
    Cell* r = string_find(s, bs, nullptr, false, false, false, false, nullptr, nullptr, false, false, false, false);
    ASSERT_EQ(type_of(r), T_STRING);
    EXPECT_EQ(series_head(r), 2);
    r = string_find(s, bs, nullptr, false, false, false, false, nullptr, nullptr, true, false, false, false);
    EXPECT_EQ(series_head(r), 4);
    // Past the bitset's bits the complement flag answers.
    buffer_of(n)->flags |= rt::SB_COMPLEMENT;
    s->data1 = 5;
    r = string_find(s, bs, nullptr, false, false, false, false, nullptr, nullptr, false, false, false, false);
    EXPECT_EQ(series_head(r), 5);
}

// ---- sorting ----------------------------------------------------------------------------

TEST_F(StringTest, Sort) {
    struct Case {
        std::u32string in;
        bool case_, reverse, stable, all;
        i32 skip;     // 0 = none
        i32 compare;  // 0 = none (an integer offset otherwise)
        std::u32string want;
    };
    const Case cases[] = {
        {U"dBcaA", false, false, false, false, 0, 0, U"aABcd"},
        {U"dBcaA", false, false, true, false, 0, 0, U"aABcd"},
        {U"dBcaAb", false, false, true, false, 0, 0, U"aABbcd"},
        {U"dBcaA", true, false, false, false, 0, 0, U"ABacd"},
        {U"dBcaA", false, true, true, false, 0, 0, U"dcBaA"},
        {U"\u00E9\u00C9ea", false, false, true, false, 0, 0, U"ae\u00E9\u00C9"},
        {U"c3a1b2", false, false, false, false, 2, 0, U"a1b2c3"},
        {U"c1a3b2", false, false, false, false, 2, 2, U"c1b2a3"},
        {U"ab1aa2", false, false, true, true, 3, 0, U"aa2ab1"},
        {U"ab1aa2", false, false, true, false, 3, 0, U"ab1aa2"},
    };
    for (const Case& c : cases) {
        Cell* s = str(c.in);
        Cell skip = integer(c.skip), cmp = integer(c.compare);
        string_sort(s, c.case_, c.skip ? &skip : nullptr, c.compare ? &cmp : nullptr, nullptr, c.all, c.reverse,
                    c.stable);
        EXPECT_EQ(text(s), c.want) << "case " << (&c - cases);
    }
    // /stable/case keeps equal elements in order (case-insensitive keys equal under /case? no:
    // here the records differ only in their second unit, which the sort does not look at).
    Cell* s = str(U"b2a1b1a2");
    Cell two = integer(2);
    string_sort(s, true, &two, nullptr, nullptr, false, false, true);
    EXPECT_EQ(text(s), U"a1a2b2b1");

    // /part: a count, and a negative count sorts the run before the head.
    Cell* p = str(U"dcba");
    Cell n2 = integer(2);
    string_sort(p, false, nullptr, nullptr, &n2, false, false, false);
    EXPECT_EQ(text(p), U"cdba");
    Cell* q = str(U"dcba");
    q->data1 = 3;
    Cell m2 = integer(-2);
    string_sort(q, false, nullptr, nullptr, &m2, false, false, false);
    EXPECT_EQ(series_head(q), 1);
    q->data1 = 0;
    EXPECT_EQ(text(q), U"dbca");
}

TEST_F(StringTest, SortErrors) {
    Cell* s = str(U"abcdef");
    Cell zero = integer(0), four = integer(4), two = integer(2), three = integer(3), none;
    set_cell(&none, T_NONE);
    auto sort = [&](Cell* skip, Cell* cmp, bool all) { string_sort(s, false, skip, cmp, nullptr, all, false, false); };
    EXPECT_EQ(test::catch_error([&] { sort(&zero, nullptr, false); }), rt::Err::script_invalid_refine_arg);
    EXPECT_EQ(test::catch_error([&] { sort(&four, nullptr, false); }), rt::Err::script_invalid_refine_arg);
    EXPECT_EQ(test::catch_error([&] { sort(nullptr, nullptr, true); }), rt::Err::script_bad_refines);
    EXPECT_EQ(test::catch_error([&] { sort(nullptr, &two, false); }), rt::Err::script_bad_refines);
    EXPECT_EQ(test::catch_error([&] { sort(&two, &three, false); }), rt::Err::script_out_of_range);
    EXPECT_EQ(test::catch_error([&] { sort(&two, &none, false); }), rt::Err::script_invalid_refine_arg);
    Cell* other = str(U"abc");
    EXPECT_EQ(test::catch_error([&] { string_sort(s, false, nullptr, nullptr, other, false, false, false); }),
              rt::Err::script_invalid_refine_arg);
    EXPECT_EQ(text(s), U"abcdef");
}

TEST_F(StringTest, SetOperations) {
    struct Case {
        i32 op;
        std::u32string a, b;
        bool case_;
        i32 skip;
        std::u32string want;
    };
    const Case cases[] = {
        {8, U"abcabcA", U"", false, 0, U"abc"},
        {8, U"abcabcA", U"", true, 0, U"abcA"},
        {9, U"abc", U"cdeA", false, 0, U"abcde"},
        {10, U"abcd", U"dbx", false, 0, U"bd"},
        {11, U"abcd", U"DB", false, 0, U"ac"},
        {11, U"abcd", U"DB", true, 0, U"abcd"},
        {12, U"abc", U"bcd", false, 0, U"ad"},
        {8, U"a1b2a3", U"", false, 2, U"a1b2"},
    };
    for (const Case& c : cases) {
        rt::g_args.base = rt::g_args.top;
        Cell* a = str(c.a);
        str(c.b);
        Cell skip = integer(c.skip);
        ASSERT_EQ(a, rt::g_args.base);
        string_set_operation(c.op, c.case_, c.skip ? &skip : nullptr);
        EXPECT_EQ(text(rt::g_args.base), c.want) << "case " << (&c - cases);
    }
    rt::g_args.base = rt::g_args.top;
    str(U"ab");
    str(U"cd");
    Cell zero = integer(0);
    EXPECT_EQ(test::catch_error([&] { string_set_operation(9, false, &zero); }), rt::Err::script_invalid_refine_arg);
}

}  // namespace
}  // namespace kel
