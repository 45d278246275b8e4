#include "tests/convergence/child_process.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace cadrio::convergence {

ChildProcess::ChildProcess(std::vector<std::string> argv, std::vector<std::string> environment,
                           const std::filesystem::path& errorLog) {
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    const int err = ::open(errorLog.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    if (err >= 0) posix_spawn_file_actions_adddup2(&actions, err, 2);
    std::vector<char*> args, envp;
    for (std::string& arg : argv) args.push_back(arg.data());
    args.push_back(nullptr);
    for (std::string& variable : environment) envp.push_back(variable.data());
    envp.push_back(nullptr);
    const int spawned = posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    if (err >= 0) ::close(err);
    input_ = in[1];
    outputFd_ = out[0];
    if (spawned != 0) {
        ::close(input_);
        ::close(outputFd_);
        throw std::runtime_error("cannot start " + argv[0]);
    }
    reader_ = std::thread([this] { read(); });
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0) stop(SIGKILL);
    if (input_ >= 0) ::close(input_);
    reader_.join();
    ::close(outputFd_);
}

bool ChildProcess::write(const std::string& text) {
    return input_ >= 0 && ::write(input_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

bool ChildProcess::waitFor(const std::string& text, std::chrono::seconds timeout) {
    UniqueLock lock(mutex_);
    // The analysis cannot see that the predicate runs with the lock held.
    const bool seen = changed_.wait_for(lock, timeout, [&]() CADRIO_NO_THREAD_SAFETY_ANALYSIS {
        return ended_ || output_.find(text, consumed_) != std::string::npos;
    });
    const auto at = output_.find(text, consumed_);
    if (!seen || at == std::string::npos) return false;
    consumed_ = at + text.size();
    return true;
}

std::string ChildProcess::output() {
    LockGuard lock(mutex_);
    return output_;
}

void ChildProcess::stop(int signal) {
    if (pid_ <= 0) return;
    ::kill(pid_, signal);
    for (int i = 0; i < 200; ++i) {
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        ::usleep(100'000);
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

void ChildProcess::read() {
    char buffer[4096];
    while (true) {
        const ssize_t got = ::read(outputFd_, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        LockGuard lock(mutex_);
        if (got <= 0) {
            ended_ = true;
            changed_.notify_all();
            return;
        }
        output_.append(buffer, static_cast<std::size_t>(got));
        changed_.notify_all();
    }
}

}  // namespace cadrio::convergence
