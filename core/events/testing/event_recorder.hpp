#pragma once
// Records what a DriveEventStream's callbacks saw, in order: "change" for a
// change notice, the status description for a status. The stream's thread
// adds; the test waits (bounded in real time) and reads. `mutex_` guards
// `entries_`. Header-only; never linked into the programs.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stop_token>
#include <string>
#include <vector>

#include "core/events/drive_event_stream.hpp"

namespace cadrio::testing {

class EventRecorder {
public:
    void add(std::string entry) {
        {
            std::lock_guard lock(mutex_);
            entries_.push_back(std::move(entry));
        }
        changed_.notify_all();
    }

    /// Runs `stream` on the calling thread, recording into this recorder.
    void run(const DriveEventStream& stream, std::stop_token stop) {
        stream.run([this] { add("change"); },
                   [this](const DriveEventStream::Status& status) { add(status.description()); },
                   std::move(stop));
    }

    /// Waits until at least `count` entries are in.
    bool waitFor(std::size_t count, std::chrono::milliseconds safety = std::chrono::seconds(10)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, safety, [&] { return entries_.size() >= count; });
    }

    std::vector<std::string> entries() const {
        std::lock_guard lock(mutex_);
        return entries_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> entries_;
};

}  // namespace cadrio::testing
