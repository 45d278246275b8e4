#pragma once

// zelvano-cadrio --headless: the model on a loop executor in the main
// thread, the terminal front end over it, standard input and the
// termination signals as events. Returns the exit code.

#include "app/cli/cli_options.hpp"

namespace cadrio::app::cli {

/// Call from main before any other thread starts (it blocks SIGINT and
/// SIGTERM for the whole process).
int runHeadless(const CliOptions& options);

}  // namespace cadrio::app::cli
