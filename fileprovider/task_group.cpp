#include "fileprovider/task_group.hpp"

#include <algorithm>
#include <utility>

namespace cadrio {

TaskGroup::~TaskGroup() { shutdown(); }

std::stop_source TaskGroup::start(Work work) {
    std::list<Task> reaped;  // joined outside the lock, when this function returns
    std::unique_lock lock(mutex_);
    reapFinishedLocked(reaped);
    if (shutDown_) {
        lock.unlock();
        std::stop_source stopped;
        stopped.request_stop();
        try {
            work(stopped.get_token());
        } catch (...) {
        }
        return stopped;
    }
    auto finished = std::make_shared<std::atomic<bool>>(false);
    Task& task = tasks_.emplace_back();
    task.finished = finished;
    // The thread touches nothing of the group: a task that shut the group
    // down from inside may still be running when the group is gone.
    task.thread = std::jthread([work = std::move(work), finished](std::stop_token stop) {
        try {
            work(stop);
        } catch (...) {
            // Work reports its own failures; nothing may end the process here.
        }
        finished->store(true);
    });
    return task.thread.get_stop_source();
}

void TaskGroup::reapFinishedLocked(std::list<Task>& reaped) {
    for (auto it = tasks_.begin(); it != tasks_.end();) {
        const auto next = std::next(it);
        if (it->finished->load()) reaped.splice(reaped.end(), tasks_, it);
        it = next;
    }
}

void TaskGroup::shutdown() {
    std::list<Task> tasks;
    {
        std::lock_guard lock(mutex_);
        shutDown_ = true;
        tasks.swap(tasks_);
    }
    for (Task& task : tasks) task.thread.request_stop();
    for (Task& task : tasks) {
        if (task.thread.get_id() == std::this_thread::get_id()) {
            task.thread.detach();
        } else if (task.thread.joinable()) {
            task.thread.join();
        }
    }
}

std::size_t TaskGroup::running() const {
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(
        std::count_if(tasks_.begin(), tasks_.end(), [](const Task& task) { return !task.finished->load(); }));
}

}  // namespace cadrio
