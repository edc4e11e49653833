// The terminal layer: redirected input and the terminal's own line mode.
#include "console/terminal.h"

#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <vector>

#include "console/line_reader.h"
#include "datatypes/string.h"
#include "runtime/console_out.h"
#include "runtime/platform.h"
#include "runtime/unicode.h"

namespace kel::console {

namespace {

bool g_console = false;

LineReader& stdin_reader() {
    static LineReader reader(0);
    return reader;
}

void print_string(const Cell* str) {
    Cell copy = *str;
    i32 length = -1;
    const char* text = rt::string_to_utf8(&copy, &length);
    rt::print_raw(text, size_t(length));
}

}  // namespace

void terminal_init() { g_console = isatty(0) == 1; }

bool terminal_is_console() { return g_console; }

bool terminal_window_size(i32* columns, i32* rows) {
    if (!g_console) return false;
    winsize ws{};
    if (ioctl(1, TIOCGWINSZ, &ws) != 0 && ioctl(0, TIOCGWINSZ, &ws) != 0) return false;
    *columns = ws.ws_col;
    *rows = ws.ws_row;
    return ws.ws_col != 0 && ws.ws_row != 0;
}

void terminal_set_title(const Cell* title) {
    if (!rt::output_is_terminal()) return;
    rt::print_raw("\x1B]0;", 4);
    print_string(title);
    rt::print_raw("\x07", 1);
    rt::console_flush();
}

namespace {

// One line into `line`, in pieces: a line of any length lives in the runtime's own memory,
// whose limit then ends the read with its out-of-memory error.
bool read_line_into(Cell* line) {
    constexpr size_t PIECE = 65536;
    std::vector<u32> cps;
    bool complete = false;
    bool any = false;
    while (!complete) {
        if (!stdin_reader().read_line_part(cps, PIECE, &complete)) return any;
        any = true;
        for (u32 cp : cps) dt::append_char(line, cp);
    }
    return true;
}

}  // namespace

bool terminal_read_line(Cell* line, const Cell* prompt, bool hidden) {
    if (g_console && prompt && dt::is_any_string_type(type_of(prompt))) print_string(prompt);
    rt::console_flush();
    bool read;
    termios saved{};
    if (g_console && hidden && tcgetattr(0, &saved) == 0) {
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        // Whatever ends the process while echo is off (a signal, an exit) turns it back on.
        rt::remember_terminal_modes(0, &saved);
        tcsetattr(0, TCSAFLUSH, &quiet);
        try {
            read = read_line_into(line);
        } catch (...) {
            tcsetattr(0, TCSAFLUSH, &saved);
            rt::forget_terminal_modes();
            throw;
        }
        tcsetattr(0, TCSAFLUSH, &saved);
        rt::forget_terminal_modes();
        // The line feed typed was not echoed either.
        rt::print_raw("\n", 1);
        rt::console_flush();
    } else {
        read = read_line_into(line);
    }
    return read;
}

}  // namespace kel::console
