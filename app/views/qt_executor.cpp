#include "app/views/qt_executor.hpp"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>

#include <condition_variable>
#include <map>
#include <optional>
#include <stop_token>
#include <thread>
#include <utility>
#include <vector>

#include "app/model/timer_queue.hpp"
#include "core/support/thread_annotations.hpp"

namespace cadrio::app::views {

// A timer's job stays in `timers` until its deadline, then moves to `due`
// while its run waits in the Qt queue; the run takes it from there. A cancel
// on the main thread thus removes it wherever it is, and a run that finds
// nothing does nothing. Jobs are run and dropped with no lock held.
struct QtExecutor::State {
    explicit State(Clock& c) : clock(c) {}

    Clock& clock;
    Mutex mutex;
    // Lives on the Qt main thread; deleting it drops the runs still queued.
    QObject* receiver CADRIO_GUARDED_BY(mutex) = nullptr;
    bool open CADRIO_GUARDED_BY(mutex) = true;  // false once the application is gone
    TimerQueue timers CADRIO_GUARDED_BY(mutex);
    std::map<TimerId, Job> due CADRIO_GUARDED_BY(mutex);
    // Requested when the timer thread must look again; replaced before each wait.
    std::stop_source wake CADRIO_GUARDED_BY(mutex);
    std::condition_variable_any idle;
    std::jthread timerThread;

    void post(Job job) {
        Job dropped;  // destroyed after the lock is released
        LockGuard lock(mutex);
        if (!open || receiver == nullptr) {
            dropped = std::move(job);
            return;
        }
        QMetaObject::invokeMethod(receiver, std::move(job), Qt::QueuedConnection);
    }

    void fire(TimerId id) {
        Job job;
        {
            LockGuard lock(mutex);
            const auto found = due.find(id);
            if (found == due.end()) return;
            job = std::move(found->second);
            due.erase(found);
        }
        job();
    }

    void runTimers(const std::stop_token& stop);
};

void QtExecutor::State::runTimers(const std::stop_token& stop) {
    for (;;) {
        std::vector<TimerId> fired;
        std::optional<Clock::TimePoint> deadline;
        std::stop_token interrupted;
        {
            UniqueLock lock(mutex);
            if (stop.stop_requested()) return;
            const Clock::TimePoint now = clock.now();
            while (auto timer = timers.popDue(now)) {
                fired.push_back(timer->first);
                due.emplace(timer->first, std::move(timer->second));
            }
            if (fired.empty()) {
                if (wake.stop_requested()) wake = std::stop_source();
                interrupted = wake.get_token();
                if (timers.empty()) {
                    // Nothing to measure: wait for a postAfter, with no clock.
                    idle.wait(lock, interrupted, [] { return false; });
                    continue;
                }
                deadline = timers.nextDeadline();
            }
        }
        for (const TimerId id : fired) post([this, id] { fire(id); });
        if (deadline) clock.sleepUntil(*deadline, interrupted);
    }
}

QtExecutor::QtExecutor(Clock& clock) : state_(std::make_unique<State>(clock)) {
    auto* receiver = new QObject();
    if (auto* application = QCoreApplication::instance()) {
        receiver->moveToThread(application->thread());
        QObject::connect(application, &QObject::destroyed, receiver, [state = state_.get()] {
            LockGuard lock(state->mutex);
            state->open = false;
        }, Qt::DirectConnection);
    }
    {
        LockGuard lock(state_->mutex);
        state_->receiver = receiver;
    }
    state_->timerThread = std::jthread([state = state_.get()](std::stop_token stop) { state->runTimers(stop); });
}

QtExecutor::~QtExecutor() {
    state_->timerThread.request_stop();
    {
        LockGuard lock(state_->mutex);
        state_->wake.request_stop();
    }
    state_->timerThread.join();
    QObject* receiver = nullptr;
    std::vector<Job> timers;
    std::map<TimerId, Job> due;
    {
        LockGuard lock(state_->mutex);
        receiver = std::exchange(state_->receiver, nullptr);
        timers = state_->timers.takeAll();
        due.swap(state_->due);
    }
    delete receiver;  // its queued runs go with it
}

void QtExecutor::post(Job job) { state_->post(std::move(job)); }

SerialExecutor::TimerId QtExecutor::postAfter(Clock::Duration delay, Job job) {
    const Clock::TimePoint deadline = state_->clock.now() + delay;
    LockGuard lock(state_->mutex);
    const TimerId id = state_->timers.add(deadline, std::move(job));
    state_->wake.request_stop();
    return id;
}

void QtExecutor::cancel(TimerId timer) {
    Job dropped;  // destroyed after the lock is released
    LockGuard lock(state_->mutex);
    if (const auto found = state_->due.find(timer); found != state_->due.end()) {
        dropped = std::move(found->second);
        state_->due.erase(found);
        return;
    }
    dropped = state_->timers.remove(timer);
}

Clock& QtExecutor::clock() const { return state_->clock; }

}  // namespace cadrio::app::views
