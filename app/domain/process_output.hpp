#pragma once

// Runs a short-lived command and collects what it printed. Standard output
// and standard error are read at once, so a chatty command can never stall
// on a full pipe.
//
// Threads: blocks the calling thread until the command ended; any thread.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace cadrio::app {

struct ProcessOutput {
    std::string standardOutput;
    std::string standardError;
    /// The exit status; -1 when a signal ended the command.
    int status = -1;
};

/// None when the command cannot be started.
std::optional<ProcessOutput> runProcess(const std::filesystem::path& program, const std::vector<std::string>& arguments);

}  // namespace cadrio::app
