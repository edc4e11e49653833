// The console's routines: the terminal set-up of system/console/init and the line reading
// behind `ask`.
#include "console/terminal.h"
#include "datatypes/registry.h"
#include "library/routines.h"
#include "runtime/console_out.h"
#include "runtime/fatal.h"
#include "runtime/gc.h"

namespace kel::console {

namespace {

constexpr const char* CONSOLE_SOURCE = "console/console.kel";

// The string being read into and the history block, kept from _set-buffer-history to
// _read-input.
struct EditState {
    rt::RootGuard line;
    rt::RootGuard history;
};
EditState& edit_state() {
    // Never destroyed: an exit may come from inside a read.
    static EditState* state = new EditState;
    return *state;
}

i64 set_buffer_history(Cell* args) {
    edit_state().line.cell = args[0];
    edit_state().history.cell = args[1];
    return 0;
}

i64 read_input(Cell* args) {
    Cell* line = &edit_state().line.cell;
    if (type_of(line) != T_STRING) return 0;
    if (!terminal_read_line(line, &args[0])) {
        // End of redirected input ends the console: there is nothing more to evaluate, and
        // pending incomplete input is dropped.
        rt::console_flush();
        rt::process_exit(0);
    }
    return 0;
}

i64 terminate_console(Cell*) { return 0; }

// The title, then the terminal layer, then the console size: the window's when standard
// input is a terminal, else 80x50. Until pair! values can be read (their path action), the
// size stays none and the console takes 80 columns.
i64 console_init(Cell* args) {
    terminal_set_title(&args[0]);
    terminal_init();
    i32 columns = 0, rows = 0;
    if (!terminal_window_size(&columns, &rows) || columns == 0 || rows == 0) columns = 80, rows = 50;
    if (!dt::action_entry(T_PAIR, A_EVAL_PATH)) return 0;
    Cell size;
    set_cell(&size, T_PAIR, 0, u32(columns), u32(rows));
    *lib::member_slot("system/console/size") = size;
    return 0;
}

const lib::RoutineDef set_buffer_history_def{
    CONSOLE_SOURCE, "_set-buffer-history", "\"Internal Use Only\" line [string!] hist [block!]",
    set_buffer_history, lib::RETURNS_NONE};
const lib::RoutineDef read_input_def{
    CONSOLE_SOURCE, "_read-input", "\"Internal Use Only\" prompt [string!] hidden? [logic!]", read_input,
    lib::RETURNS_NONE};
const lib::RoutineDef terminate_console_def{CONSOLE_SOURCE, "_terminate-console", "", terminate_console,
                                            lib::RETURNS_NONE};
const lib::RoutineDef console_init_def{CONSOLE_SOURCE, "system/console/init", "str [string!]", console_init,
                                       lib::RETURNS_NONE};

KEL_ROUTINE(set_buffer_history_def);
KEL_ROUTINE(read_input_def);
KEL_ROUTINE(terminate_console_def);
KEL_ROUTINE(console_init_def);

}  // namespace

}  // namespace kel::console
