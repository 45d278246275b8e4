#include "platform/host/file_watch.hpp"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "platform/host/host_logger.hpp"

namespace cadrio::host {
namespace {

[[noreturn]] void fail(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

}  // namespace

FileWatch::FileWatch(std::filesystem::path file, std::function<void()> changed)
    : name_(file.filename().string()), changed_(std::move(changed)) {
    std::filesystem::create_directories(file.parent_path());
    inotify_ = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (inotify_ < 0) fail("inotify_init1");
    if (::inotify_add_watch(inotify_, file.parent_path().c_str(), IN_CLOSE_WRITE | IN_MOVED_TO | IN_DELETE) < 0) {
        const int saved = errno;
        ::close(inotify_);
        errno = saved;
        fail("inotify_add_watch");
    }
    stop_ = ::eventfd(0, EFD_CLOEXEC);
    if (stop_ < 0) {
        ::close(inotify_);
        fail("eventfd");
    }
    thread_ = std::thread([this] { run(); });
}

FileWatch::~FileWatch() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(stop_, &one, sizeof one);
    thread_.join();
    ::close(stop_);
    ::close(inotify_);
}

void FileWatch::run() {
    pollfd fds[2] = {{inotify_, POLLIN, 0}, {stop_, POLLIN, 0}};
    while (true) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[1].revents != 0) break;
        if (fds[0].revents != 0 && readEvents()) {
            try {
                changed_();
            } catch (const std::exception& e) {
                hostLogger().error("Suivi de {} : {}", name_, e.what());
            }
        }
    }
}

bool FileWatch::readEvents() {
    alignas(inotify_event) char buffer[4096];
    bool ours = false;
    ssize_t got = 0;
    while ((got = ::read(inotify_, buffer, sizeof buffer)) > 0) {
        for (char* at = buffer; at < buffer + got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(at);
            if (event->len > 0 && name_ == event->name) ours = true;
            at += sizeof(inotify_event) + event->len;
        }
    }
    return ours;
}

}  // namespace cadrio::host
