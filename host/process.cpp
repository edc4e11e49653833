// Child processes over posix_spawn, pipes and poll.
#include "host/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <new>

extern char** environ;

namespace kel::host {

namespace {

// Children started without waiting, collected once they end so that none stays a zombie.
std::vector<pid_t> g_unwaited;

struct Fd {
    int fd = -1;
    Fd() = default;
    explicit Fd(int f) : fd(f) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }
    void reset() {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    int release() {
        int f = fd;
        fd = -1;
        return f;
    }
};

bool make_pipe(Fd& read_end, Fd& write_end) {
    int p[2];
    if (::pipe2(p, O_CLOEXEC) != 0) return false;
    read_end.fd = p[0];
    write_end.fd = p[1];
    // Bigger pipes mean fewer wake-ups for large transfers; the default size still works.
    ::fcntl(p[0], F_SETPIPE_SZ, 1 << 20);
    return true;
}

int open_retrying(const char* path, int flags, mode_t mode = 0) {
    int fd;
    do fd = ::open(path, flags | O_CLOEXEC, mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

// A folder opens for reading but gives no bytes: as input it is refused like a missing file.
bool is_folder(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
}

// The runtime ignores SIGPIPE, so a child that stops reading makes write fail with EPIPE
// instead of ending the program; make sure of it for callers that start elsewhere.
void ignore_sigpipe() {
    struct sigaction old {};
    if (::sigaction(SIGPIPE, nullptr, &old) == 0 && old.sa_handler == SIG_DFL) ::signal(SIGPIPE, SIG_IGN);
}

struct SpawnSetup {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    SpawnSetup() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attr);
        // The child starts with every signal at its default (an ignored SIGPIPE would
        // otherwise pass on through exec) and none blocked.
        sigset_t all, none;
        sigfillset(&all);
        sigemptyset(&none);
        posix_spawnattr_setsigdefault(&attr, &all);
        posix_spawnattr_setsigmask(&attr, &none);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);
    }
    void redirect(int from, int to) { posix_spawn_file_actions_adddup2(&actions, from, to); }
    void close_rest() { posix_spawn_file_actions_addclosefrom_np(&actions, 3); }
};

std::vector<char*> argv_pointers(const std::vector<std::string>& argv) {
    std::vector<char*> out;
    out.reserve(argv.size() + 1);
    for (const std::string& a : argv) out.push_back(const_cast<char*>(a.c_str()));
    out.push_back(nullptr);
    return out;
}

int spawn_shell(pid_t* pid, SpawnSetup& setup, const std::string& command) {
    std::vector<std::string> argv{"sh", "-c", command};
    std::vector<char*> p = argv_pointers(argv);
    return posix_spawn(pid, "/bin/sh", &setup.actions, &setup.attr, p.data(), environ);
}

i64 wait_exit_code(pid_t pid) {
    int status = 0;
    pid_t r;
    do r = ::waitpid(pid, &status, 0);
    while (r < 0 && errno == EINTR);
    if (r < 0) return -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

// What a child writes to a captured stream, in a buffer grown by realloc: a large block
// grows in place or by remapping its pages, where a string would zero the new space and
// copy the old at every doubling (a fifth of a 100 MB capture's cost).
struct Capture {
    char* data = nullptr;
    size_t len = 0, cap = 0;
    Capture() = default;
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;
    ~Capture() { std::free(data); }
    // Room for at least 64 KiB more; false when memory is short.
    bool make_room() {
        if (cap - len >= 65536) return true;
        size_t want = std::max<size_t>(cap * 2, len + (1 << 20));
        void* p = std::realloc(data, want);
        if (!p) return false;
        data = static_cast<char*>(p);
        cap = want;
        return true;
    }
};

// Feeds `input` to `in` and drains `out` and `err` into their strings, all at once, until
// every pipe is closed. A child that stops reading its input ends the feeding (EPIPE).
void exchange(Fd& in, std::string_view input, Fd& out, std::string& out_text, Fd& err, std::string& err_text) {
    for (Fd* f : {&in, &out, &err})
        if (f->fd >= 0) ::fcntl(f->fd, F_SETFL, ::fcntl(f->fd, F_GETFL) | O_NONBLOCK);
    size_t sent = 0;
    if (in.fd >= 0 && input.empty()) in.reset();
    Capture out_bytes, err_bytes;
    auto drain = [](Fd& f, Capture& c) {
        for (;;) {
            if (!c.make_room()) throw std::bad_alloc();
            ssize_t n = ::read(f.fd, c.data + c.len, c.cap - c.len);
            if (n > 0) {
                c.len += size_t(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno == EAGAIN) return;
            f.reset();  // end of the stream, or a failure: either way nothing more comes
            return;
        }
    };
    while (in.fd >= 0 || out.fd >= 0 || err.fd >= 0) {
        pollfd fds[3];
        Fd* owners[3];
        nfds_t n = 0;
        if (in.fd >= 0) { fds[n] = {in.fd, POLLOUT, 0}; owners[n++] = &in; }
        if (out.fd >= 0) { fds[n] = {out.fd, POLLIN, 0}; owners[n++] = &out; }
        if (err.fd >= 0) { fds[n] = {err.fd, POLLIN, 0}; owners[n++] = &err; }
        int ready = ::poll(fds, n, -1);
        if (ready < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (nfds_t i = 0; i < n; ++i) {
            if (!fds[i].revents) continue;
            Fd* f = owners[i];
            if (f == &in) {
                while (sent < input.size()) {
                    ssize_t w = ::write(in.fd, input.data() + sent, std::min<size_t>(input.size() - sent, 1 << 20));
                    if (w > 0) {
                        sent += size_t(w);
                        continue;
                    }
                    if (w < 0 && errno == EINTR) continue;
                    if (w < 0 && errno == EAGAIN) break;
                    sent = input.size();  // EPIPE: the child closed its input
                }
                if (sent >= input.size()) in.reset();
            } else if (f == &out) {
                drain(out, out_bytes);
            } else {
                drain(err, err_bytes);
            }
        }
    }
    in.reset();
    out.reset();
    err.reset();
    out_text.assign(out_bytes.data ? out_bytes.data : "", out_bytes.len);
    err_text.assign(err_bytes.data ? err_bytes.data : "", err_bytes.len);
}

}  // namespace

void reap_finished_children() {
    std::erase_if(g_unwaited, [](pid_t pid) {
        int status;
        pid_t r = ::waitpid(pid, &status, WNOHANG);
        return r == pid || (r < 0 && errno == ECHILD);
    });
}

ProcessResult run_process(const ProcessRequest& rq) {
    ProcessResult result;
    reap_finished_children();
    ignore_sigpipe();

    Fd null_device(open_retrying("/dev/null", O_RDWR));
    Fd child_in, child_out, child_err;     // the child's ends, closed once it runs
    Fd parent_in, parent_out, parent_err;  // ours
    switch (rq.in) {
        case Stream::file:
            child_in.fd = open_retrying(rq.in_path.c_str(), O_RDONLY);
            if (child_in.fd < 0 || is_folder(child_in.fd)) return result;
            break;
        case Stream::memory:
            if (!make_pipe(child_in, parent_in)) return result;
            break;
        default: break;
    }
    auto target = [&](Stream kind, const std::string& path, Fd& child, Fd& parent) {
        if (kind == Stream::file) {
            child.fd = open_retrying(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0666);
            return child.fd >= 0;
        }
        if (kind == Stream::memory) return make_pipe(parent, child);
        return true;
    };
    if (!target(rq.out, rq.out_path, child_out, parent_out)) return result;
    if (!target(rq.err, rq.err_path, child_err, parent_err)) return result;

    SpawnSetup setup;
    auto route = [&](Stream kind, const Fd& child, int to) {
        if (kind == Stream::inherit) return;
        int from = kind == Stream::null_device ? null_device.fd : child.fd;
        if (from >= 0) setup.redirect(from, to);
    };
    route(rq.in, child_in, 0);
    route(rq.out, child_out, 1);
    route(rq.err, child_err, 2);
    setup.close_rest();

    pid_t pid = -1;
    int rc;
    if (rq.shell) {
        rc = spawn_shell(&pid, setup, rq.command);
        result.shell_used = true;
    } else {
        if (rq.argv.empty()) return result;
        std::vector<char*> p = argv_pointers(rq.argv);
        rc = posix_spawnp(&pid, p[0], &setup.actions, &setup.attr, p.data(), environ);
        if (rc == ENOENT && !rq.shell_fallback.empty()) {
            rc = spawn_shell(&pid, setup, rq.shell_fallback);
            result.shell_used = true;
        }
    }
    child_in.reset();
    child_out.reset();
    child_err.reset();
    null_device.reset();
    if (rc != 0) return result;

    if (!rq.wait) {
        g_unwaited.push_back(pid);
        result.code = pid;
        return result;
    }
    exchange(parent_in, rq.input, parent_out, result.out, parent_err, result.err);
    result.code = wait_exit_code(pid);
    return result;
}

bool spawn_detached(const std::vector<std::string>& argv) {
    ProcessRequest rq;
    rq.argv = argv;
    return run_process(rq).code > 0;
}

std::vector<std::string> split_command_line(std::string_view text) {
    std::vector<std::string> out;
    std::string arg;
    bool in_arg = false;
    char quote = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (quote) {
            if (c == quote) {
                quote = 0;
            } else if (c == '\\' && quote == '"' && i + 1 < text.size()) {
                arg += text[++i];
            } else {
                arg += c;
            }
            continue;
        }
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            if (in_arg) out.push_back(std::move(arg));
            arg.clear();
            in_arg = false;
            continue;
        }
        in_arg = true;
        if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '\\' && i + 1 < text.size()) {
            arg += text[++i];
        } else {
            arg += c;
        }
    }
    if (in_arg) out.push_back(std::move(arg));
    return out;
}

std::string shell_quote(std::string_view text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') out += "'\\''";
        else out += c;
    }
    out += '\'';
    return out;
}

}  // namespace kel::host
