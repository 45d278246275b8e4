#include "platform/host/bus_mailbox.hpp"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace cadrio::host {
namespace {

int makeEventFd() {
    const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0)
        throw std::system_error(errno, std::generic_category(),
                                "cannot create the bus thread's eventfd");
    return fd;
}

}  // namespace

BusMailbox::BusMailbox() : fd_(makeEventFd()) {}

BusMailbox::~BusMailbox() {
    ::close(fd_);
}

void BusMailbox::wake() const noexcept {
    const std::uint64_t one = 1;
    // Only a counter at its maximum refuses, and then a wake-up is pending.
    [[maybe_unused]] const ssize_t written = ::write(fd_, &one, sizeof one);
}

void BusMailbox::postReply(std::uint64_t token, std::optional<fileprovider::Error> error) {
    {
        LockGuard lock(mutex_);
        if (closed_) return;
        replies_.push_back(Reply{token, std::move(error)});
    }
    wake();
}

void BusMailbox::postDomainsChanged() {
    {
        LockGuard lock(mutex_);
        if (closed_ || domainsChanged_) return;
        domainsChanged_ = true;
    }
    wake();
}

void BusMailbox::postRefusal(Refusal refusal) {
    {
        LockGuard lock(mutex_);
        if (closed_) return;
        refusals_.push_back(std::move(refusal));
    }
    wake();
}

void BusMailbox::postPendingCount(const std::string& domain, std::uint64_t count) {
    {
        LockGuard lock(mutex_);
        if (closed_) return;
        pendingCounts_[domain] = count;
    }
    wake();
}

void BusMailbox::postStop() {
    {
        LockGuard lock(mutex_);
        stop_ = true;
    }
    wake();
}

void BusMailbox::close() {
    LockGuard lock(mutex_);
    closed_ = true;
}

BusMailbox::Mail BusMailbox::take() {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t read = ::read(fd_, &count, sizeof count);
    LockGuard lock(mutex_);
    Mail mail;
    mail.replies.swap(replies_);
    mail.domainsChanged = std::exchange(domainsChanged_, false);
    mail.refusals.swap(refusals_);
    mail.pendingCounts.swap(pendingCounts_);
    mail.stop = stop_;
    return mail;
}

}  // namespace cadrio::host
