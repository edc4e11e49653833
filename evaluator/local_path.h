// file! values to and from the paths the OS takes, for the process and clipboard services.
//
// REPLACE AFTER MERGE: the file! datatype brings the program's own conversion (to-local-file
// and its helpers); these two stand in for it until then and should call it instead.
#pragma once
#include <string>

#include "runtime/cell.h"

namespace kel::ev {

// The OS path of a file! (or any text) value from its position: its UTF-8 text with %XX
// escapes decoded. A path holding NUL would be cut short by the OS, so it raises
// access/cannot-open with the value.
std::string file_to_local_path(const Cell* file);

// Pushes a new file! holding an OS path (UTF-8, ill-formed bytes as U+FFFD).
Cell* push_file_from_local(const std::string& path);

}  // namespace kel::ev
