// Captures what the console output writes, through a real pipe read by a thread of its own
// (so that output larger than the pipe never blocks the writer).
#pragma once
#include <unistd.h>

#include <string>
#include <thread>

#include "runtime/console_out.h"

namespace kel::test {

class OutputCapture {
public:
    OutputCapture() {
        int fds[2];
        if (pipe(fds) != 0) return;
        read_fd_ = fds[0];
        write_fd_ = fds[1];
        old_fd_ = rt::set_console_output_fd(write_fd_);
        reader_ = std::thread([this] {
            char buf[4096];
            ssize_t n;
            while ((n = read(read_fd_, buf, sizeof buf)) > 0) text_.append(buf, size_t(n));
        });
    }
    ~OutputCapture() { finish(); }

    // Stops capturing and answers everything written.
    const std::string& finish() {
        if (write_fd_ >= 0) {
            rt::set_console_output_fd(old_fd_);
            close(write_fd_);
            write_fd_ = -1;
            reader_.join();
            close(read_fd_);
        }
        return text_;
    }

private:
    int read_fd_ = -1, write_fd_ = -1, old_fd_ = 1;
    std::thread reader_;
    std::string text_;
};

}  // namespace kel::test
