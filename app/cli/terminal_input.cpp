#include "app/cli/terminal_input.hpp"

#include <poll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

namespace cadrio::app::cli {

struct TerminalInput::Reader {
    int fd;
    int wakeFd = -1;
    std::optional<termios> original;  // the terminal's settings, to put back
    std::function<void(std::string)> onLine;
    std::function<void()> onEnd;
    std::thread thread;

    void run() {
        std::string pending;
        char buffer[4096];
        for (;;) {
            pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR) continue;
                break;
            }
            if ((fds[1].revents & POLLIN) != 0) return;
            const ssize_t got = ::read(fd, buffer, sizeof buffer);
            if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (got <= 0) break;
            pending.append(buffer, static_cast<std::size_t>(got));
            for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
                std::string line = pending.substr(0, end);
                pending.erase(0, end + 1);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                onLine(std::move(line));
            }
        }
        if (!pending.empty()) onLine(std::move(pending));
        onEnd();
    }
};

TerminalInput::TerminalInput(int fd, std::function<void(std::string)> onLine, std::function<void()> onEnd)
    : reader_(std::make_unique<Reader>()) {
    reader_->fd = fd;
    reader_->onLine = std::move(onLine);
    reader_->onEnd = std::move(onEnd);
    reader_->wakeFd = ::eventfd(0, EFD_CLOEXEC);
    if (reader_->wakeFd < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
    if (termios settings{}; ::isatty(fd) && ::tcgetattr(fd, &settings) == 0) reader_->original = settings;
    reader_->thread = std::thread([reader = reader_.get()] { reader->run(); });
}

TerminalInput::~TerminalInput() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(reader_->wakeFd, &one, sizeof one);
    reader_->thread.join();
    ::close(reader_->wakeFd);
    if (reader_->original) ::tcsetattr(reader_->fd, TCSANOW, &*reader_->original);
}

bool TerminalInput::isTerminal() const { return reader_->original.has_value(); }

void TerminalInput::setEcho(bool on) {
    if (!reader_->original) return;
    termios settings = *reader_->original;
    if (!on) {
        settings.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        settings.c_lflag |= ECHONL;  // the user still sees the line end
    }
    ::tcsetattr(reader_->fd, TCSANOW, &settings);
}

}  // namespace cadrio::app::cli
