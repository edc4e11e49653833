// The natives that reach the operating system's process services: the environment
// (set-env, get-env, list-env), `call` and `browse`.
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "evaluator/actions.h"
#include "evaluator/interpreter.h"
#include "evaluator/os_text.h"
#include "host/process.h"
#include "runtime/console_out.h"
#include "runtime/errors.h"
#include "runtime/platform.h"
#include "runtime/stack.h"
#include "runtime/symbols.h"
#include "runtime/unicode.h"

namespace kel::ev {

using namespace rt;
using namespace dt;

namespace {

// An environment variable's name: a word's spelling or a text's characters.
std::string variable_name(const Cell* v) {
    if (is_any_string_type(type_of(v))) return utf8_text(v);
    u32 sym = v->data2;
    return std::string(symbol_name(sym), symbol_name_length(sym));
}

// Puts a capture into its target: a string gets the decoded text at its tail, a binary the
// bytes at its position. An empty capture changes nothing.
void deliver_capture(Cell* target, const std::string& bytes) {
    if (bytes.empty()) return;
    if (type_of(target) == T_BINARY) {
        binary_insert_bytes(target, 0, bytes.data(), u32(bytes.size()));
    } else {
        append_utf8_bytes(target, bytes);
    }
}

// ---- the environment ------------------------------------------------------------------

// set-env: a none value removes the variable. A name or value the environment cannot hold
// (empty, "=" in the name, NUL) is refused rather than silently dropped.
Status set_env_native(bool, const i32*) {
    Cell* var = stack_arg(0);
    Cell* value = stack_arg(1);
    std::string name = variable_name(var);
    bool ok;
    if (type_of(value) == T_NONE) {
        ok = set_env_os(name, nullptr);
    } else {
        std::string text = utf8_text(value);
        ok = set_env_os(name, &text);
    }
    if (!ok) {
        bool bad_name = name.empty() || name.find_first_of(std::string("=\0", 2)) != std::string::npos;
        raise_error(Err::script_invalid_arg, bad_name ? var : value);
    }
    *stack_result() = *value;
    return 0;
}

Status get_env_native(bool, const i32*) {
    std::optional<std::string> value = get_env_os(variable_name(stack_arg(0)));
    if (!value) {
        set_cell(stack_result(), T_NONE);
        return 0;
    }
    *stack_result() = *push_text_from_utf8(*value);
    return 0;
}

Status list_env_native(bool, const i32*) {
    auto vars = list_env_os();
    Cell* block = push_new_block(u32(vars.size() * 2 < 100 ? 100 : vars.size() * 2));
    for (const auto& [name, value] : vars) {
        for (const std::string* text : {&name, &value}) {
            push_text_from_utf8(*text);
            append_top_to_block(block);
            stack_pop(1);
        }
    }
    Cell proto;
    set_cell(&proto, T_DATATYPE, T_MAP);
    Cell* map = handler<A_MAKE>(T_MAP)(&proto, block, T_MAP);
    *stack_result() = *map;
    return 0;
}

// ---- call -----------------------------------------------------------------------------

// Where a redirection refinement points the child's stream.
host::Stream redirection(const Cell* target, std::string* path) {
    if (type_of(target) == T_FILE) {
        *path = file_to_local_path(target);
        return host::Stream::file;
    }
    return host::Stream::memory;
}

Status call_native(bool, const i32* refs) {
    Cell* cmd = stack_arg(0);
    bool wait = refs[0] >= 0, console = refs[2] >= 0, shell = refs[3] >= 0;
    Cell* in = refinement_arg(refs, 4);
    Cell* out = refinement_arg(refs, 5);
    Cell* err = refinement_arg(refs, 6);
    if (string_length(cmd) == 0) {
        set_cell(stack_result(), T_INTEGER, 0, 0, 0);
        return 0;
    }
    host::ProcessRequest rq;
    if (type_of(cmd) == T_FILE) {
        std::string path = file_to_local_path(cmd);
        rq.argv = {path};
        rq.shell_fallback = host::shell_quote(path);
        rq.command = rq.shell_fallback;
    } else {
        rq.command = utf8_text(cmd);
        if (!shell) {
            rq.argv = host::split_command_line(rq.command);
            rq.shell_fallback = rq.command;
        }
    }
    // Only blanks: nothing to start but what the shell makes of it.
    rq.shell = shell || rq.argv.empty();

    host::Stream unredirected = console ? host::Stream::inherit : host::Stream::null_device;
    std::string input;
    rq.in = unredirected;
    if (in) {
        if (type_of(in) == T_FILE) {
            rq.in_path = file_to_local_path(in);
            rq.in = host::Stream::file;
        } else {
            if (type_of(in) == T_BINARY) {
                const u8* p = binary_head_ptr(in);
                input.assign(reinterpret_cast<const char*>(p), binary_length(in));
            } else {
                input = utf8_text(in);
            }
            rq.in = host::Stream::memory;
            rq.input = input;
        }
    }
    rq.out = out ? redirection(out, &rq.out_path) : unredirected;
    rq.err = err ? redirection(err, &rq.err_path) : unredirected;
    rq.wait = wait || console || in || out || err;

    // What the program printed so far comes before what the child prints.
    console_flush();
    host::ProcessResult r = host::run_process(rq);
    if (r.code >= 0) {
        if (out && rq.out == host::Stream::memory) deliver_capture(out, r.out);
        if (err && rq.err == host::Stream::memory) deliver_capture(err, r.err);
    }
    set_cell(stack_result(), T_INTEGER, 0, u32(i32(r.code)), 0);
    return 0;
}

// browse: the desktop's opener, started without a shell so that the text is one argument
// whatever it holds. An opener that cannot be started is an error, not a silent no-op.
Status browse_native(bool, const i32*) {
    Cell* target = stack_arg(0);
    std::string text = type_of(target) == T_FILE ? file_to_local_path(target) : utf8_text(target);
    if (text.find('\0') != std::string::npos) raise_error(Err::access_cannot_open, target);
    console_flush();
    if (!host::spawn_detached({"xdg-open", text})) raise_error(Err::access_cannot_open, target);
    set_cell(stack_result(), T_UNSET);
    return 0;
}

}  // namespace

KEL_NATIVE(93, set_env_native);
KEL_NATIVE(94, get_env_native);
KEL_NATIVE(95, list_env_native);
KEL_NATIVE(99, call_native);
KEL_NATIVE(102, browse_native);

}  // namespace kel::ev
