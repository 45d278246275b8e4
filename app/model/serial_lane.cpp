#include "app/model/serial_lane.hpp"

#include <deque>
#include <optional>

#include "core/support/thread_annotations.hpp"

namespace cadrio::app {

struct SerialLane::State {
    Mutex mutex;
    std::deque<Job> queue CADRIO_GUARDED_BY(mutex);
    bool running CADRIO_GUARDED_BY(mutex) = false;  // a drain job is posted or under way
};

SerialLane::SerialLane(Executor& target) : target_(target), state_(std::make_shared<State>()) {}

SerialLane::~SerialLane() = default;

void SerialLane::post(Job job) {
    {
        LockGuard lock(state_->mutex);
        state_->queue.push_back(std::move(job));
        if (state_->running) return;
        state_->running = true;
    }
    target_.post([state = state_] { drain(state); });
}

void SerialLane::drain(const std::shared_ptr<State>& state) {
    for (;;) {
        std::optional<Job> job;
        {
            LockGuard lock(state->mutex);
            if (state->queue.empty()) {
                state->running = false;
                return;
            }
            job = std::move(state->queue.front());
            state->queue.pop_front();
        }
        (*job)();
    }
}

}  // namespace cadrio::app
