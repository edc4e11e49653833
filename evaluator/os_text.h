// Text and file! values to and from what the operating system takes: UTF-8 bytes and paths.
#pragma once
#include <string>

#include "runtime/cell.h"

namespace kel::ev {

// The UTF-8 text of a string kind from its position.
std::string utf8_text(const Cell* value);
// Appends UTF-8 bytes to a string; ill-formed sequences become U+FFFD (text from outside
// is never refused whole for one bad byte).
void append_utf8_bytes(Cell* str, const std::string& bytes);
// Pushes a new string! (or another string kind) holding UTF-8 bytes decoded as above.
Cell* push_text_from_utf8(const std::string& bytes, u32 type = T_STRING);

// The OS path of a file! value (the file datatype's conversion); a name holding NUL raises
// access/cannot-open with the value.
std::string file_to_local_path(const Cell* file);
// Pushes a new file! holding an OS path (bytes that are no UTF-8 kept as raw bytes).
Cell* push_file_from_local(const std::string& path);

}  // namespace kel::ev
