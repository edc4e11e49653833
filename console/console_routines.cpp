// The console's routines: the terminal set-up of system/console/init and the line reading
// behind `ask`.
#include "console/terminal.h"
#include "datatypes/block.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "evaluator/actions.h"
#include "library/routines.h"
#include "runtime/console_out.h"
#include "runtime/fatal.h"
#include "runtime/gc.h"
#include "runtime/stack.h"

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

// Typed lines go to the head of the history, a copy of each (so that editing what `ask`
// answered leaves the history alone), but never the same line twice in a row.
void history_add(const Cell* line) {
    Cell* history = &edit_state().history.cell;
    if (type_of(history) != T_BLOCK || dt::string_length(line) == 0) return;
    Cell head = *history;
    head.data1 = 0;
    if (dt::ks_length_q(&head) > 0) {
        Cell* first = dt::ks_head(&head);
        if (type_of(first) == T_STRING && dt::compare_string_values(first, line, ev::OP_STRICT_EQUAL, false) == 0)
            return;
    }
    Cell* copy = dt::push_string_from(dt::string_code_points(line));
    dt::ks_insert_value(&head, copy, false, true);
    rt::stack_pop(1);
}

// True when a line was read; false at the end of the input, the string left empty. The
// console loop ends there; `ask` answers the empty string and its caller goes on.
i64 read_input(Cell* args) {
    Cell* line = &edit_state().line.cell;
    if (type_of(line) != T_STRING) return 1;
    bool hidden = type_of(&args[1]) == T_LOGIC && args[1].data1;
    if (!terminal_read_line(line, &args[0], hidden)) return 0;
    if (terminal_is_console() && !hidden) history_add(line);
    return 1;
}

// One line into a new string, whatever the input is; at the end of input the string stays
// empty.
i64 input_stdin(Cell* args) {
    Cell* line = dt::push_string(256);
    terminal_read_line(line, nullptr);
    args[0] = *line;
    rt::stack_pop(1);
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
    CONSOLE_SOURCE, "_read-input", "\"Internal Use Only\" prompt [string!] hidden? [logic!] return: [logic!]",
    read_input, lib::RETURNS_LOGIC};
const lib::RoutineDef input_stdin_def{CONSOLE_SOURCE, "input-stdin", "\"Temporary function, internal use only\"",
                                     input_stdin, lib::RETURNS_NONE};
const lib::RoutineDef terminate_console_def{CONSOLE_SOURCE, "_terminate-console", "", terminate_console,
                                            lib::RETURNS_NONE};
const lib::RoutineDef console_init_def{CONSOLE_SOURCE, "system/console/init", "str [string!]", console_init,
                                       lib::RETURNS_NONE};

KEL_ROUTINE(set_buffer_history_def);
KEL_ROUTINE(read_input_def);
KEL_ROUTINE(terminate_console_def);
KEL_ROUTINE(input_stdin_def);
KEL_ROUTINE(console_init_def);

}  // namespace

}  // namespace kel::console
