// The size of a named file, for `size?`.
#pragma once
#include <cstdint>

namespace kel::host {

// The size in bytes of the file at `path` (UTF-8, as the OS takes it), opened for reading;
// -1 for a directory, a file that cannot be opened, or a path holding NUL.
int64_t file_size_of(const char* path, uint32_t length);

}  // namespace kel::host
