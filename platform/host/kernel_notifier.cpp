#include "platform/host/kernel_notifier.hpp"

#include <utility>

namespace cadrio::host {

KernelNotifier::KernelNotifier() : worker_([this] { serve(); }) {}

KernelNotifier::~KernelNotifier() {
    {
        LockGuard lock(queueMutex_);
        stopping_ = true;
    }
    queueChanged_.notify_all();
    worker_.join();
}

void KernelNotifier::post(std::vector<KernelNotice> notices) {
    if (notices.empty()) return;
    {
        LockGuard lock(queueMutex_);
        for (KernelNotice& notice : notices) queue_.emplace_back(std::move(notice));
    }
    queueChanged_.notify_one();
}

void KernelNotifier::setTarget(Target target) {
    LockGuard lock(targetMutex_);
    target_ = std::move(target);
}

void KernelNotifier::whenDelivered(std::function<void()> done) {
    {
        LockGuard lock(queueMutex_);
        if (!stopping_) {
            queue_.emplace_back(std::move(done));
            done = nullptr;
        }
    }
    queueChanged_.notify_one();
    if (done) done();
}

void KernelNotifier::serve() {
    for (;;) {
        Work work;
        bool stop = false;
        {
            UniqueLock lock(queueMutex_);
            queueChanged_.wait(lock, [this]() CADRIO_NO_THREAD_SAFETY_ANALYSIS { return stopping_ || !queue_.empty(); });
            if (queue_.empty()) return;
            stop = stopping_;
            work = std::move(queue_.front());
            queue_.pop_front();
        }
        if (auto* notice = std::get_if<KernelNotice>(&work)) {
            // Once stopping, the mount is going away: its kernel state with it.
            if (!stop) deliver(*notice);
        } else if (auto& done = std::get<std::function<void()>>(work)) {
            done();
        }
    }
}

void KernelNotifier::deliver(const KernelNotice& notice) {
    LockGuard lock(targetMutex_);
    if (target_) target_(notice);
}

}  // namespace cadrio::host
