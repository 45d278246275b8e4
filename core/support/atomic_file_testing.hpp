#pragma once
// For tests: a writer in another process caught in the middle of writing a
// file, to be killed there, as a crash or a SIGKILL would catch it.
// Header-only; never linked into the programs.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace cadrio::test_support {

namespace detail {
inline int stoppedWriterPipe = -1;  // the child's end, set in the child only

inline void parkAtFileSizeLimit(int) {
    const char stopped = 's';
    [[maybe_unused]] const ssize_t ignored = ::write(stoppedWriterPipe, &stopped, 1);
    for (;;) ::pause();  // until SIGKILL
}
}  // namespace detail

// Forks a child that runs `write` with its file size limit at `stopAt`
// bytes: its first write past that point parks it for good, inside the
// write, its descriptors open and its locks held. The constructor returns
// once the child is parked, or has ended without reaching the limit (then
// stopped() is false); kill() or the destructor kill it with SIGKILL.
// Call only while the test process runs one thread.
class WriterStoppedMidWrite {
public:
    explicit WriterStoppedMidWrite(const std::function<void()>& write, rlim_t stopAt = 4096) {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) return;
        child_ = ::fork();
        if (child_ == 0) {
            ::close(ends[0]);
            detail::stoppedWriterPipe = ends[1];
            struct sigaction action {};
            action.sa_handler = &detail::parkAtFileSizeLimit;
            ::sigaction(SIGXFSZ, &action, nullptr);
            const rlimit limit{stopAt, stopAt};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            try {
                write();
            } catch (...) {
            }
            ::_exit(1);
        }
        ::close(ends[1]);
        // Bounded only so that a child that hangs elsewhere fails the test.
        pollfd ready{ends[0], POLLIN, 0};
        char stopped = 0;
        stopped_ = child_ > 0 && ::poll(&ready, 1, 30000) == 1 && ::read(ends[0], &stopped, 1) == 1;
        ::close(ends[0]);
    }
    WriterStoppedMidWrite(const WriterStoppedMidWrite&) = delete;
    WriterStoppedMidWrite& operator=(const WriterStoppedMidWrite&) = delete;
    ~WriterStoppedMidWrite() { kill(); }

    bool stopped() const { return stopped_; }

    void kill() {
        if (child_ <= 0) return;
        ::kill(child_, SIGKILL);
        int status = 0;
        ::waitpid(child_, &status, 0);
        child_ = -1;
    }

private:
    pid_t child_ = -1;
    bool stopped_ = false;
};

}  // namespace cadrio::test_support
