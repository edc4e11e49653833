// Platform start-up and process services.
#include "runtime/platform.h"

#include <signal.h>
#include <ucontext.h>
#include <unistd.h>

#include <cstring>

#include "runtime/console_out.h"
#include "runtime/fatal.h"
#include "runtime/system_record.h"

namespace kel::rt {

const u8* g_native_stack_low = nullptr;
const u8* g_native_stack_high = nullptr;

void set_native_stack_bounds(const void* low, const void* high) {
    g_native_stack_low = static_cast<const u8*>(low);
    g_native_stack_high = static_cast<const u8*>(high);
}

i32 signal_error_number(int signo, int code, bool near_stack_limit) {
    switch (signo) {
        case SIGINT: return 0;
        case SIGSEGV:
            if (near_stack_limit) return 19;  // stack error or overflow
            return code == SEGV_ACCERR ? 1 : 32;
        case SIGBUS:
            switch (code) {
                case BUS_ADRALN: return 2;
                case BUS_ADRERR: return 27;
                case BUS_OBJERR: return 28;
#ifdef BUS_MCEERR_AR
                case BUS_MCEERR_AR: return 29;
                case BUS_MCEERR_AO: return 30;
#endif
                default: return 34;
            }
        case SIGFPE:
            switch (code) {
                case FPE_INTDIV: return 13;
                case FPE_INTOVF: return 14;
                case FPE_FLTDIV: return 7;
                case FPE_FLTOVF: return 10;
                case FPE_FLTUND: return 12;
                case FPE_FLTRES: return 8;
                case FPE_FLTINV: return 9;
                case FPE_FLTSUB: return 5;
                default: return 33;
            }
        case SIGILL:
            switch (code) {
                case ILL_ILLOPC: return 17;
                case ILL_ILLOPN: return 23;
                case ILL_ILLADR: return 24;
                case ILL_ILLTRP: return 25;
                case ILL_PRVOPC: return 15;
                case ILL_PRVREG: return 31;
                case ILL_COPROC: return 26;
                case ILL_BADSTK: return 19;
                default: return 17;
            }
        case SIGTRAP: return code == TRAP_TRACE ? 4 : 3;
        default: return 99;
    }
}

namespace {

void on_fatal_signal(int signo, siginfo_t* info, void* context) {
    const u8* fault = static_cast<const u8*>(info->si_addr);
    // A fault just below the evaluator's stack is the native stack running out.
    bool near_limit = g_native_stack_low && fault < g_native_stack_low && fault + 256 * 1024 >= g_native_stack_low;
    i32 number = signal_error_number(signo, info->si_code, near_limit);
    u64 address = reinterpret_cast<u64>(info->si_addr);
#if defined(__x86_64__)
    if (context && signo != SIGINT) address = u64(static_cast<ucontext_t*>(context)->uc_mcontext.gregs[REG_RIP]);
#endif
    runtime_quit(number, address);
}

void install_signal_handlers() {
    struct sigaction sa {};
    sa.sa_sigaction = on_fatal_signal;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&sa.sa_mask);
    for (int s : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGINT}) sigaction(s, &sa, nullptr);

    // A closed pipe must not kill the process: writes then fail with EPIPE.
    signal(SIGPIPE, SIG_IGN);
}

void load_command_line_args(int argc, char** argv) {
    char** list = static_cast<char**>(heap_allocate(i32(sizeof(char*)) * (argc + 1)));
    for (int i = 0; i < argc; ++i) {
        size_t n = std::strlen(argv[i]) + 1;
        list[i] = static_cast<char*>(heap_allocate(i32(n)));
        std::memcpy(list[i], argv[i], n);
    }
    list[argc] = nullptr;
    g_system.argc = argc;
    g_system.argv = list;
}

}  // namespace

void platform_thread_init() {
    // Each thread needs its own alternate stack, so that a native stack overflow is reported.
    static thread_local u8 alt_stack[64 * 1024];
    stack_t ss{};
    ss.ss_sp = alt_stack;
    ss.ss_size = sizeof alt_stack;
    sigaltstack(&ss, nullptr);
}

void platform_thread_exit() {
    // Leave no alternate stack behind: a sanitizer runtime would try to unmap it as its own.
    stack_t ss{};
    ss.ss_flags = SS_DISABLE;
    sigaltstack(&ss, nullptr);
}

void platform_start(int argc, char** argv) {
    platform_thread_init();
    install_signal_handlers();
    load_command_line_args(argc, argv);
}

void platform_init() { console_output_init(); }

}  // namespace kel::rt
