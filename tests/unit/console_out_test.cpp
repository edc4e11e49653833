// Console output: UTF-8 with LF through pipes, sockets and terminals; print hooks; typed
// print lists.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "output_capture.h"
#include "runtime/console_out.h"
#include "support.h"
#include "text_support.h"

namespace kel::rt {
namespace {

using test::OutputCapture;
using test::push_text;

class ConsoleOutTest : public test::RuntimeTest {};

std::string print_string(const Cell* str, bool newline) {
    OutputCapture out;
    console_print_string(str, newline);
    return out.finish();
}

TEST_F(ConsoleOutTest, EveryUnitWidthIsWrittenAsUtf8) {
    EXPECT_EQ(print_string(push_text(1, U"caf\u00E9"), true), "caf\xC3\xA9\n");
    EXPECT_EQ(print_string(push_text(2, U"\u20AC 5"), false), "\xE2\x82\xAC 5");
    EXPECT_EQ(print_string(push_text(4, U"a\U0001F600"), true), "a\xF0\x9F\x98\x80\n");
    // Line feeds inside the text stay single LFs.
    EXPECT_EQ(print_string(push_text(1, U"x\ny"), true), "x\ny\n");
}

TEST_F(ConsoleOutTest, TextRunsFromTheHeadToTheTail) {
    Cell* s = push_text(2, U"abcdef");
    s->data1 = 4;
    EXPECT_EQ(print_string(s, false), "ef");
    s->data1 = 9;  // beyond the tail after the series shrank
    EXPECT_EQ(print_string(s, true), "\n");
}

TEST_F(ConsoleOutTest, EscapeSequencesPassUnchanged) {
    std::u32string text = U"\x1B[31mred\x1B[0m \x1B[?x \x1B[2J\x1B";
    std::string expected = "\x1B[31mred\x1B[0m \x1B[?x \x1B[2J\x1B";
    for (u32 unit : {1u, 2u, 4u}) EXPECT_EQ(print_string(push_text(unit, text), false), expected) << unit;
}

TEST_F(ConsoleOutTest, LongTextCrossesTheBufferIntact) {
    // Characters of 1 to 4 bytes, so that some straddle each point where the buffer is written.
    std::u32string text;
    std::string expected;
    for (int i = 0; i < 3000; ++i) {
        text += U"a\u00E9\u20AC\U0001F600";
        expected += "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
    }
    EXPECT_EQ(print_string(push_text(4, text), true), expected + "\n");
}

TEST_F(ConsoleOutTest, UnknownUnitWidthIsReported) {
    Cell* s = push_text(1, U"abc");
    SeriesBuffer* b = buffer_of(series_node(s));
    b->flags = (b->flags & ~SB_UNIT_MASK) | 3;
    EXPECT_EQ(print_string(s, true), "Error: unknown string encoding: 3\n");
}

std::string g_log;

void log_raw(const char* text, i32 n, i32 flag) {
    g_log.append(text, size_t(n));
    if (flag != 0) g_log += "<flag>";
}
void log_leave() { g_log += "<leave>"; }
void log_enter() { g_log += "<enter>"; }
void no_mode() {}

TEST_F(ConsoleOutTest, GuiModeIsLeftAroundPrints) {
    g_tui_leave_mode = log_leave;
    g_tui_enter_mode = log_enter;
    g_log.clear();
    print_hooks_add(nullptr, log_raw);
    {
        OutputCapture out;
        console_print_string(push_text(1, U"text"), false);
        print_values({"a", 1});
        print_c_string("b");
        EXPECT_EQ(out.finish(), "texta1b");
    }
    print_hooks_remove(nullptr, log_raw);
    g_tui_leave_mode = g_tui_enter_mode = no_mode;
    // The string printer does not call the raw hooks; the typed print does, item by item.
    EXPECT_EQ(g_log, "<leave><enter><leave>a1<enter>b");
}

TEST_F(ConsoleOutTest, RawHooksSeeEveryLowLevelPrint) {
    g_log.clear();
    print_hooks_add(nullptr, log_raw);
    {
        OutputCapture out;
        print_integer(-42);
        print_c_line("line");
        print_hex_byte(0x0A);
        EXPECT_EQ(out.finish(), "-42line\n0A");
    }
    print_hooks_remove(nullptr, log_raw);
    print_integer(7);  // removed: no longer called
    EXPECT_EQ(g_log, "-42line\n0A");
}

std::vector<int> g_calls;
template <int N>
void string_hook(const Cell*, bool newline) {
    g_calls.push_back(newline ? -N : N);
}

TEST_F(ConsoleOutTest, StringHooksGrowAndKeepTheirOrder) {
    // The console printer is the one hook after start-up; six more make the list grow.
    StringHook hooks[] = {string_hook<1>, string_hook<2>, string_hook<3>, string_hook<4>, string_hook<5>, string_hook<6>};
    for (StringHook h : hooks) print_hooks_add(h, nullptr);
    g_calls.clear();
    Cell* s = push_text(1, U"hi");
    {
        OutputCapture out;
        print_hooks_call(s, true);
        EXPECT_EQ(out.finish(), "hi\n");
    }
    EXPECT_EQ(g_calls, (std::vector<int>{-1, -2, -3, -4, -5, -6}));

    print_hooks_remove(string_hook<3>, nullptr);
    print_hooks_remove(string_hook<3>, nullptr);  // not there any more: ignored
    print_hooks_remove(console_print_string, nullptr);
    g_calls.clear();
    {
        OutputCapture out;
        print_hooks_call(s, false);
        EXPECT_EQ(out.finish(), "");
    }
    EXPECT_EQ(g_calls, (std::vector<int>{1, 2, 4, 5, 6}));

    for (StringHook h : hooks) print_hooks_remove(h, nullptr);
    print_hooks_add(console_print_string, nullptr);
    g_calls.clear();
    OutputCapture out;
    print_hooks_call(s, false);
    EXPECT_EQ(out.finish(), "hi");
    EXPECT_TRUE(g_calls.empty());
}

TEST_F(ConsoleOutTest, TypedValues) {
    OutputCapture out;
    print_values({true, false, -5, 'x', 1.5f, 0.1, "txt", PrintItem::hex(0xBEEF), u32(4000000000u)});
    print_values_line({1.0 / 3, ' ', 1.0f / 3});
    print_float64(1e300);
    print_hex32(0xFFFFFFFF);
    EXPECT_EQ(out.finish(), "truefalse-5x1.50.1txt0000BEEF-294967296"
                            "0.3333333333333333 0.3333333\n"
                            "1e+300FFFFFFFF");
}

// A reader that takes its time, on a socket whose writer end does not block: the writes
// come back short or with EAGAIN, and nothing may be lost.
TEST_F(ConsoleOutTest, PartialWritesLoseNothing) {
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    int small = 4096;
    setsockopt(sv[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    setsockopt(sv[1], SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    fcntl(sv[0], F_SETFL, fcntl(sv[0], F_GETFL) | O_NONBLOCK);
    std::string received;
    std::thread reader([&] {
        char buf[700];
        ssize_t n;
        while ((n = read(sv[1], buf, sizeof buf)) > 0) {
            received.append(buf, size_t(n));
            usleep(200);
        }
    });
    std::u32string text;
    std::string expected;
    for (int i = 0; i < 20000; ++i) {
        char32_t c = U"0123456789\u00E9"[i % 11];
        text += c;
        expected += c == U'\u00E9' ? "\xC3\xA9" : std::string(1, char(c));
    }
    int old = set_console_output_fd(sv[0]);
    console_print_string(push_text(1, text), true);
    print_raw(expected.data(), expected.size());  // also larger than the buffer at once
    set_console_output_fd(old);
    close(sv[0]);
    reader.join();
    close(sv[1]);
    EXPECT_EQ(received.size(), 2 * expected.size() + 1);
    EXPECT_EQ(received, expected + "\n" + expected);
}

// Output that cannot be written ends the process: lost text must not look like success.
void print_to_closed_pipe() {
    signal(SIGPIPE, SIG_IGN);  // as platform_start does
    int fds[2];
    if (pipe(fds) != 0) return;
    close(fds[0]);
    set_console_output_fd(fds[1]);
    print_values_line({"nobody reads this ", 1});
}

void print_to_full_device() {
    int fd = open("/dev/full", O_WRONLY);
    if (fd < 0) return;
    set_console_output_fd(fd);
    print_c_string("no room for this");
}

TEST(ConsoleOutDeathTest, OutputThatCannotBeWrittenEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // A reader that went away: quietly, by the signal other tools end by.
    EXPECT_EXIT(print_to_closed_pipe(), ::testing::KilledBySignal(SIGPIPE), "^$");
    EXPECT_EXIT(print_to_full_device(), ::testing::ExitedWithCode(1),
                "^\\*\\*\\* Output error: No space left on device\n$");
}

// A terminal: a pseudo-terminal in raw mode (no LF to CR LF translation) of 100 x 30.
class TerminalTest : public test::RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master_, 0);
        ASSERT_EQ(grantpt(master_), 0);
        ASSERT_EQ(unlockpt(master_), 0);
        slave_ = open(ptsname(master_), O_RDWR | O_NOCTTY);
        ASSERT_GE(slave_, 0);
        termios t{};
        tcgetattr(slave_, &t);
        cfmakeraw(&t);
        tcsetattr(slave_, TCSANOW, &t);
        winsize ws{};
        ws.ws_col = 100;
        ws.ws_row = 30;
        ioctl(master_, TIOCSWINSZ, &ws);
        old_fd_ = set_console_output_fd(slave_);
    }
    void TearDown() override {
        set_console_output_fd(old_fd_);
        g_console_cursor_hook = nullptr;
        close(slave_);
        close(master_);
    }
    std::string read_all() {
        std::string out;
        char buf[1024];
        pollfd pf{master_, POLLIN, 0};
        while (poll(&pf, 1, 100) > 0) {
            ssize_t n = read(master_, buf, sizeof buf);
            if (n <= 0) break;
            out.append(buf, size_t(n));
        }
        return out;
    }
    int master_ = -1, slave_ = -1, old_fd_ = 1;
};

constexpr const char* REPORT_100x30 =
    "Screen buffer info:\n"
    "   size______ 100x30\n"
    "   cursor____ 0x0\n"
    "   attribute_ 00000007 00000007\n"
    "   left______ 0 top: 0\n"
    "   right_____ 99 bottom: 29\n"
    "   max_______ 100x30\n";

TEST_F(TerminalTest, ScreenBufferReportOnlyForABareQuestionMark) {
    EXPECT_TRUE(output_is_terminal());
    console_print_string(push_text(1, U"A\x1B[?B\x1B[?25l\x1B[?"), true);
    EXPECT_EQ(read_all(), std::string("A") + REPORT_100x30 + "B\x1B[?25l" + REPORT_100x30 + "\n");
    // UCS-4 text is never scanned for it.
    console_print_string(push_text(4, U"\x1B[?x"), false);
    EXPECT_EQ(read_all(), "\x1B[?x");
}

TEST_F(TerminalTest, ReportShowsTheCursorWhenTheTerminalLayerKnowsIt) {
    g_console_cursor_hook = [](i32* column, i32* row) {
        *column = 12;
        *row = 5;
        return true;
    };
    console_print_string(push_text(2, U"\x1B[?"), false);
    EXPECT_NE(read_all().find("   cursor____ 12x5\n"), std::string::npos);
}

}  // namespace
}  // namespace kel::rt
