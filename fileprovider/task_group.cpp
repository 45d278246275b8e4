#include "fileprovider/task_group.hpp"

#include <algorithm>
#include <utility>

namespace cadrio {

TaskGroup::TaskGroup(std::size_t threads) : pool_(threads) {}

TaskGroup::~TaskGroup() { shutdown(); }

std::stop_source TaskGroup::start(Work work) {
    {
        LockGuard lock(mutex_);
        if (!shutDown_) {
            tasks_.remove_if([](const Task& task) { return task.ticket->isDone(); });
            Task& task = tasks_.emplace_back();
            // The job touches nothing of the group: a task that shut the
            // group down from inside may still be running when it is gone.
            task.ticket = pool_.submit([work = std::move(work), stop = task.stop.get_token()] { work(stop); });
            return task.stop;
        }
    }
    std::stop_source stopped;
    stopped.request_stop();
    try {
        work(stopped.get_token());
    } catch (...) {
    }
    return stopped;
}

void TaskGroup::shutdown() {
    std::list<Task> tasks;
    {
        LockGuard lock(mutex_);
        if (shutDown_) return;
        shutDown_ = true;
        tasks.swap(tasks_);
    }
    for (Task& task : tasks) task.stop.request_stop();
    for (Task& task : tasks) pool_.runOrWait(task.ticket);
    // Only the first call closes: a second one from inside a task would
    // otherwise join the thread of the first, which may be waiting for it.
    pool_.close();
}

std::size_t TaskGroup::running() const {
    LockGuard lock(mutex_);
    return static_cast<std::size_t>(
        std::count_if(tasks_.begin(), tasks_.end(), [](const Task& task) { return !task.ticket->isDone(); }));
}

}  // namespace cadrio
