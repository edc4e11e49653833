// The lexer's byte classes and transition table, built at compile time.
#include "lexer/lexer_tables.h"

#include <array>
#include <string_view>

namespace kel::lex {

namespace {

constexpr std::array<u32, 256> build_classes() {
    std::array<u32, 256> t{};
    for (int b = 0; b < 256; ++b) {
        u32 c = C_OTHER;
        // NUL is a control character like the others: the end of the input is known from its
        // length, so a NUL inside never cuts the text short.
        if (b == 0) c = C_CONTROL;
        else if (b == '\t' || b == '\r' || b == ' ') c = C_BLANK;
        else if (b == '\n') c = C_LF;
        else if (b < 0x20) c = C_CONTROL;
        else if (b >= '1' && b <= '9') c = C_DIGIT;
        else if (b == '0') c = C_ZERO;
        else if (b == 'X' || b == 'x') c = C_X;
        else if (b == 'T') c = C_T;
        else if (b == 'h') c = C_H;
        else if (b == 'e') c = C_E_LOWER;
        else if (b == 'E') c = C_E_UPPER;
        else if ((b >= 'a' && b <= 'd') || b == 'f') c = C_HEX_LOWER;
        else if ((b >= 'A' && b <= 'D') || b == 'F') c = C_HEX_UPPER;
        else if (b >= 0x7F && b <= 0xBF) c = C_CONTINUATION;
        else if (b == 0xC0 || b == 0xC1 || b >= 0xF8) c = C_BAD;
        else {
            switch (b) {
                case '[': c = C_LBRACKET; break;
                case ']': c = C_RBRACKET; break;
                case '(': c = C_LPAREN; break;
                case ')': c = C_RPAREN; break;
                case '{': c = C_LBRACE; break;
                case '}': c = C_RBRACE; break;
                case '"': c = C_DQUOTE; break;
                case '#': c = C_HASH; break;
                case '\'': c = C_QUOTE; break;
                case ':': c = C_COLON; break;
                case '/': c = C_SLASH; break;
                case '\\': c = C_BACKSLASH; break;
                case '<': c = C_LESS; break;
                case '>': c = C_GREATER; break;
                case '=': c = C_EQUAL; break;
                case '%': c = C_PERCENT; break;
                case ',': c = C_COMMA; break;
                case ';': c = C_SEMICOLON; break;
                case '@': c = C_AT; break;
                case '.': c = C_DOT; break;
                case '$': c = C_DOLLAR; break;
                case '+': c = C_PLUS; break;
                case '-': c = C_MINUS; break;
                case '^': c = C_CARET; break;
                default: break;  // the rest of ASCII and the lead bytes 0xC2-0xF7
            }
        }
        u32 f = 0;
        switch (b) {
            case 0: f = F_NUL; break;
            case '#': f = F_HASH; break;
            case '%': f = F_PERCENT; break;
            case '\'': f = F_QUOTE; break;
            case '+': case '-': f = F_SIGN; break;
            case ',': f = F_COMMA; break;
            case '.': f = F_DOT; break;
            case ':': f = F_COLON; break;
            case '<': f = F_LESS; break;
            case '>': f = F_GREATER; break;
            case 'e': case 'E': f = F_EXPONENT; break;
            case '^': f = F_CARET; break;
            default:
                if (b >= 0xC2 && b <= 0xEF) f = F_WIDE2;
                else if (b >= 0xF0 && b <= 0xF7) f = F_WIDE4;
                break;
        }
        t[size_t(b)] = c | f;
    }
    return t;
}

constexpr std::array<u32, 256> kClasses = build_classes();

// ---- the transition table ---------------------------------------------------------------
//
// Each state is written as the state most classes lead to, then groups of classes (by the
// names below, separated by blanks) with the state they lead to instead.

constexpr std::string_view kClassNames[CLASS_COUNT] = {
    "blank", "LF", "digit", "0", "[", "]", "(", ")", "{", "}", "\"", "#", "'", ":", "x", "T", "h",
    "e", "E", "hexlo", "hexup", "/", "\\", "<", ">", "=", "%", ",", ";", "@", ".", "$", "+", "-",
    "^", "control", "cont", "other", "bad", "end",
};

constexpr int class_index(std::string_view name) {
    for (int i = 0; i < CLASS_COUNT; ++i)
        if (kClassNames[i] == name) return i;
    return -1;
}

struct Group {
    std::string_view classes;
    u32 target;
};
struct Row {
    u32 fallback;
    Group groups[12];
};

constexpr u32 END = final_of(K_END), ERR = final_of(K_ERROR), LBRACK = final_of(K_BLOCK_OPEN),
              RBRACK = final_of(K_BLOCK_CLOSE), LPAREN = final_of(K_PAREN_OPEN),
              RPAREN = final_of(K_PAREN_CLOSE), LBRACE = final_of(K_BRACE_OPEN),
              RBRACE = final_of(K_BRACE_CLOSE), MAP = final_of(K_MAP_OPEN), PATH = final_of(K_PATH_HEAD),
              CONSTRUCT = final_of(K_CONSTRUCT), COMMENT = final_of(K_COMMENT), COMMA = final_of(K_COMMA),
              STRING = final_of(K_STRING), WORD = final_of(K_WORD), ISSUE = final_of(K_ISSUE),
              INTEGER = final_of(K_INTEGER), REFINEMENT = final_of(K_REFINEMENT), CHAR = final_of(K_CHAR),
              FILE = final_of(K_FILE), BINARY = final_of(K_BINARY), PERCENT = final_of(K_PERCENT),
              FLOAT = final_of(K_FLOAT), SPECIAL = final_of(K_FLOAT_SPECIAL), TUPLE = final_of(K_TUPLE),
              DATE = final_of(K_DATE), PAIR = final_of(K_PAIR), POINT = final_of(K_POINT),
              TIME = final_of(K_TIME), MONEY = final_of(K_MONEY), TAG = final_of(K_TAG), URL = final_of(K_URL),
              EMAIL = final_of(K_EMAIL), HEX = final_of(K_HEX_INTEGER), RAW = final_of(K_RAW_STRING),
              REF = final_of(K_REF);

constexpr Row kRows[STATE_COUNT] = {
    /* 0 start */ {52, {{"} \\ cont bad", ERR}, {"blank LF control", 0}, {"digit 0", 23}, {"' :", 51},
                        {"E hexup", 40}, {"+ -", 47}, {"[", LBRACK}, {"]", RBRACK}, {"(", LPAREN},
                        {")", RPAREN}, {"{", LBRACE}, {"\"", 2}}},
    // state 0 has more groups than a row holds: the rest are in kStartExtra below
    /* 1 comment */ {1, {{"LF end", COMMENT}, {"bad", ERR}}},
    /* 2 quoted string */ {2, {{"LF bad end", ERR}, {"\"", STRING}, {"^", 3}}},
    /* 3 escape in a quoted string */ {2, {{"bad end", ERR}}},
    /* 4 braced string */ {4, {{"bad end", ERR}, {"{", LBRACE}, {"}", RBRACE}, {"^", 5}}},
    /* 5 escape in a braced string */ {4, {{"bad end", ERR}}},
    /* 6 after % */ {7, {{"blank LF [ ] ( ) } ; @ control end", WORD}, {"{", 10}, {"\"", 8}, {":", 54},
                         {"%", 9}, {"bad", ERR}}},
    /* 7 file */ {7, {{"blank LF [ ] ( ) { } : ; @ end", FILE}, {"\" bad", ERR}}},
    /* 8 quoted file */ {8, {{"LF bad end", ERR}, {"\"", FILE}}},
    /* 9 run of % */ {7, {{"blank LF [ ] ( ) } \" \\ ; control end", WORD}, {"{", 10}, {"%", 9}, {"bad", ERR}}},
    /* 10 raw string */ {10, {{"bad end", ERR}, {"}", 11}}},
    /* 11 } in a raw string */ {10, {{"bad end", ERR}, {"}", 11}, {"%", 12}}},
    /* 12 closing run of % */ {ERR, {{"blank LF [ ] ( ) { \" < ; control end", RAW}, {"%", 12}}},
    /* 13 after / */ {14, {{"blank LF [ ] ( ) { } \" # ; @ control end", WORD}, {", bad", ERR}, {":", 53},
                           {"/", 15}}},
    /* 14 refinement */ {14, {{"blank LF [ ] ( ) { } \" / ; @ control end", REFINEMENT}, {": , bad", ERR}}},
    /* 15 run of / */ {52, {{"blank LF [ ] ( ) { } \" # ; @ control end", WORD}, {"% , $ bad", ERR}, {"/", 15}}},
    /* 16 after # */ {22, {{"blank LF ] ) } : < > , bad", ERR}, {"; @ control end", ISSUE}, {"[", MAP},
                           {"(", 21}, {"{", 17}, {"\"", 19}}},
    /* 17 binary */ {ERR, {{"blank LF digit 0 x T h e E hexlo hexup / = + other", 17}, {"}", BINARY}, {";", 18}}},
    /* 18 comment in binary */ {18, {{"bad end", ERR}, {"LF", 17}}},
    /* 19 char */ {19, {{"bad end", ERR}, {"\"", CHAR}, {"^", 20}}},
    /* 20 escape in a char */ {19, {{"bad end", ERR}}},
    /* 21 construction */ {21, {{"bad end", ERR}, {")", CONSTRUCT}}},
    /* 22 issue */ {22, {{"blank LF [ ] ( ) { } \" ; @ control end", ISSUE}, {": / bad", ERR}}},
    /* 23 integer */ {INTEGER, {{"hexlo \\ > = $ + ^ cont other bad", ERR}, {"digit 0 '", 23}, {"T / -", 30},
                                {"#", 16}, {":", 31}, {"x", 33}, {"h", 42}, {"e", 26}, {"E", 27}, {"hexup", 39},
                                {"%", PERCENT}, {"@", 56}}},
    // state 23's `.` is in kExtra below
    /* 24 digits . */ {ERR, {{"blank LF [ ] ( ) { } \" / < , ; control end", FLOAT}, {"digit 0 '", 25},
                             {"e E", 26}, {"#", 28}, {"x", 33}, {"%", PERCENT}}},
    /* 25 fraction */ {FLOAT, {{"# T h hexlo hexup \\ > = $ + - ^ cont other bad", ERR}, {"digit 0 '", 25},
                               {"e E", 26}, {"x", 33}, {"%", PERCENT}, {"@", 56}, {".", 29}}},
    /* 26 exponent */ {ERR, {{"blank LF [ ] ( ) { } \" : / < , ; control end", FLOAT}, {"digit 0 + -", 26},
                             {"@", 56}}},
    /* 27 digits E */ {FLOAT, {{"# ' x T e hexlo \\ > = ; $ ^ cont other bad", ERR}, {"digit 0", 27},
                               {"E hexup", 40}, {"+ -", 26}, {"h", 42}, {"%", PERCENT}, {"@", 56}, {".", 29}}},
    /* 28 after 1.# */ {SPECIAL, {{"x T h e E hexlo hexup > = . + - cont other", 28},
                                  {"# ' : % @ $ ^ bad", ERR}, {"digit", FLOAT}}},
    /* 29 tuple */ {ERR, {{"blank LF [ ] ( ) { } \" : / < ; control end", TUPLE}, {"digit 0 .", 29}}},
    /* 30 date */ {30, {{"blank LF [ ] ( ) { } \" < ; $ control end", DATE}, {"% , @ ^ cont bad", ERR}}},
    /* 31 time after : */ {ERR, {{"digit 0", 32}}},
    /* 32 time */ {ERR, {{"blank LF [ ] ( ) { } \" / < ; control end", TIME}, {"digit 0 : .", 32}}},
    /* 33 pair after x */ {ERR, {{"digit 0 + -", 34}, {"@", 56}}},
    /* 34 pair */ {ERR, {{"blank LF [ ] ( ) { } \" : / < ; control end", PAIR}, {"digit 0 e E .", 34}, {"@", 56}}},
    /* 35 point */ {ERR, {{"blank digit 0 ] # e E hexlo hexup , . + - other", 35}, {")", POINT}}},
    /* 36 after $ */ {ERR, {{"digit 0", 37}}},
    /* 37 money */ {ERR, {{"blank LF [ ] ( ) { } \" # : / < ; control end", MONEY}, {"digit 0 '", 37}, {".", 38}}},
    /* 38 money fraction */ {ERR, {{"blank LF [ ] ( ) { } \" # : / < ; control end", MONEY}, {"digit 0 '", 38}}},
    /* 39 digits, hex letters */ {ERR, {{"digit 0 E hexup", 39}, {"h", 41}, {"@", 56}}},
    /* 40 word from A-F */ {WORD, {{"' x T e hexlo < > = . + - ^ cont other", 52}, {"digit 0 E hexup", 40},
                                   {"% , bad", ERR}, {":", 53}, {"h", 41}, {"/", PATH}, {"@", 56}, {"$", 37}}},
    /* 41 hex digits h */ {52, {{"blank LF [ ] ( ) { } \" \\ ; control end", HEX}, {"# % , bad", ERR}, {":", 53},
                                {"/", PATH}, {"@", 56}, {"$", 37}}},
    /* 42 digits h */ {ERR, {{"blank LF [ ] ( ) { } \" \\ < ; control end", HEX}, {"/", PATH}, {"@", 56},
                             {"$", 37}}},
    /* 43 after < */ {44, {{"blank LF [ ] ( ) { } \" ; control end", WORD}, {"> = -", 52}, {"'", 46}, {":", 53},
                           {"<", 43}, {"bad", ERR}}},
    /* 44 tag */ {44, {{"bad end", ERR}, {"\"", 45}, {"'", 46}, {">", TAG}}},
    /* 45 tag "..." */ {45, {{"bad end", ERR}, {"\"", 44}}},
    /* 46 tag '...' */ {46, {{"bad end", ERR}, {"'", 44}}},
    /* 47 after a sign */ {52, {{"blank LF [ ] ( ) { } \" # \\ ; control end", WORD}, {"' % ^ bad", ERR},
                                {"digit 0", 23}, {"/", PATH}, {".", 49}, {"$", 37}}},
    /* 48 prefix, sign */ {52, {{"blank LF [ ] ( ) { } \" # \\ ; control end", WORD}, {"' % $ ^ bad", ERR},
                                {"/", PATH}}},
    /* 49 after . */ {52, {{"blank LF [ ] ( ) { } \" # \\ ; control end", WORD}, {"digit 0 + -", 50},
                           {"% , $ bad", ERR}, {":", 53}, {"/", PATH}, {"@", 56}}},
    /* 50 .digits */ {ERR, {{"blank LF [ ] ( ) { } \" : / < control end", FLOAT}, {"digit 0 e E + -", 50},
                            {"x", 33}, {"%", PERCENT}, {"@", 56}}},
    /* 51 after ' or : */ {ERR, {{"x T h e E hexlo hexup > . ^ cont other", 52}, {"+ -", 48}, {"/", 13},
                                 {"<", 43}, {"=", 58}, {"%", 54}}},
    /* 52 word */ {52, {{"blank LF [ ] ( ) { } \" # \\ < ; control end", WORD}, {"% , bad", ERR}, {":", 53},
                        {"/", PATH}, {"@", 56}, {"$", 36}}},
    /* 53 word: */ {55, {{"blank LF [ ] ( ) { } \" \\ ; control end", WORD}, {"< bad", ERR}}},
    /* 54 prefix % */ {ERR, {{"blank LF [ ] ( ) { } \\ ; control end", WORD}, {"%", 54}}},
    /* 55 url */ {55, {{"blank LF [ ] ( ) { } \" \\ < ; control end", URL}, {"> ^ bad", ERR}}},
    /* 56 email */ {EMAIL, {{"digit 0 x T h e E hexlo hexup % . + - cont other", 56},
                            {"# ' : > = , @ $ ^ bad", ERR}}},
    /* 57 ref */ {57, {{"blank LF [ ] ( ) { } \" < ; control end", REF}, {"# ' \\ > = , @ $ ^ bad", ERR}}},
    /* 58 after = */ {52, {{"blank LF [ ] ( ) { } \" : \\ ; control end", WORD}, {"# % , @ $ bad", ERR},
                           {"/", PATH}}},
    /* 59 path segment */ {ERR, {{"x T h e E hexlo hexup > = . cont other", 62}, {"digit 0", 60}, {"' :", 61},
                                 {"+ -", 64}, {"(", LPAREN}, {")", RPAREN}, {"\"", 2}, {"#", 63}, {"<", 43},
                                 {"@", 57}, {"$", 36}}},
    /* 60 integer in a path */ {ERR, {{"blank LF [ ] ( ) { } \" : / < ; control end", INTEGER}, {"digit 0 '", 60},
                                      {"e E", 26}, {"x", 33}, {"%", PERCENT}, {"@", 56}, {".", 24}}},
    /* 61 prefix in a path */ {ERR, {{"x T h e E hexlo hexup < > = . + - cont other", 62}}},
    /* 62 word in a path */ {62, {{"blank LF [ ] ( ) { } \" : / \\ ; control end", WORD}, {"# % , bad", ERR},
                                  {"@", 56}, {"$", 36}}},
    /* 63 # in a path */ {22, {{"blank LF ] ( ) { } : / < > = , ; @ control bad end", ERR}, {"[", 21}, {"\"", 19}}},
    /* 64 sign in a path */ {WORD, {{"x T h e E hexlo hexup > = . cont other", 62}, {"# ' < % , ^ bad", ERR},
                                    {"digit 0", 60}, {"+ -", 64}, {"@", 56}, {"$", 36}}},
};

// Groups that did not fit their row.
struct Extra {
    u32 state;
    Group group;
};
constexpr Extra kExtra[] = {
    {0, {"#", 16}}, {0, {"/", 13}}, {0, {"<", 43}}, {0, {"=", 58}}, {0, {"%", 6}}, {0, {",", COMMA}},
    {0, {";", 1}},  {0, {"@", 57}}, {0, {".", 49}}, {0, {"$", 36}}, {0, {"end", END}},
    {23, {".", 24}},
};

constexpr void apply_group(std::array<u8, STATE_COUNT * CLASS_COUNT>& t, u32 state, const Group& g) {
    std::string_view s = g.classes;
    while (!s.empty()) {
        size_t space = s.find(' ');
        std::string_view name = s.substr(0, space);
        int c = class_index(name);
        if (c < 0) throw "unknown class name";  // a compile-time error
        t[state * CLASS_COUNT + u32(c)] = u8(g.target);
        if (space == std::string_view::npos) break;
        s.remove_prefix(space + 1);
    }
}

constexpr std::array<u8, STATE_COUNT * CLASS_COUNT> build_transitions() {
    std::array<u8, STATE_COUNT * CLASS_COUNT> t{};
    for (u32 s = 0; s < STATE_COUNT; ++s) {
        for (u32 c = 0; c < CLASS_COUNT; ++c) t[s * CLASS_COUNT + c] = u8(kRows[s].fallback);
        for (const Group& g : kRows[s].groups)
            if (!g.classes.empty()) apply_group(t, s, g);
    }
    for (const Extra& e : kExtra) apply_group(t, e.state, e.group);
    return t;
}

constexpr std::array<u8, STATE_COUNT * CLASS_COUNT> kTransitions = build_transitions();

// The datatype a token denotes, by the state it ended in or failed from. A lone `#` before
// a delimiter is no issue yet: an error there is a bad character.
constexpr u8 kStateTypes[STATE_COUNT] = {
    0,  0,  T_STRING, T_STRING, T_STRING, T_STRING, T_FILE, T_FILE, T_FILE, T_FILE,       // 0-9
    T_STRING, T_STRING, T_STRING, T_REFINEMENT, T_REFINEMENT, T_WORD, 0, T_BINARY,         // 10-17
    T_BINARY, T_CHAR, T_CHAR, 0, T_ISSUE, T_INTEGER, T_FLOAT, T_FLOAT, T_FLOAT, T_FLOAT,   // 18-27
    T_FLOAT, T_TUPLE, T_DATE, T_TIME, T_TIME, T_PAIR, T_PAIR, T_POINT2D, T_MONEY, T_MONEY, // 28-37
    T_MONEY, T_INTEGER, T_WORD, T_INTEGER, T_INTEGER, T_WORD, T_TAG, T_TAG, T_TAG, T_WORD, // 38-47
    T_WORD, T_WORD, T_FLOAT, T_WORD, T_WORD, T_WORD, T_WORD, T_URL, T_EMAIL, T_REF,       // 48-57
    T_WORD, 0, T_INTEGER, T_WORD, T_WORD, T_ISSUE, T_WORD,                                 // 58-64
};

constexpr u8 kKindTypes[KIND_COUNT] = {
    0, T_ERROR, 0, 0, 0, 0, 0, T_STRING, 0, 0, 0, 0, 0,                         // 0-12
    T_STRING, T_WORD, T_ISSUE, T_INTEGER, T_REFINEMENT, T_CHAR, T_FILE, T_BINARY, // 13-20
    T_PERCENT, T_FLOAT, T_FLOAT, T_TUPLE, T_DATE, T_PAIR, T_POINT2D, T_TIME,     // 21-28
    T_MONEY, T_TAG, T_URL, T_EMAIL, T_INTEGER, T_STRING, T_REF,                  // 29-35
};

}  // namespace

const u32 g_byte_classes[256] = {
#define KEL_ROW(i) kClasses[i], kClasses[i + 1], kClasses[i + 2], kClasses[i + 3]
#define KEL_ROW16(i) KEL_ROW(i), KEL_ROW(i + 4), KEL_ROW(i + 8), KEL_ROW(i + 12)
    KEL_ROW16(0),   KEL_ROW16(16),  KEL_ROW16(32),  KEL_ROW16(48),  KEL_ROW16(64),  KEL_ROW16(80),
    KEL_ROW16(96),  KEL_ROW16(112), KEL_ROW16(128), KEL_ROW16(144), KEL_ROW16(160), KEL_ROW16(176),
    KEL_ROW16(192), KEL_ROW16(208), KEL_ROW16(224), KEL_ROW16(240),
#undef KEL_ROW16
#undef KEL_ROW
};

const u8* const g_transitions = kTransitions.data();

u32 state_datatype(u32 state) {
    if (state < STATE_COUNT) return kStateTypes[state];
    if (state >= FIRST_FINAL && state < FIRST_FINAL + KIND_COUNT) return kKindTypes[state - FIRST_FINAL];
    return 0;
}

}  // namespace kel::lex
