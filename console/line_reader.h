// Lines of redirected input: UTF-8 text read up to a line feed.
//
// Decoding never fails: a byte that cannot start or continue a well-formed sequence (and
// overlong forms, surrogates, code points above U+10FFFF, a sequence cut by the end of
// input) becomes U+FFFD and the line goes on. A carriage return is kept; the line feed is
// not. A last line without a line feed is still a line; only a read that finds no byte at
// all reports the end.
#pragma once
#include <cstddef>
#include <vector>

#include "runtime/types.h"

namespace kel::console {

// The code points of UTF-8 bytes, each ill-formed sequence replaced as a line is.
std::vector<u32> decode_utf8_lenient(const u8* bytes, size_t length);

class LineReader {
public:
    explicit LineReader(int fd) : fd_(fd) {}
    // Fills `line` with the code points of the next line. False at the end of input (or a
    // failed read) when no character was read; `line` is then empty.
    bool read_line(std::vector<u32>& line);
    // The same in pieces of at most `max` characters, so that a line of any length can go
    // straight to where it is kept: `*complete` tells whether the line feed (or the end)
    // was reached.
    bool read_line_part(std::vector<u32>& line, size_t max, bool* complete);
    // The next character, or -1 at the end of input.
    i32 read_char() {
        int b = next_byte();
        return b < 0 ? -1 : i32(decode(b));
    }
    // The run of ASCII bytes that comes next (taken from the input), empty when the next
    // byte is not ASCII or the input ended: bulk text skips decoding.
    size_t take_ascii(const u8** run);
    bool at_end() const { return ended_ && pos_ == len_; }
    // Whether the input ended by a failed read rather than its end.
    bool failed() const { return failed_; }

private:
    // The next byte, or -1 at the end of input.
    int next_byte();
    // Puts the byte just read back (one byte of look-back is all decoding needs).
    void unread() { --pos_; }
    u32 decode(int lead);

    int fd_;
    u8 buf_[65536];
    u32 pos_ = 0;
    u32 len_ = 0;
    bool ended_ = false;
    bool failed_ = false;
    bool in_line_ = false;  // a line was begun by an earlier part
};

}  // namespace kel::console
