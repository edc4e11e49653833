// url! and file!: strings that name resources. url! (parent string!) molds percent-encoded;
// file! (parent url!) molds as %name. Both extend by paths ("dir/" / 'x).
//
// A file! names an OS path on Linux with "/" kept as it is. A name byte that is not part of
// valid UTF-8 (a folder listing can hold such names) is kept as the code point
// U+DC00 + byte, so the same bytes reach the OS again.
//
// The I/O actions (read, write, query, delete, rename) of files and of HTTP urls belong to
// the host layer, which installs its handlers in g_resource_io; until then they are
// internal/not-done. A url of any other scheme is read, written and opened through a port!.
#pragma once
#include <string>
#include <vector>

#include "datatypes/registry.h"
#include "runtime/cell.h"

namespace kel::dt {

// ---- escapes ----------------------------------------------------------------------------

// The characters a url! or unquoted file! molds as they are (ASCII only).
bool url_safe_char(u32 cp);
// decode-percent-escapes: the text from the head with valid %XX escapes read as UTF-8 (a
// lead byte whose continuation escapes are missing keeps its "%" as text).
void decode_percent_escapes(const Cell* str, Cell* out);
// percent-encode-into: the string's UTF-8 bytes, each kept when in the table of the mode
// (254: unreserved set, otherwise the URL-safe set) or written as "%XX", appended to out.
void percent_encode_into(const Cell* str, i32 mode, Cell* out);

// ---- paths ------------------------------------------------------------------------------

// Raw file-name bytes as the code points a file! holds (see above).
void file_name_code_points(const char* bytes, size_t n, std::vector<u32>& out);
// The OS path of a file! (or any text) from its head: UTF-8, each U+DC80-U+DCFF as its
// byte. False when the name holds a NUL, which no OS path can carry.
bool file_os_path(const Cell* file, std::string& out);
// to-local-path: the OS form of the path appended to `out`; with `full` a relative path
// gets the current directory and "/" in front.
void to_local_path(const Cell* file, Cell* out, bool full);
// The process's current directory as a new string! on the stack, ending in "/".
Cell* current_dir_string();

// ---- host handlers ----------------------------------------------------------------------

struct ResourceIo {
    ReadFn file_read = nullptr;
    WriteFn file_write = nullptr;
    UnaryFn file_query = nullptr;
    UnaryFn file_delete = nullptr;
    RenameFn file_rename = nullptr;
    // HTTP and HTTPS urls; other schemes go through ports.
    ReadFn url_read = nullptr;
    WriteFn url_write = nullptr;
};
extern ResourceIo g_resource_io;

}  // namespace kel::dt
