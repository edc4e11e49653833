// The transition table, cell by cell: every state's row written out in words (the state
// most classes lead to, then the classes that lead elsewhere) and compared with the table
// the lexer runs on; and the class and flags of every byte.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "lexer/lexer_tables.h"

namespace kel::test {
namespace {

using namespace lex;

struct RowText {
    u32 state;
    const char* most;
    const char* others;
};

const RowText kRows[] = {
    {0, R"(52)", R"(`}` `\` continuation bad → token error; blank LF control → 0; digit 0 → 23; `'` `:` → 51; `E` hex-upper → 40; `+` `-` → 47; `[` → token `[`; `]` → token `]`; `(` → token `(`; `)` → token `)`; `{` → token `{`; `"` → 2; `#` → 16; `/` → 13; `<` → 43; `=` → 58; `%` → 6; `,` → token comma; `;` → 1; `@` → 57; `.` → 49; `$` → 36; end → token end)"},
    {1, R"(1)", R"(LF end → token comment; bad → token error)"},
    {2, R"(2)", R"(LF bad end → token error; `"` → token string; `^` → 3)"},
    {3, R"(2)", R"(bad end → token error)"},
    {4, R"(4)", R"(bad end → token error; `{` → token `{`; `}` → token `}`; `^` → 5)"},
    {5, R"(4)", R"(bad end → token error)"},
    {6, R"(7)", R"(blank LF `[` `]` `(` `)` `}` `;` `@` control end → token word; `{` → 10; `"` → 8; `:` → 54; `%` → 9; bad → token error)"},
    {7, R"(7)", R"(blank LF `[` `]` `(` `)` `{` `}` `:` `;` `@` end → token file; `"` bad → token error)"},
    {8, R"(8)", R"(LF bad end → token error; `"` → token file)"},
    {9, R"(7)", R"(blank LF `[` `]` `(` `)` `}` `"` `\` `;` control end → token word; `{` → 10; `%` → 9; bad → token error)"},
    {10, R"(10)", R"(bad end → token error; `}` → 11)"},
    {11, R"(10)", R"(bad end → token error; `}` → 11; `%` → 12)"},
    {12, R"(token error)", R"(blank LF `[` `]` `(` `)` `{` `"` `<` `;` control end → token raw string; `%` → 12)"},
    {13, R"(14)", R"(blank LF `[` `]` `(` `)` `{` `}` `"` `#` `;` `@` control end → token word; `,` bad → token error; `:` → 53; `/` → 15)"},
    {14, R"(14)", R"(blank LF `[` `]` `(` `)` `{` `}` `"` `/` `;` `@` control end → token refinement; `:` `,` bad → token error)"},
    {15, R"(52)", R"(blank LF `[` `]` `(` `)` `{` `}` `"` `#` `;` `@` control end → token word; `%` `,` `$` bad → token error; `/` → 15)"},
    {16, R"(22)", R"(blank LF `]` `)` `}` `:` `<` `>` `,` bad → token error; `;` `@` control end → token issue; `[` → token `#[`; `(` → 21; `{` → 17; `"` → 19)"},
    {17, R"(token error)", R"(blank LF digit 0 `x` `T` `h` `e` `E` hex-lower hex-upper `/` `=` `+` other → 17; `}` → token binary; `;` → 18)"},
    {18, R"(18)", R"(bad end → token error; LF → 17)"},
    {19, R"(19)", R"(bad end → token error; `"` → token char; `^` → 20)"},
    {20, R"(19)", R"(bad end → token error)"},
    {21, R"(21)", R"(bad end → token error; `)` → token construction)"},
    {22, R"(22)", R"(blank LF `[` `]` `(` `)` `{` `}` `"` `;` `@` control end → token issue; `:` `/` bad → token error)"},
    {23, R"(token integer)", R"(hex-lower `\` `>` `=` `$` `+` `^` continuation other bad → token error; digit 0 `'` → 23; `T` `/` `-` → 30; `#` → 16; `:` → 31; `x` → 33; `h` → 42; `e` → 26; `E` → 27; hex-upper → 39; `%` → token percent; `@` → 56; `.` → 24)"},
    {24, R"(token error)", R"(blank LF `[` `]` `(` `)` `{` `}` `"` `/` `<` `,` `;` control end → token float; digit 0 `'` → 25; `e` `E` → 26; `#` → 28; `x` → 33; `%` → token percent)"},
    {25, R"(token float)", R"(`#` `T` `h` hex-lower hex-upper `\` `>` `=` `$` `+` `-` `^` continuation other bad → token error; digit 0 `'` → 25; `e` `E` → 26; `x` → 33; `%` → token percent; `@` → 56; `.` → 29)"},
    {26, R"(token error)", R"(blank LF `[` `]` `(` `)` `{` `}` `"` `:` `/` `<` `,` `;` control end → token float; digit 0 `+` `-` → 26; `@` → 56)"},
    {27, R"(token float)", R"(`#` `'` `x` `T` `e` hex-lower `\` `>` `=` `;` `$` `^` continuation other bad → token error; digit 0 → 27; `E` hex-upper → 40; `+` `-` → 26; `h` → 42; `%` → token percent; `@` → 56; `.` → 29)"},
    {28, R"(token float special)", R"(`x` `T` `h` `e` `E` hex-lower hex-upper `>` `=` `.` `+` `-` continuation other → 28; `#` `'` `:` `%` `@` `$` `^` bad → token error; digit → token float)"},
    {29, R"(token error)", R"(blank LF `[` `]` `(` `)` `{` `}` `"` `:` `/` `<` `;` control end → token tuple; digit 0 `.` → 29)"},
    {30, R"(30)", R"(blank LF `[` `]` `(` `)` `{` `}` `"` `<` `;` `$` control end → token date; `%` `,` `@` `^` continuation bad → token error)"},
    {31, R"(token error)", R"(digit 0 → 32)"},
    {32, R"(token error)", R"(blank LF `[` `]` `(` `)` `{` `}` `"` `/` `<` `;` control end → token time; digit 0 `:` `.` → 32)"},
    {33, R"(token error)", R"(digit 0 `+` `-` → 34; `@` → 56)"},
    {34, R"(token error)", R"(blank LF `[` `]` `(` `)` `{` `}` `"` `:` `/` `<` `;` control end → token pair; digit 0 `e` `E` `.` → 34; `@` → 56)"},
    {35, R"(token error)", R"(blank digit 0 `]` `#` `e` `E` hex-lower hex-upper `,` `.` `+` `-` other → 35; `)` → token point)"},
    {36, R"(token error)", R"(digit 0 → 37)"},
    {37, R"(token error)", R"(blank LF `[` `]` `(` `)` `{` `}` `"` `#` `:` `/` `<` `;` control end → token money; digit 0 `'` → 37; `.` → 38)"},
    {38, R"(token error)", R"(blank LF `[` `]` `(` `)` `{` `}` `"` `#` `:` `/` `<` `;` control end → token money; digit 0 `'` → 38)"},
    {39, R"(token error)", R"(digit 0 `E` hex-upper → 39; `h` → 41; `@` → 56)"},
    {40, R"(token word)", R"(`'` `x` `T` `e` hex-lower `<` `>` `=` `.` `+` `-` `^` continuation other → 52; digit 0 `E` hex-upper → 40; `%` `,` bad → token error; `:` → 53; `h` → 41; `/` → token path head; `@` → 56; `$` → 37)"},
    {41, R"(52)", R"(blank LF `[` `]` `(` `)` `{` `}` `"` `\` `;` control end → token hex integer; `#` `%` `,` bad → token error; `:` → 53; `/` → token path head; `@` → 56; `$` → 37)"},
    {42, R"(token error)", R"(blank LF `[` `]` `(` `)` `{` `}` `"` `\` `<` `;` control end → token hex integer; `/` → token path head; `@` → 56; `$` → 37)"},
    {43, R"(44)", R"(blank LF `[` `]` `(` `)` `{` `}` `"` `;` control end → token word; `>` `=` `-` → 52; `'` → 46; `:` → 53; `<` → 43; bad → token error)"},
    {44, R"(44)", R"(bad end → token error; `"` → 45; `'` → 46; `>` → token tag)"},
    {45, R"(45)", R"(bad end → token error; `"` → 44)"},
    {46, R"(46)", R"(bad end → token error; `'` → 44)"},
    {47, R"(52)", R"(blank LF `[` `]` `(` `)` `{` `}` `"` `#` `\` `;` control end → token word; `'` `%` `^` bad → token error; digit 0 → 23; `/` → token path head; `.` → 49; `$` → 37)"},
    {48, R"(52)", R"(blank LF `[` `]` `(` `)` `{` `}` `"` `#` `\` `;` control end → token word; `'` `%` `$` `^` bad → token error; `/` → token path head)"},
    {49, R"(52)", R"(blank LF `[` `]` `(` `)` `{` `}` `"` `#` `\` `;` control end → token word; digit 0 `+` `-` → 50; `%` `,` `$` bad → token error; `:` → 53; `/` → token path head; `@` → 56)"},
    {50, R"(token error)", R"(blank LF `[` `]` `(` `)` `{` `}` `"` `:` `/` `<` control end → token float; digit 0 `e` `E` `+` `-` → 50; `x` → 33; `%` → token percent; `@` → 56)"},
    {51, R"(token error)", R"(`x` `T` `h` `e` `E` hex-lower hex-upper `>` `.` `^` continuation other → 52; `+` `-` → 48; `/` → 13; `<` → 43; `=` → 58; `%` → 54)"},
    {52, R"(52)", R"(blank LF `[` `]` `(` `)` `{` `}` `"` `#` `\` `<` `;` control end → token word; `%` `,` bad → token error; `:` → 53; `/` → token path head; `@` → 56; `$` → 36)"},
    {53, R"(55)", R"(blank LF `[` `]` `(` `)` `{` `}` `"` `\` `;` control end → token word; `<` bad → token error)"},
    {54, R"(token error)", R"(blank LF `[` `]` `(` `)` `{` `}` `\` `;` control end → token word; `%` → 54)"},
    {55, R"(55)", R"(blank LF `[` `]` `(` `)` `{` `}` `"` `\` `<` `;` control end → token url; `>` `^` bad → token error)"},
    {56, R"(token email)", R"(digit 0 `x` `T` `h` `e` `E` hex-lower hex-upper `%` `.` `+` `-` continuation other → 56; `#` `'` `:` `>` `=` `,` `@` `$` `^` bad → token error)"},
    {57, R"(57)", R"(blank LF `[` `]` `(` `)` `{` `}` `"` `<` `;` control end → token ref; `#` `'` `\` `>` `=` `,` `@` `$` `^` bad → token error)"},
    {58, R"(52)", R"(blank LF `[` `]` `(` `)` `{` `}` `"` `:` `\` `;` control end → token word; `#` `%` `,` `@` `$` bad → token error; `/` → token path head)"},
    {59, R"(token error)", R"(`x` `T` `h` `e` `E` hex-lower hex-upper `>` `=` `.` continuation other → 62; digit 0 → 60; `'` `:` → 61; `+` `-` → 64; `(` → token `(`; `)` → token `)`; `"` → 2; `#` → 63; `<` → 43; `@` → 57; `$` → 36)"},
    {60, R"(token error)", R"(blank LF `[` `]` `(` `)` `{` `}` `"` `:` `/` `<` `;` control end → token integer; digit 0 `'` → 60; `e` `E` → 26; `x` → 33; `%` → token percent; `@` → 56; `.` → 24)"},
    {61, R"(token error)", R"(`x` `T` `h` `e` `E` hex-lower hex-upper `<` `>` `=` `.` `+` `-` continuation other → 62)"},
    {62, R"(62)", R"(blank LF `[` `]` `(` `)` `{` `}` `"` `:` `/` `\` `;` control end → token word; `#` `%` `,` bad → token error; `@` → 56; `$` → 36)"},
    {63, R"(22)", R"(blank LF `]` `(` `)` `{` `}` `:` `/` `<` `>` `=` `,` `;` `@` control bad end → token error; `[` → 21; `"` → 19)"},
    {64, R"(token word)", R"(`x` `T` `h` `e` `E` hex-lower hex-upper `>` `=` `.` continuation other → 62; `#` `'` `<` `%` `,` `^` bad → token error; digit 0 → 60; `+` `-` → 64; `@` → 56; `$` → 36)"},
};

const std::map<std::string, int> kClassNames = {
    {"blank", C_BLANK}, {"LF", C_LF}, {"digit", C_DIGIT}, {"0", C_ZERO}, {"`[`", C_LBRACKET},
    {"`]`", C_RBRACKET}, {"`(`", C_LPAREN}, {"`)`", C_RPAREN}, {"`{`", C_LBRACE}, {"`}`", C_RBRACE},
    {"`\"`", C_DQUOTE}, {"`#`", C_HASH}, {"`'`", C_QUOTE}, {"`:`", C_COLON}, {"`x`", C_X}, {"`T`", C_T},
    {"`h`", C_H}, {"`e`", C_E_LOWER}, {"`E`", C_E_UPPER}, {"hex-lower", C_HEX_LOWER},
    {"hex-upper", C_HEX_UPPER}, {"`/`", C_SLASH}, {"`\\`", C_BACKSLASH}, {"`<`", C_LESS},
    {"`>`", C_GREATER}, {"`=`", C_EQUAL}, {"`%`", C_PERCENT}, {"`,`", C_COMMA}, {"`;`", C_SEMICOLON},
    {"`@`", C_AT}, {"`.`", C_DOT}, {"`$`", C_DOLLAR}, {"`+`", C_PLUS}, {"`-`", C_MINUS}, {"`^`", C_CARET},
    {"control", C_CONTROL}, {"continuation", C_CONTINUATION}, {"other", C_OTHER}, {"bad", C_BAD},
    {"end", C_END},
};

const std::map<std::string, TokenKind> kTokenNames = {
    {"end", K_END}, {"error", K_ERROR}, {"`[`", K_BLOCK_OPEN}, {"`]`", K_BLOCK_CLOSE},
    {"`(`", K_PAREN_OPEN}, {"`)`", K_PAREN_CLOSE}, {"`{`", K_BRACE_OPEN}, {"`}`", K_BRACE_CLOSE},
    {"`#[`", K_MAP_OPEN}, {"path head", K_PATH_HEAD}, {"construction", K_CONSTRUCT},
    {"comment", K_COMMENT}, {"comma", K_COMMA}, {"string", K_STRING}, {"word", K_WORD},
    {"issue", K_ISSUE}, {"integer", K_INTEGER}, {"refinement", K_REFINEMENT}, {"char", K_CHAR},
    {"file", K_FILE}, {"binary", K_BINARY}, {"percent", K_PERCENT}, {"float", K_FLOAT},
    {"float special", K_FLOAT_SPECIAL}, {"tuple", K_TUPLE}, {"date", K_DATE}, {"pair", K_PAIR},
    {"point", K_POINT}, {"time", K_TIME}, {"money", K_MONEY}, {"tag", K_TAG}, {"url", K_URL},
    {"email", K_EMAIL}, {"hex integer", K_HEX_INTEGER}, {"raw string", K_RAW_STRING}, {"ref", K_REF},
};

// "52", "token word", "token `#[`" -> a state number.
u32 target_of(std::string t) {
    while (!t.empty() && t.back() == ' ') t.pop_back();
    while (!t.empty() && t.front() == ' ') t.erase(0, 1);
    if (t.rfind("token ", 0) == 0) {
        auto k = kTokenNames.find(t.substr(6));
        EXPECT_NE(k, kTokenNames.end()) << "token name " << t;
        return k == kTokenNames.end() ? 255 : final_of(k->second);
    }
    return u32(std::stoi(t));
}

// The 40 cells of a row.
std::vector<u32> expected_row(const RowText& row) {
    std::vector<u32> cells(CLASS_COUNT, target_of(row.most));
    std::string others = row.others;
    const std::string arrow = "\xE2\x86\x92";
    size_t pos = 0;
    while (pos < others.size()) {
        size_t semi = others.find("; ", pos);
        std::string group = others.substr(pos, semi == std::string::npos ? std::string::npos : semi - pos);
        pos = semi == std::string::npos ? others.size() : semi + 2;
        size_t a = group.find(arrow);
        EXPECT_NE(a, std::string::npos) << group;
        if (a == std::string::npos) continue;
        u32 target = target_of(group.substr(a + arrow.size()));
        std::istringstream names(group.substr(0, a));
        std::string name;
        while (names >> name) {
            auto c = kClassNames.find(name);
            EXPECT_NE(c, kClassNames.end()) << "class name " << name << " in state " << row.state;
            if (c != kClassNames.end()) cells[size_t(c->second)] = target;
        }
    }
    return cells;
}

TEST(LexerTable, EveryCellLeadsWhereItsRowSays) {
    ASSERT_EQ(std::size(kRows), size_t(STATE_COUNT));
    for (const RowText& row : kRows) {
        std::vector<u32> cells = expected_row(row);
        for (u32 c = 0; c < CLASS_COUNT; ++c)
            EXPECT_EQ(next_state(row.state, c), cells[c]) << "state " << row.state << ", class " << c;
    }
}

TEST(LexerTable, EveryCellIsAStateOrATokenAndOnlyTheStartSkips) {
    for (u32 s = 0; s < STATE_COUNT; ++s)
        for (u32 c = 0; c < CLASS_COUNT; ++c) {
            u32 n = next_state(s, c);
            EXPECT_TRUE(n < STATE_COUNT || (n >= FIRST_FINAL && n < FIRST_FINAL + KIND_COUNT)) << s << " " << c;
            if (n == S_START) {
                EXPECT_EQ(s, S_START) << "class " << c;
            }
        }
    // The end column ends a token in every state.
    for (u32 s = 0; s < STATE_COUNT; ++s) EXPECT_TRUE(is_final(next_state(s, C_END))) << "state " << s;
}

TEST(LexerTable, ByteClasses) {
    struct Range {
        int first, last;
        u32 cls;
    };
    const Range ranges[] = {
        {0, 0, C_CONTROL},      {1, 8, C_CONTROL},      {9, 9, C_BLANK},        {10, 10, C_LF},
        {11, 12, C_CONTROL},    {13, 13, C_BLANK},      {14, 31, C_CONTROL},    {' ', ' ', C_BLANK},
        {'1', '9', C_DIGIT},    {'0', '0', C_ZERO},     {'a', 'd', C_HEX_LOWER}, {'f', 'f', C_HEX_LOWER},
        {'A', 'D', C_HEX_UPPER}, {'F', 'F', C_HEX_UPPER}, {'G', 'S', C_OTHER},  {'U', 'W', C_OTHER},
        {'Y', 'Z', C_OTHER},    {'g', 'g', C_OTHER},    {'i', 'w', C_OTHER},    {'y', 'z', C_OTHER},
        {0x7F, 0xBF, C_CONTINUATION}, {0xC0, 0xC1, C_BAD}, {0xC2, 0xF7, C_OTHER}, {0xF8, 0xFF, C_BAD},
    };
    for (const Range& r : ranges)
        for (int b = r.first; b <= r.last; ++b) EXPECT_EQ(byte_class(u8(b)), r.cls) << "byte " << b;
    const std::pair<char, u32> singles[] = {
        {'[', C_LBRACKET}, {']', C_RBRACKET}, {'(', C_LPAREN}, {')', C_RPAREN}, {'{', C_LBRACE},
        {'}', C_RBRACE}, {'"', C_DQUOTE}, {'#', C_HASH}, {'\'', C_QUOTE}, {':', C_COLON}, {'x', C_X},
        {'X', C_X}, {'T', C_T}, {'h', C_H}, {'e', C_E_LOWER}, {'E', C_E_UPPER}, {'/', C_SLASH},
        {'\\', C_BACKSLASH}, {'<', C_LESS}, {'>', C_GREATER}, {'=', C_EQUAL}, {'%', C_PERCENT},
        {',', C_COMMA}, {';', C_SEMICOLON}, {'@', C_AT}, {'.', C_DOT}, {'$', C_DOLLAR}, {'+', C_PLUS},
        {'-', C_MINUS}, {'^', C_CARET}, {'!', C_OTHER}, {'&', C_OTHER}, {'*', C_OTHER}, {'?', C_OTHER},
        {'_', C_OTHER}, {'`', C_OTHER}, {'|', C_OTHER}, {'~', C_OTHER},
    };
    for (auto [b, cls] : singles) EXPECT_EQ(byte_class(u8(b)), cls) << "byte " << b;
}

TEST(LexerTable, ByteFlags) {
    const std::pair<int, u32> flags[] = {
        {0, F_NUL},     {'#', F_HASH},  {'%', F_PERCENT}, {'\'', F_QUOTE}, {'+', F_SIGN},
        {'-', F_SIGN},  {',', F_COMMA}, {'.', F_DOT},     {':', F_COLON},  {'<', F_LESS},
        {'>', F_GREATER}, {'e', F_EXPONENT}, {'E', F_EXPONENT}, {'^', F_CARET}, {'a', 0},
        {0xC2, F_WIDE2}, {0xEF, F_WIDE2}, {0xF0, F_WIDE4}, {0xF7, F_WIDE4}, {0xC1, 0}, {0x80, 0},
    };
    for (auto [b, f] : flags) EXPECT_EQ(byte_flags(u8(b)), f) << "byte " << b;
}

}  // namespace
}  // namespace kel::test
