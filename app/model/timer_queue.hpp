#pragma once

// The pending timers of a serial executor, earliest deadline first and, for
// equal deadlines, in posting order.
//
// Threads: none of its own and not thread-safe: the executor that owns it
// guards it with its own mutex. Jobs it hands back are to be run or
// destroyed by the caller once that mutex is released.

#include <cstddef>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "app/model/executor.hpp"

namespace cadrio::app {

class TimerQueue {
public:
    using Job = Executor::Job;
    using TimerId = SerialExecutor::TimerId;

    TimerId add(Clock::TimePoint deadline, Job job);
    /// The pending timer's job, taken out; empty when there is none.
    Job remove(TimerId id);
    /// The earliest timer due at `now`, taken out.
    std::optional<std::pair<TimerId, Job>> popDue(Clock::TimePoint now);
    std::optional<Clock::TimePoint> nextDeadline() const;
    bool empty() const { return timers_.empty(); }
    std::size_t size() const { return timers_.size(); }
    /// Every pending job, taken out.
    std::vector<Job> takeAll();

private:
    using Key = std::pair<Clock::TimePoint, TimerId>;
    std::map<Key, Job> timers_;
    std::map<TimerId, Clock::TimePoint> deadlines_;
    TimerId nextId_ = 1;
};

}  // namespace cadrio::app
