#pragma once

// The real components the programs run the model on: the drive client with
// the session in the secret store (the one the plug-in reads it from), the
// host's domain manager on the session bus, the user defaults, the login
// item, logind's wake notification and the computer's name.

#include <memory>

#include "app/model/app_model.hpp"

namespace cadrio::app {

struct AppDependencyOptions {
    /// False for front ends that are not what opens at login (the terminal):
    /// the model then leaves the login item alone.
    bool manageLoginItem = true;
};

/// Throws DomainError when no session bus answers, std::invalid_argument for
/// a development address that cannot be used safely.
AppModel::Dependencies makeAppDependencies(SerialExecutor& executor, Executor& background,
                                           AppDependencyOptions options = {});

}  // namespace cadrio::app
