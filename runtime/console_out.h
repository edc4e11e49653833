// Console output and print hooks.
//
// All text the runtime writes to standard output goes through here: `print` and `prin`
// through the string hooks, the runtime's own diagnostics and fatal reports through the
// low-level printers. Output is UTF-8 with LF line ends; escape sequences go to the
// terminal as they are. Each print fills one preallocated buffer, written out whenever it
// is nearly full and at the end of the print. Writes loop over partial writes, EINTR and
// EAGAIN. Output that cannot be written ends the process: a closed pipe (EPIPE) quietly by
// SIGPIPE, any other failure with one line on standard error and exit code 1.
//
// While the text-mode GUI runs, the string printer and the typed printers first call its
// leave-mode service and afterwards its enter-mode service.
#pragma once
#include <cstddef>
#include <initializer_list>

#include "runtime/cell.h"
#include "runtime/types.h"

namespace kel::rt {

// Fixes the output path (terminal or redirected) from standard output. Runtime boot.
void console_output_init();
bool output_is_terminal();
// Sends output to `fd` from now on (tests, the terminal layer); answers the previous fd.
// The terminal test is made again for the new fd.
int set_console_output_fd(int fd);

// The text-mode GUI's mode services; no-ops until the GUI installs its own.
extern void (*g_tui_leave_mode)();
extern void (*g_tui_enter_mode)();
// One pass of the GUI's event loop without waiting (`wait` runs it after sleeping).
extern void (*g_tui_process_pending)();
// The cursor position for the screen-buffer report (ESC "[?" on a terminal); the terminal
// layer installs it. Answers false when unknown (the report then shows 0x0).
extern bool (*g_console_cursor_hook)(i32* column, i32* row);

// ---- low-level printers (bytes are UTF-8, written unchanged) --------------------------

void print_raw(const char* bytes, size_t n);  // no hooks
void print_c_string(const char* s);            // then the raw hooks
void print_c_line(const char* s);              // print_c_string, then LF
void print_char(char byte);
void print_integer(i32 n);      // "%i"
void print_hex32(u32 n);        // "%08X"
void print_hex_byte(u8 n);      // "%02X"
void print_float64(double d);   // "%.16g"
void print_float32(float f);    // "%.7g"
// Writes out whatever is pending.
void console_flush();

// Text printers over string units (1 Latin-1, 2 UCS-2, 4 UCS-4; length in bytes).
void print_text(const u8* text, u32 bytes, u32 unit, bool newline);
inline void print_latin1(const u8* t, u32 n) { print_text(t, n, 1, false); }
inline void print_latin1_line(const u8* t, u32 n) { print_text(t, n, 1, true); }
inline void print_ucs2(const u8* t, u32 n) { print_text(t, n, 2, false); }
inline void print_ucs2_line(const u8* t, u32 n) { print_text(t, n, 2, true); }
inline void print_ucs4(const u8* t, u32 n) { print_text(t, n, 4, false); }
inline void print_ucs4_line(const u8* t, u32 n) { print_text(t, n, 4, true); }

// ---- typed print lists of the runtime's diagnostics -----------------------------------

struct PrintItem {
    enum Kind : u32 { LOGIC = 1, INTEGER = 2, BYTE = 3, FLOAT32 = 4, FLOAT64 = 5, TEXT = 6, HEX = 7 };
    Kind kind;
    union {
        u32 word;
        i32 integer;
        float f32;
        double f64;
        const char* text;
    };
    PrintItem(bool b) : kind(LOGIC), word(b) {}
    PrintItem(i32 n) : kind(INTEGER), integer(n) {}
    PrintItem(u32 n) : kind(INTEGER), integer(i32(n)) {}  // printed as signed 32-bit
    PrintItem(char c) : kind(BYTE), word(u8(c)) {}
    PrintItem(float f) : kind(FLOAT32), f32(f) {}
    PrintItem(double d) : kind(FLOAT64), f64(d) {}
    PrintItem(const char* s) : kind(TEXT), text(s) {}
    static PrintItem hex(u32 n) {
        PrintItem item(n);
        item.kind = HEX;
        return item;
    }
};

// Prints the items with no separator: logic as "true"/"false", numbers by their printers,
// a byte as a character, text unchanged, HEX as eight hex digits.
void print_typed_values(std::initializer_list<PrintItem> items);
inline void print_values(std::initializer_list<PrintItem> items) { print_typed_values(items); }
// The same, then LF.
void print_values_line(std::initializer_list<PrintItem> items);

// ---- print hooks ----------------------------------------------------------------------

using StringHook = void (*)(const Cell* str, bool newline);
using RawHook = void (*)(const char* text, i32 length, i32 flag);
// Runtime boot, first step: the registry with console_print_string as its one string hook.
void print_hooks_init();
// Appends each non-null hook to its list.
void print_hooks_add(StringHook s, RawHook r);
// Removes the first equal entry of each non-null hook; one not found is ignored.
void print_hooks_remove(StringHook s, RawHook r);
// Every string hook in registration order (`print` and `prin`).
void print_hooks_call(const Cell* str, bool newline);
// Every raw hook in order (after each low-level print of a text or a number).
void print_hooks_call3(const char* text, i32 length, i32 flag);

// The default string hook: writes a string! value's text from its head to its tail, then
// LF when `newline` is set.
void console_print_string(const Cell* str, bool newline);

}  // namespace kel::rt
