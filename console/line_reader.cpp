// Lines of redirected input.
#include "console/line_reader.h"

#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace kel::console {

namespace {

constexpr u32 REPLACEMENT = 0xFFFD;

// One character from its lead byte; `next` gives the following bytes (-1 at the end) and
// `unread` puts back a byte that does not continue the sequence, so one bad byte costs one
// U+FFFD and nothing after it.
template <class Next, class Unread>
u32 decode_char(int lead, Next&& next, Unread&& unread) {
    if (lead < 0x80) return u32(lead);
    u32 need;
    u32 cp;
    u32 min;
    if ((lead & 0xE0) == 0xC0) {
        need = 1, cp = lead & 0x1F, min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        need = 2, cp = lead & 0x0F, min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        need = 3, cp = lead & 0x07, min = 0x10000;
    } else {
        return REPLACEMENT;  // a continuation byte or 0xF8-0xFF
    }
    for (u32 i = 0; i < need; ++i) {
        int b = next();
        if (b < 0) return REPLACEMENT;
        if ((b & 0xC0) != 0x80) {
            unread();
            return REPLACEMENT;
        }
        cp = (cp << 6) | u32(b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return REPLACEMENT;
    return cp;
}

}  // namespace

std::vector<u32> decode_utf8_lenient(const u8* bytes, size_t length) {
    std::vector<u32> out;
    out.reserve(length);
    size_t i = 0;
    auto next = [&]() -> int { return i < length ? bytes[i++] : -1; };
    auto unread = [&] { --i; };
    while (i < length) out.push_back(decode_char(bytes[i++], next, unread));
    return out;
}

int LineReader::next_byte() {
    if (pos_ == len_) {
        if (ended_) return -1;
        ssize_t n;
        do {
            n = ::read(fd_, buf_, sizeof buf_);
        } while (n < 0 && errno == EINTR);
        if (n <= 0) {
            // End of input and a failed read end the input alike: nothing more will come.
            ended_ = true;
            failed_ = n < 0;
            pos_ = len_ = 0;
            return -1;
        }
        pos_ = 0;
        len_ = u32(n);
    }
    return buf_[pos_++];
}

u32 LineReader::decode(int lead) {
    return decode_char(lead, [this] { return next_byte(); }, [this] { unread(); });
}

size_t LineReader::take_ascii(const u8** run) {
    if (pos_ == len_) {
        if (next_byte() < 0) return 0;
        unread();
    }
    u32 start = pos_;
    while (pos_ < len_ && buf_[pos_] < 0x80) ++pos_;
    *run = buf_ + start;
    return pos_ - start;
}

bool LineReader::read_line(std::vector<u32>& line) {
    bool complete = false;
    return read_line_part(line, SIZE_MAX, &complete);
}

bool LineReader::read_line_part(std::vector<u32>& line, size_t max, bool* complete) {
    line.clear();
    bool any = in_line_;
    *complete = false;
    while (line.size() < max) {
        int b = next_byte();
        if (b < 0) break;
        any = true;
        if (b == '\n') {
            *complete = true;
            in_line_ = false;
            return true;
        }
        line.push_back(decode(b));
    }
    if (line.size() < max) {
        // The end of the input ends the line.
        *complete = true;
        in_line_ = false;
        return any;
    }
    in_line_ = true;
    return true;
}

}  // namespace kel::console
