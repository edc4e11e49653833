// Console output and print hooks.
#include "runtime/console_out.h"

#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "runtime/fatal.h"
#include "runtime/memory.h"
#include "runtime/platform.h"
#include "runtime/unicode.h"

namespace kel::rt {

namespace {

void no_mode_change() {}

// One buffer for every print. A character is at most 4 bytes, so encoding one more after
// the flush mark always fits.
constexpr u32 OUT_FLUSH_AT = 1020;
u8 g_out[1024 + 8];
u32 g_out_pos = 0;
char g_number[64];

int g_fd = STDOUT_FILENO;
bool g_is_terminal = false;

// Output that cannot be written ends the process, so that lost text never looks like
// success. A reader that went away (EPIPE) ends it quietly by SIGPIPE, as other
// command-line tools end; any other failure (ENOSPC, EIO) says so in one line on standard
// error and exits with 1.
[[noreturn]] void output_failed(int error) {
    g_out_pos = 0;
    restore_terminal_modes();
    if (error == EPIPE) {
        signal(SIGPIPE, SIG_DFL);
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGPIPE);
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
        raise(SIGPIPE);
        std::_Exit(128 + SIGPIPE);
    }
    char line[160];
    int n = std::snprintf(line, sizeof line, "*** Output error: %s\n", std::strerror(error));
    if (n > 0 && ::write(STDERR_FILENO, line, size_t(n) < sizeof line ? size_t(n) : sizeof line - 1) < 0) {
        // Nowhere left to say it: the exit code still tells.
    }
    std::_Exit(1);
}

// Writes everything; a failure ends the process (output_failed).
void write_all(const u8* p, size_t n) {
    while (n > 0) {
        ssize_t w = ::write(g_fd, p, n);
        if (w > 0) {
            p += w;
            n -= size_t(w);
            continue;
        }
        if (w < 0 && errno == EINTR) continue;
        if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // A non-blocking output inherited from the parent: wait until it drains.
            pollfd pf{g_fd, POLLOUT, 0};
            if (poll(&pf, 1, -1) < 0 && errno != EINTR) output_failed(errno);
            continue;
        }
        output_failed(w < 0 ? errno : EIO);
    }
}

void flush_out() {
    if (g_out_pos == 0) return;
    write_all(g_out, g_out_pos);
    g_out_pos = 0;
}

void emit_bytes(const void* bytes, size_t n) {
    const u8* p = static_cast<const u8*>(bytes);
    if (n > sizeof g_out - g_out_pos) {
        flush_out();
        if (n > OUT_FLUSH_AT) {
            write_all(p, n);
            return;
        }
    }
    std::memcpy(g_out + g_out_pos, p, n);
    g_out_pos += u32(n);
    if (g_out_pos > OUT_FLUSH_AT) flush_out();
}

inline void emit_char(u32 cp) {
    if (cp < 0x80) g_out[g_out_pos++] = u8(cp);
    else g_out_pos += utf8_encode_char(cp, g_out + g_out_pos);
    if (g_out_pos > OUT_FLUSH_AT) flush_out();
}

void emit_c_string(const char* s) {
    size_t n = std::strlen(s);
    emit_bytes(s, n);
    print_hooks_call3(s, i32(n), 0);
}

template <class... Args>
void emit_number(const char* format, Args... args) {
    int n = std::snprintf(g_number, sizeof g_number, format, args...);
    if (n < 0) return;
    if (n >= int(sizeof g_number)) n = int(sizeof g_number) - 1;
    emit_bytes(g_number, size_t(n));
    print_hooks_call3(g_number, n, 0);
}

void emit_item(const PrintItem& item) {
    switch (item.kind) {
        case PrintItem::LOGIC: emit_c_string(item.word ? "true" : "false"); break;
        case PrintItem::INTEGER: emit_number("%i", item.integer); break;
        case PrintItem::BYTE: {
            char text[2] = {char(item.word), 0};
            emit_bytes(text, 1);
            print_hooks_call3(text, 1, 0);
            break;
        }
        case PrintItem::FLOAT32: emit_number("%.7g", double(item.f32)); break;
        case PrintItem::FLOAT64: emit_number("%.16g", item.f64); break;
        case PrintItem::TEXT: emit_c_string(item.text ? item.text : ""); break;
        default: emit_number("%08X", item.word); break;
    }
}

void emit_items(std::initializer_list<PrintItem> items) {
    for (const PrintItem& item : items) emit_item(item);
}

// Leaves the GUI's console mode for the length of a print, also when the print raises.
struct PrintScope {
    PrintScope() { g_tui_leave_mode(); }
    ~PrintScope() {
        flush_out();
        std::fflush(nullptr);
        g_tui_enter_mode();
    }
};

// ESC "[?" not followed by a digit asks for the screen-buffer report; "ESC[?25l" and the
// other private modes go to the terminal unchanged.
bool is_report_request(const u8* text, u32 unit, u32 i, u32 n) {
    if (i + 2 >= n) return false;
    if (unit_char_at(text, unit, i + 1) != '[' || unit_char_at(text, unit, i + 2) != '?') return false;
    if (i + 3 >= n) return true;
    u32 next = unit_char_at(text, unit, i + 3);
    return next < '0' || next > '9';
}

void screen_buffer_report() {
    winsize ws{};
    i32 width = 0, height = 0;
    if (ioctl(g_fd, TIOCGWINSZ, &ws) == 0) {
        width = ws.ws_col;
        height = ws.ws_row;
    }
    i32 column = 0, row = 0;
    if (!g_console_cursor_hook || !g_console_cursor_hook(&column, &row)) column = row = 0;
    // The terminal keeps its own colours: report the console's default attribute.
    constexpr u32 DEFAULT_ATTRIBUTE = 0x07;
    emit_items({"Screen buffer info:\n"});
    emit_items({"   size______ ", width, "x", height, "\n"});
    emit_items({"   cursor____ ", column, "x", row, "\n"});
    emit_items({"   attribute_ ", PrintItem::hex(DEFAULT_ATTRIBUTE), " ", PrintItem::hex(DEFAULT_ATTRIBUTE), "\n"});
    emit_items({"   left______ ", 0, " top: ", 0, "\n"});
    emit_items({"   right_____ ", width > 0 ? width - 1 : 0, " bottom: ", height > 0 ? height - 1 : 0, "\n"});
    emit_items({"   max_______ ", width, "x", height, "\n"});
}

// ---- print hooks ----------------------------------------------------------------------

constexpr i32 HOOKS_GROWTH = 5;

template <class Hook>
struct HookList {
    Hook* items = nullptr;
    i32 count = 0;
    i32 capacity = 0;

    void init() {
        items = static_cast<Hook*>(heap_allocate(i32(sizeof(Hook)) * HOOKS_GROWTH));
        count = 0;
        capacity = HOOKS_GROWTH;
    }
    void add(Hook h) {
        if (count == capacity) {
            auto* grown = static_cast<Hook*>(heap_allocate(i32(sizeof(Hook)) * (capacity + HOOKS_GROWTH)));
            if (count) std::memcpy(grown, items, sizeof(Hook) * size_t(count));
            heap_free(items);
            items = grown;
            capacity += HOOKS_GROWTH;
        }
        items[count++] = h;
    }
    void remove(Hook h) {
        for (i32 i = 0; i < count; ++i) {
            if (items[i] != h) continue;
            std::memmove(items + i, items + i + 1, sizeof(Hook) * size_t(count - i - 1));
            --count;
            return;
        }
    }
};

HookList<StringHook> g_string_hooks;
HookList<RawHook> g_raw_hooks;

}  // namespace

void (*g_tui_leave_mode)() = no_mode_change;
void (*g_tui_enter_mode)() = no_mode_change;
void (*g_tui_process_pending)() = no_mode_change;
bool (*g_console_cursor_hook)(i32* column, i32* row) = nullptr;

void console_output_init() { g_is_terminal = isatty(g_fd) == 1; }
bool output_is_terminal() { return g_is_terminal; }

int set_console_output_fd(int fd) {
    flush_out();
    int old = g_fd;
    g_fd = fd;
    g_is_terminal = isatty(fd) == 1;
    return old;
}

void console_flush() { flush_out(); }

// ---- low-level printers ---------------------------------------------------------------

void print_raw(const char* bytes, size_t n) {
    emit_bytes(bytes, n);
    flush_out();
}

void print_c_string(const char* s) {
    size_t n = std::strlen(s);
    emit_bytes(s, n);
    flush_out();
    print_hooks_call3(s, i32(n), 0);
}

void print_c_line(const char* s) {
    print_c_string(s);
    print_char('\n');
}

void print_char(char byte) {
    char text[2] = {byte, 0};
    print_c_string(text);
}

void print_integer(i32 n) {
    emit_number("%i", n);
    flush_out();
}
void print_hex32(u32 n) {
    emit_number("%08X", n);
    flush_out();
}
void print_hex_byte(u8 n) {
    emit_number("%02X", unsigned(n));
    flush_out();
}
void print_float64(double d) {
    emit_number("%.16g", d);
    flush_out();
}
void print_float32(float f) {
    emit_number("%.7g", double(f));
    flush_out();
}

void print_text(const u8* text, u32 bytes, u32 unit, bool newline) {
    if (unit != 1 && unit != 2 && unit != 4) fatal_no_switch();
    u32 n = bytes >> unit_shift(unit);
    // UCS-4 text was never scanned for escape sequences.
    bool scan = g_is_terminal && unit != 4;
    for (u32 i = 0; i < n; ++i) {
        u32 cp = unit_char_at(text, unit, i);
        if (cp == 27 && scan && is_report_request(text, unit, i, n)) {
            screen_buffer_report();
            i += 2;
            continue;
        }
        emit_char(cp);
    }
    if (newline) emit_char('\n');
    flush_out();
}

void print_typed_values(std::initializer_list<PrintItem> items) {
    PrintScope scope;
    emit_items(items);
}

void print_values_line(std::initializer_list<PrintItem> items) {
    PrintScope scope;
    emit_items(items);
    emit_item(PrintItem('\n'));
}

// ---- print hooks ----------------------------------------------------------------------

void print_hooks_init() {
    g_string_hooks.init();
    g_raw_hooks.init();
    g_string_hooks.add(console_print_string);
}

void print_hooks_add(StringHook s, RawHook r) {
    if (s) g_string_hooks.add(s);
    if (r) g_raw_hooks.add(r);
}

void print_hooks_remove(StringHook s, RawHook r) {
    if (s) g_string_hooks.remove(s);
    if (r) g_raw_hooks.remove(r);
}

void print_hooks_call(const Cell* str, bool newline) {
    // By index: a hook may add or remove hooks.
    for (i32 i = 0; i < g_string_hooks.count; ++i) g_string_hooks.items[i](str, newline);
}

void print_hooks_call3(const char* text, i32 length, i32 flag) {
    for (i32 i = 0; i < g_raw_hooks.count; ++i) g_raw_hooks.items[i](text, length, flag);
}

void console_print_string(const Cell* str, bool newline) {
    PrintScope scope;
    SeriesBuffer* b = buffer_of(series_node(str));
    u32 unit = b->unit();
    if (unit != 1 && unit != 2 && unit != 4) {
        emit_items({"Error: unknown string encoding: ", unit, "\n"});
        return;
    }
    u32 total = (b->tail - b->offset) >> unit_shift(unit);
    i32 head = series_head(str);
    u32 h = head < 0 ? 0 : (u32(head) > total ? total : u32(head));
    print_text(at(b->offset) + size_t(h) * unit, (total - h) * unit, unit, newline);
}

}  // namespace kel::rt
