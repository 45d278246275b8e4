#pragma once

// Software updates over an appcast feed (RSS items carrying
// sparkle:version, sparkle:shortVersionString, an enclosure with its URL
// and length, a release-notes link) at the build-time feed address
// (CADRIO_APPCAST_URL for development; plain http only to loopback).
// Checked at start and every 24 hours on the executor's clock; a newer item
// than the running version makes `pendingVersion` its short version.
// Nothing is installed behind the user's back: checkForUpdates() checks at
// once and, when an update is pending, opens its release page (or the
// package) in the browser and clears `pendingVersion` (the user has seen
// it), as a later check may raise it again.
//
// Threads: every member on the serial executor; the download runs on the
// background executor and posts its result back. Observers run on the
// executor.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "app/model/executor.hpp"
#include "core/http/http_transport.hpp"
#include "platform/log/logger.hpp"

namespace cadrio::app {

class Updater : public std::enable_shared_from_this<Updater> {
public:
    struct Dependencies {
        SerialExecutor& executor;
        Executor& background;
        std::shared_ptr<HTTPTransport> transport;
        /// The feed's address; empty: no feed, nothing is ever checked.
        std::string feedURL;
        /// The running version ("0.1.0").
        std::string currentVersion;
        /// Opens an address in the browser.
        std::function<void(const std::string&)> openUrl;
        log::Logger logger{"zelvano.cadrio.sync", "updates"};
    };

    static constexpr Clock::Duration kCheckPeriod = std::chrono::hours(24);

    /// Throws std::invalid_argument for a feed address that is neither
    /// https nor loopback http. Starts the first check.
    static std::shared_ptr<Updater> create(Dependencies dependencies);
    ~Updater();

    const std::optional<std::string>& pendingVersion() const { return pendingVersion_; }
    void checkForUpdates();

    using ObserverId = std::uint64_t;
    ObserverId observe(std::function<void()> changed);
    void unobserve(ObserverId id);

    /// CADRIO_APPCAST_URL, else the build-time address (may be empty).
    static std::string feedURLFromEnvironment();

private:
    explicit Updater(Dependencies dependencies);
    Dependencies deps_;
    std::optional<std::string> pendingVersion_;
    std::map<ObserverId, std::function<void()>> observers_;
    ObserverId nextObserver_ = 1;
};

}  // namespace cadrio::app
