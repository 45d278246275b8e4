#pragma once
// A dbus-daemon of the test's own, so that tests running at once never
// fight over a bus name. address() is empty when none could be started.
// It activates only the services of the folders it is given, none by
// default: a program under test that looks for the Secret Service finds
// none, rather than starting the machine's keyring daemon in the real home
// folder. Activated services inherit the environment of the test at the
// bus's construction.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace cadrio::host::testing {

class PrivateBus {
  public:
    explicit PrivateBus(const std::vector<std::string>& serviceFolders = {}) {
        char config[] = "/tmp/private-bus-XXXXXX";
        const int configFd = ::mkstemp(config);
        if (configFd < 0) return;
        std::string text =
            "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
            " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
            "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth>";
        for (const std::string& folder : serviceFolders) text += "<servicedir>" + escaped(folder) + "</servicedir>";
        text += "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
        const bool written = ::write(configFd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
        ::close(configFd);
        if (written) start(std::string("--config-file=") + config);
        ::unlink(config);  // read once, at start
    }
    ~PrivateBus() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    const std::string& address() const { return address_; }

  private:
    static std::string escaped(const std::string& raw) {
        std::string text;
        for (const char c : raw) {
            if (c == '&') text += "&amp;";
            else if (c == '<') text += "&lt;";
            else if (c == '>') text += "&gt;";
            else text += c;
        }
        return text;
    }

    void start(std::string configArgument) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
        char* argv[] = {const_cast<char*>("dbus-daemon"),       configArgument.data(),
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

    pid_t pid_ = -1;
    std::string address_;
};

}  // namespace cadrio::host::testing
