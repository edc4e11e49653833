// The lexer: UTF-8 source text to values.
//
// One table-driven state machine cuts the text into tokens; one scanner per token kind
// validates a token and, when loading, appends its value to the lexer's value buffer. Open
// blocks, parens, maps and paths sit on that buffer as marker cells, so nesting costs no
// C++ recursion. Runs nest (a trace callback may transcode): each run's state is chained
// after the running one and uses the value buffer above it; the collector marks every
// active run's cells.
#pragma once
#include "runtime/cell.h"
#include "runtime/types.h"

namespace kel::lex {

// Trace event bits.
constexpr u32 EV_PRESCAN = 1;
constexpr u32 EV_SCAN = 2;
constexpr u32 EV_LOAD = 4;
constexpr u32 EV_OPEN = 8;
constexpr u32 EV_CLOSE = 16;
constexpr u32 EV_ERROR = 32;
constexpr u32 EV_ALL = 63;

struct RunOptions {
    bool one = false;      // stop after the first complete value
    bool checked = true;   // false only for prescanning: token types are guessed, not validated
    bool load = true;      // build values (and raise syntax errors)
    bool wrap = false;     // a single value is answered inside a block
    const Cell* callback = nullptr;  // a function! to report events to, or null
    const Cell* source = nullptr;    // the string! or binary! scanned, handed to the callback
    Cell* into = nullptr;            // a block to append the values to, or null
};

// lexer-run: scans `length` bytes of UTF-8 from `input`. When loading, the values go to
// `into` (appended) or to `dest` (a new block; with `one` and not `wrap`, the first value
// itself). `consumed` receives the bytes used (characters when the source is a string!).
// Answers the datatype id of the last token (34 error! for an invalid one in the scanning
// modes; nothing is raised there), 0 when there was none.
u32 lexer_run(Cell* dest, const u8* input, u32 length, const RunOptions& options, u32* consumed);

// transcode-series: the same over a string! value's characters from its head (`length`
// characters, -1 for all of them).
u32 transcode_series(Cell* dest, const Cell* str, i32 length, const RunOptions& options, u32* consumed);

// lexer-events-mask: the events a callback wants. A body that starts with a block of event
// words selects those; anything else asks for all of them.
u32 lexer_events_mask(const Cell* callback);

// Whether a code point is one of the Unicode blanks that end a word.
bool is_unicode_blank(u32 cp);

}  // namespace kel::lex
