// Platform start-up and process services.
#include "runtime/platform.h"

#include <signal.h>
#include <sys/random.h>
#include <termios.h>
#include <ucontext.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>

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

// Written before a change and read by signal handlers: plain storage and a flag.
termios g_saved_modes;
volatile sig_atomic_t g_saved_fd = -1;

}  // namespace

void remember_terminal_modes(int fd, const void* saved) {
    g_saved_fd = -1;
    std::memcpy(&g_saved_modes, saved, sizeof g_saved_modes);
    g_saved_fd = fd;
}

void forget_terminal_modes() { g_saved_fd = -1; }

void restore_terminal_modes() {
    int fd = g_saved_fd;
    if (fd >= 0) tcsetattr(fd, TCSANOW, &g_saved_modes);
}

namespace {

// A request to stop from outside. The terminal gets its modes back and pending output goes
// out; an interrupt ends with 130, as a process stopped by SIGINT reports to the shell;
// the others end by the signal itself, so the parent sees what stopped the process.
void on_stop_signal(int signo) {
    restore_terminal_modes();
    console_flush();
    if (signo == SIGINT) std::_Exit(128 + SIGINT);
    signal(signo, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signo);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    raise(signo);
    std::_Exit(128 + signo);
}

void on_fatal_signal(int signo, siginfo_t* info, void* context) {
    // A second signal while the first is being reported ends the process at once, with the
    // first one's number.
    static volatile sig_atomic_t first_number = -1;
    if (first_number >= 0) std::_Exit(first_number);
    const u8* fault = static_cast<const u8*>(info->si_addr);
    // A fault just below the evaluator's stack is the native stack running out.
    bool near_limit = g_native_stack_low && fault < g_native_stack_low && fault + 256 * 1024 >= g_native_stack_low;
    i32 number = signal_error_number(signo, info->si_code, near_limit);
    first_number = number;
    u64 address = reinterpret_cast<u64>(info->si_addr);
#if defined(__x86_64__)
    if (context) address = u64(static_cast<ucontext_t*>(context)->uc_mcontext.gregs[REG_RIP]);
#endif
    runtime_quit(number, address);
}

void install_signal_handlers() {
    struct sigaction sa {};
    sa.sa_sigaction = on_fatal_signal;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&sa.sa_mask);
    for (int s : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP}) sigaction(s, &sa, nullptr);

    struct sigaction stop {};
    stop.sa_handler = on_stop_signal;
    stop.sa_flags = SA_ONSTACK;
    sigemptyset(&stop.sa_mask);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaction(s, &stop, nullptr);

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

// ---- current directory ----------------------------------------------------------------

std::string get_current_dir_os() {
    std::string dir(256, '\0');
    for (;;) {
        if (getcwd(dir.data(), dir.size())) {
            dir.resize(std::strlen(dir.c_str()));
            return dir;
        }
        if (errno != ERANGE || dir.size() > (1u << 20)) return std::string();
        dir.resize(dir.size() * 2);
    }
}

bool set_current_dir_os(const std::string& path) {
    if (path.find('\0') != std::string::npos) return false;
    return chdir(path.c_str()) == 0;
}

// ---- environment ----------------------------------------------------------------------

namespace {
bool valid_env_name(const std::string& name) {
    return !name.empty() && name.find('=') == std::string::npos && name.find('\0') == std::string::npos;
}
}  // namespace

std::optional<std::string> get_env_os(const std::string& name) {
    if (!valid_env_name(name)) return std::nullopt;
    const char* v = std::getenv(name.c_str());
    if (!v) return std::nullopt;
    return std::string(v);
}

bool set_env_os(const std::string& name, const std::string* value) {
    if (!valid_env_name(name)) return false;
    if (!value) return unsetenv(name.c_str()) == 0;
    if (value->find('\0') != std::string::npos) return false;
    return setenv(name.c_str(), value->c_str(), 1) == 0;
}

std::vector<std::pair<std::string, std::string>> list_env_os() {
    std::vector<std::pair<std::string, std::string>> list;
    for (char** e = environ; e && *e; ++e) {
        const char* entry = *e;
        const char* eq = entry[0] ? std::strchr(entry + 1, '=') : nullptr;
        if (eq) list.emplace_back(std::string(entry, size_t(eq - entry)), std::string(eq + 1));
        else list.emplace_back(std::string(entry), std::string());
    }
    return list;
}

// ---- time -----------------------------------------------------------------------------

double sleep_milliseconds(double seconds) {
    double ms = seconds * 1000.0;
    if (!(ms >= 1.0)) return 1.0;  // NaN too
    return std::trunc(ms);
}

void os_sleep(double seconds) {
    double ms = sleep_milliseconds(seconds);
    // Pieces of at most a day: no conversion ever overflows, however long the wait.
    constexpr double PIECE_MS = 86400.0 * 1000.0;
    while (ms > 0) {
        double piece = ms < PIECE_MS ? ms : PIECE_MS;
        ms -= piece;
        timespec t{time_t(piece / 1000.0), long(std::fmod(piece, 1000.0) * 1e6)};
        while (nanosleep(&t, &t) != 0 && errno == EINTR) {
        }
    }
}

double get_utc_time(bool precise) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    i64 secs = i64(now.tv_sec) % 86400;
    if (secs < 0) secs += 86400;
    double t = double(secs);
    if (precise) t += double(now.tv_nsec) / 1e9;
    return t;
}

u32 pack_zone(i32 offset_minutes) {
    u32 magnitude = u32(offset_minutes < 0 ? -i64(offset_minutes) : offset_minutes);
    u32 hours = (magnitude / 60) & 0xF;
    u32 quarters = (magnitude % 60) / 15;
    // The sign comes from the whole offset, so -0:30 keeps it.
    return (offset_minutes < 0 ? 0x40u : 0u) | (hours << 2) | quarters;
}

u32 pack_date(i32 year, i32 month, i32 day, i32 offset_minutes) {
    return (u32(year) << 17) | (u32(month & 0x1F) << 12) | (u32(day & 0x1F) << 7) | pack_zone(offset_minutes);
}

ClockReading read_clock(bool utc) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    time_t secs = now.tv_sec;
    tm parts{};
    if (utc) gmtime_r(&secs, &parts);
    else localtime_r(&secs, &parts);
    ClockReading r;
    r.year = parts.tm_year + 1900;
    r.month = parts.tm_mon + 1;
    r.day = parts.tm_mday;
    r.seconds = parts.tm_hour * 3600.0 + parts.tm_min * 60.0 + parts.tm_sec + double(now.tv_nsec) / 1e9;
    r.offset_seconds = utc ? 0 : i32(parts.tm_gmtoff);
    return r;
}

u32 get_local_time(bool utc) {
    time_t now = time(nullptr);
    tm parts{};
    if (utc) {
        gmtime_r(&now, &parts);
        return pack_date(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, 0);
    }
    localtime_r(&now, &parts);
    return pack_date(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, i32(parts.tm_gmtoff / 60));
}

bool secure_random_bytes(void* out, size_t n) {
    auto* p = static_cast<u8*>(out);
    while (n > 0) {
        ssize_t got = getrandom(p, n, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += got;
        n -= size_t(got);
    }
    return true;
}

}  // namespace kel::rt
