// Loading text: the entry the console, the boot sequence and the tests call, and the
// lexer's reading of one value from a string (installed into the word datatypes).
#include "lexer/load.h"

#include "datatypes/string.h"
#include "datatypes/word.h"
#include "lexer/lexer.h"
#include "runtime/errors.h"
#include "runtime/gc.h"

namespace kel::lex {

using namespace rt;

bool is_unicode_blank(u32 cp) {
    switch (cp) {
        case 0x85: case 0xA0: case 0x1680: case 0x180E: case 0x2028: case 0x2029: case 0x202F:
        case 0x205F: case 0x3000: case 0x200B:
            return true;
        default:
            return cp >= 0x2000 && cp <= 0x200A;
    }
}

void load_utf8(const char* text, size_t length, Cell* out) {
    // `out` may be a fresh stack slot, which the collector reads while the text loads.
    set_cell(out, T_NONE);
    RunOptions o;
    RootGuard result;
    // Texts beyond 4 GiB do not fit the lexer's 32-bit positions.
    if (length > 0xFFFFFFF0u) raise_error(Err::internal_no_memory);
    lexer_run(&result.cell, reinterpret_cast<const u8*>(text), u32(length), o, nullptr);
    *out = result.cell;
}

namespace {

// scan-string-value: none when the text does not hold exactly one value (a syntax error
// included), unset when it holds none, else the value.
void scan_string_value(const Cell* str, Cell* out) {
    RootGuard source(*str);
    set_cell(out, T_NONE);
    u32 length = dt::string_length(&source.cell);
    RunOptions check;
    check.one = true;
    check.load = false;
    u32 consumed = 0;
    u32 type = transcode_series(nullptr, &source.cell, -1, check, &consumed);
    if (type == T_ERROR || consumed != length) {
        set_cell(out, type == 0 && consumed == length ? T_UNSET : T_NONE);
        return;
    }
    if (type == 0) {
        set_cell(out, T_UNSET);
        return;
    }
    RunOptions load;
    load.one = true;
    RootGuard result;
    transcode_series(&result.cell, &source.cell, -1, load, &consumed);
    *out = result.cell;
}

struct InstallScanner {
    InstallScanner() { dt::g_scan_string_value = scan_string_value; }
} g_install_scanner;

}  // namespace

}  // namespace kel::lex
