#include "tests/crash/killed_writer.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <chrono>
#include <cmath>
#include <stdexcept>
#include <string>
#include <thread>

namespace cadrio::crash {
namespace {

// Longer than a write of the largest state on a slow disk.
constexpr double kLongestDelayMicroseconds = 20'000;

[[noreturn]] void runChild(int reports, const std::function<StateWriter()>& open, std::int64_t first) {
    try {
        const StateWriter write = open();
        for (std::int64_t k = first;; ++k) {
            if (::write(reports, &k, sizeof k) != static_cast<ssize_t>(sizeof k)) ::_exit(3);
            write(k);
        }
    } catch (...) {
    }
    ::_exit(2);
}

/// The next report of the child; absent once it closed the pipe (died).
std::optional<std::int64_t> nextReport(int reports) {
    std::int64_t k = 0;
    ssize_t got;
    do {
        got = ::read(reports, &k, sizeof k);
    } while (got < 0 && errno == EINTR);
    // Eight bytes are written at once, below PIPE_BUF: never split.
    if (got != static_cast<ssize_t>(sizeof k)) return std::nullopt;
    return k;
}

}  // namespace

KilledRun killWhileWriting(const std::function<StateWriter()>& open, std::int64_t first, std::mt19937& random) {
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
    const pid_t child = ::fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        ::close(pipeEnds[0]);
        runChild(pipeEnds[1], open, first);
    }
    ::close(pipeEnds[1]);

    KilledRun run{first - 1};
    const int awaited = std::uniform_int_distribution<int>(1, 3)(random);
    for (int seen = 0; seen < awaited; ++seen) {
        const std::optional<std::int64_t> k = nextReport(pipeEnds[0]);
        if (!k) break;
        run.lastStarted = *k;
    }
    // Spread evenly over orders of magnitude, the kill lands in the short
    // steps of a write (a rename, a commit) as often as in its long ones.
    const double exponent = std::uniform_real_distribution<double>(0, std::log(kLongestDelayMicroseconds))(random);
    std::this_thread::sleep_for(std::chrono::microseconds(static_cast<long>(std::exp(exponent))));
    ::kill(child, SIGKILL);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    while (const std::optional<std::int64_t> k = nextReport(pipeEnds[0])) run.lastStarted = *k;
    ::close(pipeEnds[0]);

    if (!WIFSIGNALED(status) || WTERMSIG(status) != SIGKILL) {
        throw std::runtime_error("the writer ended on its own, status " + std::to_string(status));
    }
    if (run.lastStarted < first) throw std::runtime_error("the writer was killed before its first write");
    return run;
}

}  // namespace cadrio::crash
