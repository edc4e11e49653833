// Lines of redirected input: UTF-8 decoding that never fails, the line feed as the only
// separator, and a last line without a line feed.
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "console/line_reader.h"

namespace {

using kel::u32;
using kel::u8;
using Lines = std::vector<std::vector<u32>>;

// Every line the reader gives for `input`, written into a pipe by another thread (so that
// inputs larger than the pipe's buffer work).
Lines read_all(const std::string& input) {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    std::thread writer([&] {
        size_t done = 0;
        while (done < input.size()) {
            ssize_t n = write(fds[1], input.data() + done, input.size() - done);
            if (n <= 0) break;
            done += size_t(n);
        }
        close(fds[1]);
    });
    kel::console::LineReader reader(fds[0]);
    Lines lines;
    std::vector<u32> line;
    while (reader.read_line(line)) lines.push_back(line);
    EXPECT_TRUE(line.empty());
    // The end stays the end.
    EXPECT_FALSE(reader.read_line(line));
    EXPECT_TRUE(reader.at_end());
    writer.join();
    close(fds[0]);
    return lines;
}

std::vector<u32> cps(std::initializer_list<u32> list) { return list; }
std::vector<u32> ascii(const char* s) {
    std::vector<u32> out;
    for (; *s; ++s) out.push_back(u32(u8(*s)));
    return out;
}

constexpr u32 FFFD = 0xFFFD;

struct Case {
    const char* name;
    std::string input;
    Lines expected;
};

TEST(ConsoleLineReaderTest, SplitsAndDecodesLines) {
    const Case cases[] = {
        {"empty input has no line", "", {}},
        {"lines end at line feeds", "1 + 1\nprint 2\n", {ascii("1 + 1"), ascii("print 2")}},
        {"a last line without a line feed is a line", "a\nb", {ascii("a"), ascii("b")}},
        {"empty lines are lines", "\n\n", {{}, {}}},
        {"a carriage return is kept", "x\r\n", {cps({'x', '\r'})}},
        {"multibyte characters", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\n", {cps({0xE9, 0x20AC, 0x1F600})}},
        {"an invalid byte is replaced and the line goes on", "a\xFF" "b\n", {cps({'a', FFFD, 'b'})}},
        {"a stray continuation byte", "\x80z\n", {cps({FFFD, 'z'})}},
        {"a cut sequence keeps the byte that cut it", "\xC3z\n", {cps({FFFD, 'z'})}},
        {"a sequence cut by a line feed does not swallow it", "\xE2\x82\nq\n", {cps({FFFD}), ascii("q")}},
        {"a sequence cut by the end of input", "ok\n\xF0\x9F", {ascii("ok"), cps({FFFD})}},
        {"overlong forms are refused", "\xC0\xAF\xE0\x80\xAF\n", {cps({FFFD, FFFD})}},
        {"surrogates are refused", "\xED\xA0\x80\n", {cps({FFFD})}},
        {"code points above U+10FFFF are refused", "\xF4\x90\x80\x80\n", {cps({FFFD})}},
    };
    for (const Case& c : cases) EXPECT_EQ(read_all(c.input), c.expected) << c.name;
}

TEST(ConsoleLineReaderTest, LinesLongerThanTheReadBuffer) {
    // A character split across two reads of the buffer, and a line longer than it.
    std::string big(65535, 'a');
    big += "\xC3\xA9";
    big += std::string(70000, 'b');
    big += "\nend";
    Lines lines = read_all(big);
    ASSERT_EQ(lines.size(), 2u);
    ASSERT_EQ(lines[0].size(), 65535u + 1 + 70000u);
    EXPECT_EQ(lines[0][65535], 0xE9u);
    EXPECT_EQ(lines[0].back(), u32('b'));
    EXPECT_EQ(lines[1], ascii("end"));
}

// A line of any length comes in pieces of a bounded size, each ending where the next
// begins; the last piece of each line says so.
TEST(ConsoleLineReaderTest, LongLinesComeInBoundedPieces) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const std::string input = std::string(25, 'x') + "\n\nab";
    ASSERT_EQ(write(fds[1], input.data(), input.size()), ssize_t(input.size()));
    close(fds[1]);
    kel::console::LineReader reader(fds[0]);
    std::vector<u32> piece;
    bool complete = true;
    struct Want {
        size_t size;
        bool complete;
    };
    for (Want w : {Want{10, false}, Want{10, false}, Want{5, true}, Want{0, true}, Want{2, true}}) {
        ASSERT_TRUE(reader.read_line_part(piece, 10, &complete));
        EXPECT_EQ(piece.size(), w.size);
        EXPECT_EQ(complete, w.complete);
    }
    EXPECT_FALSE(reader.read_line_part(piece, 10, &complete));
    close(fds[0]);
}

TEST(ConsoleLineReaderTest, LenientDecodingOfBytes) {
    const std::string bytes = "A\xC3\xA9\xFF\xE2\x82";
    auto out = kel::console::decode_utf8_lenient(reinterpret_cast<const kel::u8*>(bytes.data()), bytes.size());
    EXPECT_EQ(out, cps({'A', 0xE9, FFFD, FFFD}));
}

}  // namespace
