// Fatal runtime errors, process exit and the heap block list.
#include <cstring>
#include <regex>

#include "output_capture.h"
#include "runtime/console_out.h"
#include "runtime/exits.h"
#include "runtime/fatal.h"
#include "runtime/system_record.h"
#include "support.h"

namespace kel::rt {
namespace {

// The heap wrappers on a list of their own: the runtime's blocks stay untouched.
class HeapTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = g_system.heap;
        g_system.heap = HeapBlockList{};
    }
    void TearDown() override {
        heap_free_all();
        g_system.heap = saved_;
    }
    static HeapBlockHeader* header(void* block) {
        return reinterpret_cast<HeapBlockHeader*>(static_cast<u8*>(block) - HEAP_HEADER_SIZE);
    }
    // The requested sizes from first to last, checking the links both ways.
    static std::vector<i32> sizes() {
        std::vector<i32> out;
        HeapBlockHeader* prev = nullptr;
        for (HeapBlockHeader* h = g_system.heap.first; h; h = h->next) {
            EXPECT_EQ(h->prev, prev);
            out.push_back(h->size);
            prev = h;
        }
        EXPECT_EQ(g_system.heap.last, prev);
        return out;
    }

private:
    HeapBlockList saved_;
};

using Sizes = std::vector<i32>;

TEST_F(HeapTest, BlocksAreAppendedAndUnlinkedFromAnyPlace) {
    void* a = heap_allocate(10);
    void* b = heap_allocate(20);
    void* c = heap_allocate(30);
    void* d = heap_allocate(40);
    EXPECT_EQ(sizes(), (Sizes{10, 20, 30, 40}));
    heap_free(b);  // middle
    EXPECT_EQ(sizes(), (Sizes{10, 30, 40}));
    heap_free(a);  // first
    EXPECT_EQ(sizes(), (Sizes{30, 40}));
    heap_free(d);  // last
    EXPECT_EQ(sizes(), (Sizes{30}));
    heap_free(c);  // the only one
    EXPECT_EQ(g_system.heap.first, nullptr);
    EXPECT_EQ(g_system.heap.last, nullptr);
}

TEST_F(HeapTest, FreeIgnoresWhatIsNotInTheList) {
    heap_allocate(8);
    char outside[64] = {};
    heap_free(outside + 32);
    heap_free(nullptr);
    EXPECT_EQ(sizes(), (Sizes{8}));
}

TEST_F(HeapTest, ZeroedAllocation) {
    auto* p = static_cast<u8*>(heap_allocate_zeroed(100));
    for (int i = 0; i < 100; ++i) ASSERT_EQ(p[i], 0) << i;
}

TEST_F(HeapTest, ResizeOfNullAllocatesAndResizeToZeroFrees) {
    void* a = heap_allocate(4);
    void* b = heap_resize(nullptr, 12);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(sizes(), (Sizes{4, 12}));
    EXPECT_EQ(heap_resize(a, 0), nullptr);
    EXPECT_EQ(sizes(), (Sizes{12}));
    EXPECT_EQ(heap_resize(b, 0), nullptr);
    EXPECT_EQ(g_system.heap.first, nullptr);
    EXPECT_EQ(g_system.heap.last, nullptr);
}

TEST_F(HeapTest, ResizeKeepsThePlaceAndTheContents) {
    void* a = heap_allocate(16);
    auto* b = static_cast<u8*>(heap_allocate(16));
    void* c = heap_allocate(16);
    std::memcpy(b, "0123456789abcdef", 16);
    // Large enough that the block moves.
    auto* moved = static_cast<u8*>(heap_resize(b, 1 << 20));
    EXPECT_EQ(std::memcmp(moved, "0123456789abcdef", 16), 0);
    EXPECT_EQ(sizes(), (Sizes{16, 1 << 20, 16}));
    EXPECT_EQ(header(a)->next, header(moved));
    EXPECT_EQ(header(c)->prev, header(moved));
    // The ends of the list follow a moved first or last block too.
    void* first = heap_resize(a, 1 << 20);
    void* last = heap_resize(c, 1 << 20);
    EXPECT_EQ(g_system.heap.first, header(first));
    EXPECT_EQ(g_system.heap.last, header(last));
    EXPECT_EQ(sizes(), (Sizes{1 << 20, 1 << 20, 1 << 20}));
}

TEST_F(HeapTest, StatisticsReport) {
    {
        test::OutputCapture out;
        heap_dump_stats();
        EXPECT_EQ(out.finish(), "-- Heap-allocations --\nAsked   Real\n-- Sum: 0 --\n");
    }
    heap_allocate(10);
    heap_allocate(20);
    test::OutputCapture out;
    heap_dump_stats();
    EXPECT_EQ(out.finish(), "-- Heap-allocations --\nAsked   Real\n10\t42\n20\t52\n-- Sum: 94 --\n");
}

TEST(FatalTest, RoundUpTo) {
    EXPECT_EQ(round_up_to(17, 16), 32);
    EXPECT_EQ(round_up_to(16, 16), 16);
    EXPECT_EQ(round_up_to(0, 16), 0);
    EXPECT_EQ(round_up_to(1, 4096), 4096);
}

TEST(FatalTest, MessagesAtTheEdgesOfTheTable) {
    struct Case {
        i32 number;
        const char* message;
    };
    for (Case c : {Case{1, "access violation"}, Case{6, "float denormal operan"}, Case{22, "invalid handle"},
                   Case{23, "illegal operand"}, Case{34, "Bus error"}, Case{35, "unknown error code!"},
                   Case{93, "unknown error code!"}, Case{94, "out of memory"}, Case{95, "no CATCH for THROW"},
                   Case{96, "unknown error code!"}, Case{98, "assertion failed"}, Case{99, "unknown error"},
                   Case{100, "no value matched in CASE"}, Case{101, "no value matched in SWITCH"},
                   Case{102, "unknown error code!"}, Case{-1, "unknown error code!"}})
        EXPECT_STREQ(runtime_error_message(c.number), c.message) << c.number;
}

TEST(FatalTest, BuildDateShape) {
    EXPECT_TRUE(std::regex_match(build_date(), std::regex("[0-9]{1,2}-[A-Z][a-z][a-z]-[0-9]{4}/[0-9]{2}:[0-9]{2}:[0-9]{2}")))
        << build_date();
}

// The reports go to standard error in these children, where the death test reads them.
void quit_on_stderr(i32 number, u64 address) {
    set_console_output_fd(2);
    runtime_quit(number, address);
}

class FatalDeathTest : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(FatalDeathTest, RuntimeQuitReportsAndExitsWithTheNumber) {
    EXPECT_EXIT(quit_on_stderr(94, 0x1000), ::testing::ExitedWithCode(94),
                "^\n\\*\\*\\* Runtime Error 94: out of memory\n\\*\\*\\* at: 00001000h\n$");
    EXPECT_EXIT(quit_on_stderr(7, 0xDEADBEEF), ::testing::ExitedWithCode(7),
                "^\n\\*\\*\\* Runtime Error 7: float divide by zero\n\\*\\*\\* at: DEADBEEFh\n$");
    EXPECT_EXIT(quit_on_stderr(50, 0), ::testing::ExitedWithCode(50),
                "^\n\\*\\*\\* Runtime Error 50: unknown error code!\n\\*\\*\\* at: 00000000h\n$");
    EXPECT_EXIT(quit_on_stderr(0, 0x1234), ::testing::ExitedWithCode(0), "^$");
}

TEST_F(FatalDeathTest, UncaughtSystemThrow) {
    auto uncaught = [](u32 code) {
        set_console_output_fd(2);
        on_uncaught_throw(code);
    };
    EXPECT_EXIT(uncaught(CODE_QUIT), ::testing::ExitedWithCode(0), "^$");
    EXPECT_EXIT(uncaught(CODE_BREAK), ::testing::ExitedWithCode(95), "^\n\\*\\*\\* Runtime Error 95: no CATCH for THROW\n");
}

TEST_F(FatalDeathTest, ImpossibleBranches) {
    auto no_case = [] {
        set_console_output_fd(2);
        fatal_no_case();
    };
    auto no_switch = [] {
        set_console_output_fd(2);
        fatal_no_switch();
    };
    EXPECT_EXIT(no_case(), ::testing::ExitedWithCode(100), "Runtime Error 100: no value matched in CASE\n");
    EXPECT_EXIT(no_switch(), ::testing::ExitedWithCode(101), "Runtime Error 101: no value matched in SWITCH\n");
}

TEST_F(FatalDeathTest, ExitHandlersRunLastFirstBeforeTheExit) {
    auto run = [] {
        set_console_output_fd(2);
        on_process_exit([] { print_c_string("first"); });
        on_process_exit([] { print_c_string("second "); });
        process_exit(3);
    };
    EXPECT_EXIT(run(), ::testing::ExitedWithCode(3), "^second first$");
}

}  // namespace
}  // namespace kel::rt
