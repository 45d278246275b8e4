#pragma once

// Software updates over an appcast feed (RSS items carrying
// sparkle:version, sparkle:shortVersionString, an enclosure with its URL
// and length, a release-notes link) at the build-time feed address
// (CADRIO_APPCAST_URL for development; plain http only to loopback).
// Checked at start and every 24 hours on the executor's clock; a newer item
// than the running version makes `pendingVersion` its short version.
// Nothing is installed behind the user's back: checkForUpdates() opens the
// pending release's page (its notes, else its package) in the browser and
// clears `pendingVersion` (the user has seen it; the next periodic check may
// raise it again); with nothing pending it checks at once, and a newer
// release that check finds is opened the same way. A check that fails (the
// network, an HTTP status, a feed over kMaxFeedBytes or not an appcast) is
// logged and leaves `pendingVersion` as it was; a feed that no longer lists
// a newer release clears it. Items whose addresses are not https (plain
// http only from a loopback feed) are ignored: they would be opened.
//
// Threads: every member on the serial executor; the download runs on the
// background executor and posts its result back. Observers run on the
// executor.
//
// Ownership: create() returns the only strong owner's handle; posted work
// and timers hold the updater weakly, and its destruction ends a download
// under way. The executors must outlive it.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stop_token>
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
    /// https nor loopback http, or for a feed without a transport. Queues
    /// the first check on the executor.
    static std::shared_ptr<Updater> create(Dependencies dependencies);
    ~Updater();

    const std::optional<std::string>& pendingVersion() const { return pendingVersion_; }
    void checkForUpdates();

    using ObserverId = std::uint64_t;
    ObserverId observe(std::function<void()> changed);
    void unobserve(ObserverId id);

    /// CADRIO_APPCAST_URL, else the build-time address (may be empty).
    static std::string feedURLFromEnvironment();

    /// Feeds larger than this are not read.
    static constexpr std::size_t kMaxFeedBytes = 1024 * 1024;

private:
    struct FeedAnswer;

    explicit Updater(Dependencies dependencies);
    void armPeriodicCheck();
    /// `interactive`: the user asked; a newer release found opens at once.
    void startCheck(bool interactive);
    void finishCheck(FeedAnswer answer);
    void setPending(std::optional<std::string> version, std::string page);
    void open(const std::string& page);

    Dependencies deps_;
    std::optional<std::string> pendingVersion_;
    std::string pendingPage_;  // where pendingVersion_ is told about
    bool checking_ = false;
    bool interactiveWanted_ = false;  // the check under way was asked for by the user
    SerialExecutor::TimerId periodicTimer_ = 0;
    std::stop_source stop_;  // ends a download under way when the updater goes
    std::map<ObserverId, std::function<void()>> observers_;
    ObserverId nextObserver_ = 1;
};

}  // namespace cadrio::app
