// Program entry: the evaluator runs on a thread of its own with a 1 GiB stack (less where
// the address space is limited, and under AddressSanitizer), so that deep language
// recursion meets the runtime's own limits long before the native stack's.
//
// Exit codes: 0 when the console's launch returns (a script ran, or input ended); the
// status given to quit; 1 for a script that failed; -2 for an error nothing caught; the
// runtime error number for a fatal error (95 for an exit that nothing caught).
#include <pthread.h>

#include <cstdio>
#include <new>

#include "console/boot.h"
#include "runtime/console_out.h"
#include "runtime/exits.h"
#include "runtime/fatal.h"
#include "runtime/platform.h"

namespace {

// Under AddressSanitizer a smaller stack: it cannot clean more than 64 MiB of stack that an
// error unwinds, and reports false errors afterwards.
#if defined(__SANITIZE_ADDRESS__)
constexpr size_t EVALUATOR_STACK = size_t(56) << 20;
#else
constexpr size_t EVALUATOR_STACK = size_t(1) << 30;
#endif
// Below this the evaluator cannot do useful work.
constexpr size_t SMALLEST_STACK = size_t(8) << 20;

// The top-level catch: every systems-level throw that reaches it ends here. Errors print
// themselves and end the process where they are raised with no try to catch them.
int program_main() {
    try {
        kel::console::boot_library();
        kel::console::launch_console();
    } catch (kel::rt::SystemThrow& t) {
        kel::rt::console_flush();
        kel::rt::on_uncaught_throw(t.code);
    } catch (std::bad_alloc&) {
        // The C++ library's own allocations ran out: the same fatal error as the heap's.
        kel::rt::runtime_quit(94, 0);
    }
    kel::rt::console_flush();
    return 0;
}

void* evaluator_thread(void* result) {
    kel::rt::platform_thread_init();
    pthread_attr_t attr;
    void* addr = nullptr;
    size_t size = 0;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
        pthread_attr_getstack(&attr, &addr, &size);
        pthread_attr_destroy(&attr);
        kel::rt::set_native_stack_bounds(addr, static_cast<char*>(addr) + size);
    }
    *static_cast<int*>(result) = program_main();
    kel::rt::platform_thread_exit();
    return nullptr;
}

}  // namespace

// The evaluator's thread with the largest stack the address space allows (halving from
// EVALUATOR_STACK): its stack is mapped whole when the thread is made, so the stack checks
// rest on a stack that really exists. Where none can be had the process says so and ends.
int main(int argc, char** argv) {
    kel::rt::platform_start(argc, argv);
    int result = 0;
    pthread_t thread;
    bool started = false;
    for (size_t size = EVALUATOR_STACK; !started && size >= SMALLEST_STACK; size /= 2) {
        pthread_attr_t attr;
        pthread_attr_init(&attr);
        pthread_attr_setstacksize(&attr, size);
        started = pthread_create(&thread, &attr, evaluator_thread, &result) == 0;
        pthread_attr_destroy(&attr);
    }
    if (!started) {
        std::fputs("*** Error: no room for the evaluator's stack\n", stderr);
        kel::rt::process_exit(1);
    }
    pthread_join(thread, nullptr);
    kel::rt::process_exit(result);
}
