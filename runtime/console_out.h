// Console output and print hooks.
//
// All text the runtime writes to standard output goes through here: `print` and `prin`
// through the string hooks, the runtime's own diagnostics and fatal reports through the
// low-level printers. Output is UTF-8; escape sequences go to the terminal as they are.
// Lines end with LF. Writes loop over partial writes; a closed output loses text silently.
#pragma once
#include <cstddef>

#include "runtime/cell.h"
#include "runtime/types.h"

namespace kel::rt {

void console_output_init();
bool output_is_terminal();

// Low-level printers (bytes are UTF-8).
void print_raw(const char* bytes, size_t n);
void print_c_string(const char* s);
void print_c_line(const char* s);
void console_flush();

// Print hooks.
using StringHook = void (*)(const Cell* str, bool newline);
using RawHook = void (*)(const char* text, i32 length, i32 flag);
void print_hooks_init();
void print_hooks_add(StringHook s, RawHook r);
void print_hooks_remove(StringHook s, RawHook r);
void print_hooks_call(const Cell* str, bool newline);
void print_hooks_call3(const char* text, i32 length, i32 flag);

// The default string hook: writes a string! value's text from its head.
void console_print_string(const Cell* str, bool newline);

}  // namespace kel::rt
