// Fatal signals end the process as runtime errors, through the handlers that platform_start
// installs in `kel`: each child below starts the same way and then really faults.
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>

#include "runtime/console_out.h"
#include "runtime/fatal.h"
#include "runtime/platform.h"
#include "support.h"

namespace kel::rt {
namespace {

class SignalDeathTest : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

// What main does first; the report goes to standard error, where the death test reads it.
void start_like_kel() {
    static char name[] = "kel";
    static char* argv[] = {name, nullptr};
    set_console_output_fd(2);
    platform_start(1, argv);
}

void write_protected_page() {
    start_like_kel();
    void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    *static_cast<volatile int*>(page) = 1;
}

void write_unmapped_address() {
    start_like_kel();
    volatile uintptr_t unmapped = 16;
    *reinterpret_cast<volatile int*>(unmapped) = 1;
}

void divide_by_zero() {
    start_like_kel();
    // In assembly: the sanitizers would report a division by zero in C++ before it happens.
    asm volatile("xor %%ecx, %%ecx\n\tcltd\n\tidivl %%ecx" : : "a"(1) : "ecx", "edx");
}

void illegal_instruction() {
    start_like_kel();
    __builtin_trap();
}

void read_past_a_truncated_file() {
    start_like_kel();
    FILE* f = tmpfile();
    int fd = fileno(f);
    if (ftruncate(fd, 4096) != 0) return;
    auto* p = static_cast<volatile char*>(mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0));
    if (ftruncate(fd, 0) != 0) return;
    (void)p[0];
}

void interrupt() {
    start_like_kel();
    raise(SIGINT);
}

volatile bool g_deeper = true;

int recurse(int depth) {
    volatile char pad[512];
    pad[0] = char(depth);
    if (!g_deeper) return pad[0];
    return recurse(depth + 1) + pad[0];
}

void overflow_the_native_stack() {
    start_like_kel();
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 1 << 20);
    pthread_t t;
    pthread_create(
        &t, &attr,
        [](void*) -> void* {
            platform_thread_init();
            pthread_attr_t a;
            void* low;
            size_t size;
            pthread_getattr_np(pthread_self(), &a);
            pthread_attr_getstack(&a, &low, &size);
            set_native_stack_bounds(low, static_cast<char*>(low) + size);
            recurse(0);
            return nullptr;
        },
        nullptr);
    pthread_join(t, nullptr);
}

TEST_F(SignalDeathTest, FaultsBecomeRuntimeErrors) {
    EXPECT_EXIT(write_protected_page(), ::testing::ExitedWithCode(1), "^\n\\*\\*\\* Runtime Error 1: access violation\n\\*\\*\\* at: [0-9A-F]{8}h\n$");
    EXPECT_EXIT(write_unmapped_address(), ::testing::ExitedWithCode(32), "^\n\\*\\*\\* Runtime Error 32: segmentation fault\n");
    EXPECT_EXIT(divide_by_zero(), ::testing::ExitedWithCode(13), "^\n\\*\\*\\* Runtime Error 13: integer divide by zero\n");
    EXPECT_EXIT(illegal_instruction(), ::testing::ExitedWithCode(23), "^\n\\*\\*\\* Runtime Error 23: illegal operand\n");
    EXPECT_EXIT(read_past_a_truncated_file(), ::testing::ExitedWithCode(27),
                "^\n\\*\\*\\* Runtime Error 27: non-existent physical address\n");
}

TEST_F(SignalDeathTest, NativeStackOverflowIsStackError) {
    EXPECT_EXIT(overflow_the_native_stack(), ::testing::ExitedWithCode(19),
                "^\n\\*\\*\\* Runtime Error 19: stack error or overflow\n");
}

void fault_while_reporting() {
    start_like_kel();
    on_process_exit([] {
        void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        *static_cast<volatile int*>(page) = 1;
    });
    asm volatile("xor %%ecx, %%ecx\n\tcltd\n\tidivl %%ecx" : : "a"(1) : "ecx", "edx");
}

TEST_F(SignalDeathTest, AFaultDuringTheReportKeepsTheFirstNumber) {
    EXPECT_EXIT(fault_while_reporting(), ::testing::ExitedWithCode(13),
                "^\n\\*\\*\\* Runtime Error 13: integer divide by zero\n\\*\\*\\* at: [0-9A-F]{8}h\n$");
}

// An interrupt ends with 130, as a process stopped by SIGINT reports to the shell.
TEST_F(SignalDeathTest, InterruptEndsWith130) { EXPECT_EXIT(interrupt(), ::testing::ExitedWithCode(130), "^$"); }

TEST(SignalTest, NumbersBySignalAndCode) {
    struct Case {
        int signo, code;
        bool near_limit;
        i32 number;
    };
    for (Case c : {Case{SIGSEGV, SEGV_ACCERR, false, 1}, Case{SIGSEGV, SEGV_MAPERR, false, 32},
                   Case{SIGSEGV, SEGV_MAPERR, true, 19}, Case{SIGBUS, BUS_ADRALN, false, 2}, Case{SIGBUS, SI_USER, false, 34},
                   Case{SIGFPE, FPE_FLTDIV, false, 7}, Case{SIGFPE, FPE_INTOVF, false, 14}, Case{SIGFPE, SI_USER, false, 33},
                   Case{SIGILL, ILL_ILLOPC, false, 17}, Case{SIGILL, ILL_PRVOPC, false, 15}, Case{SIGTRAP, TRAP_BRKPT, false, 3},
                   Case{SIGTRAP, TRAP_TRACE, false, 4}, Case{SIGUSR1, 0, false, 99}})
        EXPECT_EQ(signal_error_number(c.signo, c.code, c.near_limit), c.number) << c.signo << "/" << c.code;
}

}  // namespace
}  // namespace kel::rt
