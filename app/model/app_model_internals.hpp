#pragma once

// The pieces the model's source files share: the round trip through the
// background executor and the live session's handles. Not for other users.

#include <exception>
#include <memory>
#include <optional>
#include <thread>
#include <type_traits>
#include <utility>

#include "app/model/app_model.hpp"

namespace cadrio::app {

/// What a background call gave: its value, or the exception it threw.
template <class T>
struct AppModel::Outcome {
    std::optional<T> value;
    std::exception_ptr error;

    template <class Work>
    static Outcome of(Work& work) {
        Outcome outcome;
        try {
            outcome.value.emplace(work());
        } catch (...) {
            outcome.error = std::current_exception();
        }
        return outcome;
    }
};

template <class Work, class Then>
void AppModel::offloadTo(Executor& where, Work work, Then then) {
    using Value = std::invoke_result_t<Work&>;
    std::weak_ptr<AppModel> weak = weak_from_this();
    SerialExecutor& serial = deps_.executor;
    where.post([weak, &serial, work = std::move(work), then = std::move(then)]() mutable {
        auto outcome = std::make_shared<Outcome<Value>>(Outcome<Value>::of(work));
        serial.post([weak, then = std::move(then), outcome]() mutable {
            if (const std::shared_ptr<AppModel> self = weak.lock()) then(*self, std::move(*outcome));
        });
    });
}

template <class T>
void AppModel::publish(Field field, T& member, T value) {
    if (member == value) return;
    member = std::move(value);
    notify(field);
}

/// One signed-in session's background work, from startLive to stopLive.
struct AppModel::LiveSession {
    std::string account;
    /// The event stream's thread; null when the stream could not be set up.
    std::shared_ptr<std::jthread> stream;
    SerialExecutor::TimerId safetyNet = 0;
    SerialExecutor::TimerId activity = 0;  // 0 while a tick is under way
    std::shared_ptr<void> wake;
};

}  // namespace cadrio::app
