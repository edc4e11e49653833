// Routines of the library's first source: ending the process, the current directory, the
// command line and script text.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "console/line_reader.h"
#include "datatypes/block.h"
#include "datatypes/string.h"
#include "library/routines.h"
#include "runtime/console_out.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/platform.h"
#include "runtime/stack.h"
#include "runtime/system_record.h"
#include "runtime/unicode.h"

namespace kel::lib {

namespace {

constexpr const char* BASE_SOURCE = "library/base.kel";

std::string utf8_of(const Cell* str) {
    Cell copy = *str;
    i32 length = -1;
    const char* text = rt::string_to_utf8(&copy, &length);
    return std::string(text, size_t(length));
}

void set_string_from_utf8(Cell* out, const std::string& text) {
    std::vector<u32> cps = console::decode_utf8_lenient(reinterpret_cast<const u8*>(text.data()), text.size());
    *out = *dt::push_string_from(cps);
    rt::stack_pop(1);
}

// The OS keeps only the low byte of an exit code: a status outside 0-255 exits with 255,
// so that 256 never reads as success.
i64 quit_return(Cell* args) {
    i32 status = get_int(&args[0]);
    rt::console_flush();
    rt::process_exit(status >= 0 && status <= 255 ? status : 255);
}

// The process's current directory, with the trailing "/" of a folder.
i64 get_current_dir(Cell* args) {
    std::string dir = rt::get_current_dir_os();
    if (dir.empty() || dir.back() != '/') dir += '/';
    set_string_from_utf8(&args[0], dir);
    return 0;
}

i64 set_current_dir(Cell* args) {
    if (!rt::set_current_dir_os(utf8_of(&args[0]))) rt::raise_error(rt::Err::access_cannot_open, &args[0]);
    return 0;
}

// An argument as it stands in a command line: quoted when it holds blanks or is empty.
std::string quoted_argument(const char* arg) {
    std::string s(arg);
    if (!s.empty() && s.find_first_of(" \t") == std::string::npos) return s;
    return "\"" + s + "\"";
}

i64 command_line(Cell* args) {
    std::string line;
    for (i32 i = 0; i < rt::g_system.argc; ++i) {
        if (i) line += ' ';
        line += quoted_argument(rt::g_system.argv[i]);
    }
    set_string_from_utf8(&args[0], line);
    return 0;
}

// Every argument as a string, the program path first. The arguments come from the system
// as they were given, so a blank or a double quote inside one never splits it.
i64 command_args(Cell* args) {
    Cell* block = dt::push_new_block(rt::g_system.argc);
    for (i32 i = 0; i < rt::g_system.argc; ++i) {
        std::string arg = rt::g_system.argv[i];
        std::vector<u32> cps = console::decode_utf8_lenient(reinterpret_cast<const u8*>(arg.data()), arg.size());
        dt::push_string_from(cps);  // the slot just after the block's
        dt::append_top_to_block(block);
        rt::stack_pop(1);
    }
    args[0] = *block;
    rt::stack_pop(1);
    return 0;
}

// The text of a file, decoded from UTF-8 (an ill-formed sequence becomes U+FFFD); a file
// that cannot be read raises access/cannot-open with its name. The text goes straight into
// the string as it is read, so an endless file (/dev/zero) stops at the runtime's memory
// limit with its out-of-memory error.
i64 read_script(Cell* args) {
    std::string path = utf8_of(&args[0]);
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) rt::raise_error(rt::Err::access_cannot_open, &args[0]);
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    auto reader = std::make_unique<console::LineReader>(fd);
    Cell* text = dt::push_string(4096);
    for (;;) {
        const u8* run;
        if (size_t n = reader->take_ascii(&run)) {
            rt::SeriesBuffer* b = rt::buffer_of(series_node(text));
            if (b->unit() != 1) {
                for (size_t i = 0; i < n; ++i) dt::append_char(text, run[i]);
                continue;
            }
            b = dt::string_reserve(b, n);
            std::memcpy(rt::at(b->tail), run, n);
            b->tail += u32(n);
            continue;
        }
        i32 cp = reader->read_char();
        if (cp < 0) break;
        dt::append_char(text, u32(cp));
    }
    if (reader->failed()) rt::raise_error(rt::Err::access_cannot_open, &args[0]);
    args[0] = *text;
    rt::stack_pop(1);
    return 0;
}

const RoutineDef quit_return_def{
    BASE_SOURCE, "quit-return",
    "\"Stops evaluation and exits the program with a given status\" status [integer!] \"Process termination value to return\"",
    quit_return, RETURNS_NONE};
const RoutineDef get_current_dir_def{BASE_SOURCE, "get-current-dir",
                                     "\"Returns the platform's current directory for the process\"",
                                     get_current_dir, RETURNS_NONE};
const RoutineDef set_current_dir_def{BASE_SOURCE, "set-current-dir",
                                     "\"Sets the platform's current process directory\" path [file! string!]",
                                     set_current_dir, RETURNS_NONE};
const RoutineDef command_line_def{BASE_SOURCE, "_command-line", "\"Internal Use Only\"", command_line,
                                  RETURNS_NONE};
const RoutineDef command_args_def{BASE_SOURCE, "_command-args", "\"Internal Use Only\"", command_args,
                                  RETURNS_NONE};
const RoutineDef read_script_def{BASE_SOURCE, "_read-script", "\"Internal Use Only\" path [file! string!]",
                                 read_script, RETURNS_NONE};

KEL_ROUTINE(quit_return_def);
KEL_ROUTINE(get_current_dir_def);
KEL_ROUTINE(set_current_dir_def);
KEL_ROUTINE(command_line_def);
KEL_ROUTINE(command_args_def);
KEL_ROUTINE(read_script_def);

}  // namespace

}  // namespace kel::lib
