// Child processes: what `call` and `browse` start.
//
// A child's standard streams are each one of: the null device, the program's own stream,
// bytes fed from memory or captured into memory, or a file (read from, or appended to).
// Fed input and both captures travel together through one poll loop, so a child that
// writes much before it reads everything never blocks on a pipe nobody empties.
//
// Text crossing this layer is UTF-8 bytes; nothing here knows Kel values.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "runtime/types.h"

namespace kel::host {

enum class Stream { null_device, inherit, memory, file };

struct ProcessRequest {
    // The program and its arguments (searched on PATH), or with `shell` the command text
    // that `/bin/sh -c` runs.
    std::vector<std::string> argv;
    std::string command;
    bool shell = false;
    // The command text run by the shell when the program cannot be found (empty: no
    // second try).
    std::string shell_fallback;
    bool wait = false;
    Stream in = Stream::null_device, out = Stream::null_device, err = Stream::null_device;
    std::string_view input;  // Stream::memory input
    std::string in_path, out_path, err_path;  // Stream::file
};

struct ProcessResult {
    // The exit code (128 + the signal for a child killed by one) when waited for, the
    // process id otherwise; -1 when the child could not be started or a file could not be
    // opened.
    i64 code = -1;
    bool shell_used = false;
    std::string out, err;  // Stream::memory captures
};

ProcessResult run_process(const ProcessRequest& request);

// A command line split into arguments: blanks separate them outside quotes; "..." and
// '...' group (the quotes are dropped); outside single quotes a backslash takes the next
// character as it is.
std::vector<std::string> split_command_line(std::string_view text);

// A text quoted for /bin/sh as one word.
std::string shell_quote(std::string_view text);

// Starts a program with every stream on the null device and does not wait: the child is
// reaped later. False when it could not be started.
bool spawn_detached(const std::vector<std::string>& argv);

// Collects children started without waiting that have ended since (never blocks).
void reap_finished_children();

}  // namespace kel::host
