#include "core/support/work_pool.hpp"

#include <algorithm>
#include <utility>

namespace cadrio {

bool WorkPool::Ticket::isDone() const {
    LockGuard lock(mutex_);
    return phase_ == Phase::done;
}

WorkPool::Job WorkPool::Ticket::claim() {
    LockGuard lock(mutex_);
    if (phase_ != Phase::queued) return nullptr;
    phase_ = Phase::running;
    runner_ = std::this_thread::get_id();
    return std::exchange(job_, nullptr);
}

void WorkPool::Ticket::finish() {
    {
        LockGuard lock(mutex_);
        phase_ = Phase::done;
    }
    changed_.notify_all();
}

WorkPool::WorkPool(std::size_t threads) : threadCount_(std::max<std::size_t>(threads, 1)) {
    LockGuard lock(threadsMutex_);
    threads_.reserve(threadCount_);
    for (std::size_t i = 0; i < threadCount_; ++i)
        threads_.emplace_back([queue = queue_] { serve(queue); });
}

WorkPool::~WorkPool() {
    close();
}

void WorkPool::run(Ticket& ticket) {
    {
        Job job = ticket.claim();
        if (!job) return;
        try {
            job();
        } catch (...) {
            // Jobs report their own failures; nothing may end the thread here.
        }
    }  // the closure goes before anyone hears that the job is done
    ticket.finish();
}

void WorkPool::serve(const std::shared_ptr<Queue>& queue) {
    for (;;) {
        std::shared_ptr<Ticket> ticket;
        {
            UniqueLock lock(queue->mutex);
            while (queue->tickets.empty() && !queue->closed) queue->changed.wait(lock);
            if (queue->tickets.empty()) return;
            ticket = std::move(queue->tickets.front());
            queue->tickets.pop_front();
        }
        run(*ticket);  // nothing when a waiter took it first
    }
}

std::shared_ptr<WorkPool::Ticket> WorkPool::submit(Job job) {
    auto ticket = std::make_shared<Ticket>();
    {
        LockGuard lock(ticket->mutex_);
        ticket->job_ = std::move(job);
    }
    {
        LockGuard lock(queue_->mutex);
        if (!queue_->closed) {
            queue_->tickets.push_back(ticket);
            // Notified under the lock: once it is released, the job may run
            // and even destroy this pool, so nothing of it is touched after.
            queue_->changed.notify_one();
            return ticket;
        }
    }
    run(*ticket);
    return ticket;
}

void WorkPool::runOrWait(const std::shared_ptr<Ticket>& ticket) {
    run(*ticket);
    UniqueLock lock(ticket->mutex_);
    if (ticket->runner_ == std::this_thread::get_id()) return;  // done here, or running below us
    while (ticket->phase_ != Ticket::Phase::done) ticket->changed_.wait(lock);
}

void WorkPool::close() {
    {
        LockGuard lock(queue_->mutex);
        queue_->closed = true;
    }
    queue_->changed.notify_all();
    std::vector<std::thread> threads;
    {
        LockGuard lock(threadsMutex_);
        threads.swap(threads_);
    }
    for (std::thread& thread : threads) {
        if (thread.get_id() == std::this_thread::get_id()) {
            thread.detach();
        } else {
            thread.join();
        }
    }
}

}  // namespace cadrio
