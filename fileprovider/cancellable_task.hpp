#pragma once
// The shape of every asynchronous entry point that returns a progress
// object: one task does the work, its answer goes to the host through a
// completion guarded by one Once, and cancelling the progress stops the task
// and answers "user cancelled" through the same guard. Whichever comes
// first reaches the host; the other is dropped, so the host hears exactly
// one answer even when it cancels after the work had finished.
//
//   return startCancellableTask(*tasks_, Progress::create(), completion,
//       [](const auto& complete) { complete(nullptr, Error::userCancelled()); },
//       [store](std::stop_token stop, const auto& complete) { ...; complete(item, std::nullopt); });
//
// Threads: the guarded completion may be called from any thread; the work
// runs on its own task; the cancellation answer runs on the thread that
// cancelled.

#include <functional>
#include <memory>
#include <stop_token>
#include <utility>

#include "fileprovider/once.hpp"
#include "fileprovider/task_group.hpp"
#include "platform/fileprovider/progress.hpp"

namespace cadrio {

/// A completion that runs at most once, whoever calls it, and lets go of
/// the host's closure once it has run.
template <class... Args>
class GuardedCompletion {
public:
    using Function = std::function<void(Args...)>;

    explicit GuardedCompletion(Function function) : state_(std::make_shared<State>(std::move(function))) {}

    /// Passes the answer on unless one went before; returns whether it did.
    bool operator()(Args... args) const {
        return state_->once.run([&] {
            Function function = std::move(state_->function);
            state_->function = nullptr;
            if (function) function(std::forward<Args>(args)...);
        });
    }

    bool hasAnswered() const { return state_->once.hasRun(); }

private:
    struct State {
        explicit State(Function f) : function(std::move(f)) {}
        Once once;
        Function function;  // written only by the one caller that gets through
    };
    std::shared_ptr<State> state_;
};

/// Starts `work(stop, complete)` on `tasks` and installs on `progress` a
/// cancellation handler that stops the task and calls
/// `answerCancelled(complete)`. Returns `progress`.
template <class... Args, class AnswerCancelled, class Work>
std::shared_ptr<fileprovider::Progress> startCancellableTask(TaskGroup& tasks,
                                                             std::shared_ptr<fileprovider::Progress> progress,
                                                             std::function<void(Args...)> completion,
                                                             AnswerCancelled answerCancelled, Work work) {
    const GuardedCompletion<Args...> complete(std::move(completion));
    std::stop_source task =
        tasks.start([complete, work = std::move(work)](std::stop_token stop) mutable { work(stop, complete); });
    progress->setCancellationHandler([task, complete, answerCancelled = std::move(answerCancelled)]() mutable {
        task.request_stop();
        answerCancelled(complete);
    });
    return progress;
}

}  // namespace cadrio
