// The terminal layer: reads the lines that `ask` and `input` answer.
//
// Redirected standard input is read as UTF-8 lines with no prompt and no echo. Until the
// interactive line editor exists, a terminal is read the same way, in the terminal's own
// line mode, after the prompt is shown.
#pragma once
#include "runtime/cell.h"
#include "runtime/types.h"

namespace kel::console {

// Whether standard input is a terminal; fixed once by terminal_init.
void terminal_init();
bool terminal_is_console();
// The terminal window's columns and rows; false when standard input is not a terminal or
// the size cannot be read.
bool terminal_window_size(i32* columns, i32* rows);
// Sets the terminal window's title when standard output is a terminal; never fails.
void terminal_set_title(const Cell* title);
// Appends the next input line to `line` (a string!). False at the end of input, when no
// character was read. A hidden line is not echoed by a terminal.
bool terminal_read_line(Cell* line, const Cell* prompt, bool hidden = false);

}  // namespace kel::console
