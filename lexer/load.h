// Loading source text: what the console, the boot sequence and tests call to turn UTF-8
// text into a block of values (words bound as the lexer binds them). Syntax errors are
// raised as error! values, as the lexer reports them.
#pragma once
#include <cstddef>

#include "runtime/cell.h"

namespace kel::lex {

// Scans all of `text` (UTF-8, `length` bytes) into a new block stored in `out`.
void load_utf8(const char* text, size_t length, Cell* out);

}  // namespace kel::lex
