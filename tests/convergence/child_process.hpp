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
#include <mutex>
#include <string>
#include <thread>
#include <vector>

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
    bool waitFor(const std::string& text, std::chrono::seconds timeout);
    /// Everything written so far.
    std::string output();
    /// Sends `signal`, waits at most 20 s for the end, then SIGKILL.
    void stop(int signal);

private:
    void read();

    pid_t pid_ = -1;
    int input_ = -1;
    int outputFd_ = -1;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string output_;
    std::size_t consumed_ = 0;
    bool ended_ = false;
    std::thread reader_;
};

}  // namespace cadrio::convergence
