#pragma once

// What the terminal shows of the model: one line for each change of what
// the tray's panel would show change (status, live indicator, transfers,
// quota, conflict banner, archive notice). A text that did not change
// prints nothing.
//
// Threads: the model's executor.

#include <functional>
#include <map>
#include <optional>
#include <string>

#include "app/model/app_model.hpp"

namespace cadrio::app::cli {

class StatusLines {
public:
    explicit StatusLines(std::function<void(const std::string&)> print) : print_(std::move(print)) {}

    void update(const AppModel& model);

private:
    enum class Topic { status, live, transfers, quota, conflict, archives, lastSync };
    void show(Topic topic, const char* prefix, std::optional<std::string> text, const char* gone = nullptr);

    std::function<void(const std::string&)> print_;
    std::map<Topic, std::optional<std::string>> shown_;
};

}  // namespace cadrio::app::cli
