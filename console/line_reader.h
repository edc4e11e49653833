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
    bool at_end() const { return ended_ && pos_ == len_; }

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
};

}  // namespace kel::console
