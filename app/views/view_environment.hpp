#pragma once

// What the views need besides the model: the executor whose clock drives
// their timers (tooltips, the expiry countdown), and the application's
// actions. Tests hand in a manual executor on a virtual clock and recording
// actions.
//
// Threads: the Qt main thread; the executor's jobs run there too.

#include <functional>
#include <string>

#include "app/model/executor.hpp"

namespace cadrio::app {
class Updater;
}

namespace cadrio::app::views {

struct ViewEnvironment {
    SerialExecutor& executor;
    /// Quits the application.
    std::function<void()> quit;
    /// Opens an address in the default browser.
    std::function<void(const std::string& url)> openUrl;
    /// Opens the domain's folder in the desktop's file manager.
    std::function<void()> openFolder;
    /// Opens the application's settings window (the two switches).
    std::function<void()> openSettings;
    /// The account security page of the web space ("…/security").
    std::string securityPageURL;
    /// "0.1.0"; "?" when unknown.
    std::string shortVersion;
    /// "0.1.0 (1)".
    std::string fullVersion;
    /// Null when the build has no update feed.
    Updater* updater = nullptr;
};

}  // namespace cadrio::app::views
