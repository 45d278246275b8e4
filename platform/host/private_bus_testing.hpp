#pragma once
// A dbus-daemon of the test's own, so that tests running at once never
// fight over a bus name. address() is empty when none could be started.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

extern char** environ;

namespace cadrio::host::testing {

class PrivateBus {
  public:
    PrivateBus() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
        char* argv[] = {const_cast<char*>("dbus-daemon"),       const_cast<char*>("--session"),
                        const_cast<char*>("--nofork"),          const_cast<char*>("--nopidfile"),
                        const_cast<char*>("--print-address=3"), nullptr};
        if (posix_spawnp(&pid_, "dbus-daemon", &actions, nullptr, argv, environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        char buffer[512];
        ssize_t got = 0;
        while (address_.find('\n') == std::string::npos &&
               (got = ::read(fds[0], buffer, sizeof buffer)) > 0) {
            address_.append(buffer, static_cast<std::size_t>(got));
        }
        ::close(fds[0]);
        if (const auto end = address_.find('\n'); end != std::string::npos) address_.resize(end);
    }
    ~PrivateBus() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    const std::string& address() const { return address_; }

  private:
    pid_t pid_ = -1;
    std::string address_;
};

}  // namespace cadrio::host::testing
