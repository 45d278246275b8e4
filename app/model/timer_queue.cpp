#include "app/model/timer_queue.hpp"

namespace cadrio::app {

TimerQueue::TimerId TimerQueue::add(Clock::TimePoint deadline, Job job) {
    const TimerId id = nextId_++;
    timers_.emplace(Key{deadline, id}, std::move(job));
    deadlines_.emplace(id, deadline);
    return id;
}

TimerQueue::Job TimerQueue::remove(TimerId id) {
    const auto found = deadlines_.find(id);
    if (found == deadlines_.end()) return {};
    const auto entry = timers_.find(Key{found->second, id});
    Job job = std::move(entry->second);
    timers_.erase(entry);
    deadlines_.erase(found);
    return job;
}

std::optional<std::pair<TimerQueue::TimerId, TimerQueue::Job>> TimerQueue::popDue(Clock::TimePoint now) {
    if (timers_.empty() || timers_.begin()->first.first > now) return std::nullopt;
    const auto first = timers_.begin();
    std::pair<TimerId, Job> due{first->first.second, std::move(first->second)};
    deadlines_.erase(due.first);
    timers_.erase(first);
    return due;
}

std::optional<Clock::TimePoint> TimerQueue::nextDeadline() const {
    if (timers_.empty()) return std::nullopt;
    return timers_.begin()->first.first;
}

std::vector<TimerQueue::Job> TimerQueue::takeAll() {
    std::vector<Job> jobs;
    jobs.reserve(timers_.size());
    for (auto& entry : timers_) jobs.push_back(std::move(entry.second));
    timers_.clear();
    deadlines_.clear();
    return jobs;
}

}  // namespace cadrio::app
