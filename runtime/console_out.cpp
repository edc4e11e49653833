// Console output and print hooks.
#include "runtime/console_out.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kel::rt {

namespace {
bool g_is_terminal = false;
}

void console_output_init() { g_is_terminal = isatty(STDOUT_FILENO) == 1; }
bool output_is_terminal() { return g_is_terminal; }

void print_raw(const char* bytes, size_t n) {
    while (n > 0) {
        ssize_t w = ::write(STDOUT_FILENO, bytes, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return;
        }
        bytes += w;
        n -= size_t(w);
    }
}

void print_c_string(const char* s) { print_raw(s, std::strlen(s)); }
void print_c_line(const char* s) {
    print_c_string(s);
    print_raw("\n", 1);
}
void console_flush() {}

void print_hooks_init() {}
void print_hooks_add(StringHook, RawHook) {}
void print_hooks_remove(StringHook, RawHook) {}
void print_hooks_call(const Cell*, bool) {}
void print_hooks_call3(const char*, i32, i32) {}
void console_print_string(const Cell*, bool) {}

}  // namespace kel::rt
