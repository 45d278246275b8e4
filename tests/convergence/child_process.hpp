#pragma once
// A program the harness runs: its standard input a pipe the harness writes,
// its standard output gathered by a reader thread (waits on it are bounded),
// its standard error appended to a log file.
//
// Threads: write(), waitFor() and stop() from the owning thread; the reader
// thread only appends to output_, under mutex_.

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "core/support/thread_annotations.hpp"

namespace cadrio::convergence {

class ChildProcess {
public:
    /// Starts `argv[0]` with exactly `environment`; throws std::runtime_error
    /// when it cannot be started.
    ChildProcess(std::vector<std::string> argv, std::vector<std::string> environment,
                 const std::filesystem::path& errorLog);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    bool write(const std::string& text);
    /// Waits until `text` appears in the output after what earlier waits
    /// consumed, and consumes up to its end; false after `timeout`.
    bool waitFor(const std::string& text, std::chrono::seconds timeout) CADRIO_EXCLUDES(mutex_);
    /// Everything written so far.
    std::string output() CADRIO_EXCLUDES(mutex_);
    /// Sends `signal`, waits at most 20 s for the end, then SIGKILL.
    void stop(int signal);

private:
    void read();

    pid_t pid_ = -1;
    int input_ = -1;
    int outputFd_ = -1;
    Mutex mutex_;
    std::condition_variable_any changed_;
    std::string output_ CADRIO_GUARDED_BY(mutex_);
    std::size_t consumed_ CADRIO_GUARDED_BY(mutex_) = 0;
    bool ended_ CADRIO_GUARDED_BY(mutex_) = false;
    std::thread reader_;
};

}  // namespace cadrio::convergence
