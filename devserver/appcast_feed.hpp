#pragma once
// The demo update feed that GET /appcast.xml serves: one release whose
// version the admin API sets, with a release page and a small package
// served by the same server. Starts at kDefaultVersion, older than any
// build of the client, and returns to it on reset.
//
// Thread safety: mutex_ guards both versions; any thread.

#include "core/support/thread_annotations.hpp"

#include <string>
#include <string_view>

namespace cadrio::devserver {

class AppcastFeed {
public:
    static constexpr std::string_view kDefaultVersion = "0.0.1";

    /// Throws std::invalid_argument for a version that is empty, longer
    /// than 64 characters, without a digit, or holding a character other
    /// than letters, digits and ". _ + ~ -". An empty `shortVersion` is
    /// `version`.
    void set(const std::string& version, const std::string& shortVersion);
    void reset();

    std::string version() const;
    std::string shortVersion() const;

    /// The RSS document, its addresses under `baseURL`.
    std::string render(const std::string& baseURL) const;

    /// The text of the demo package of `shortVersion`.
    static std::string packageOf(std::string_view shortVersion);
    /// Whether `text` may be a version (the rule of set()).
    static bool isVersion(std::string_view text);

private:
    mutable Mutex mutex_;
    std::string version_ CADRIO_GUARDED_BY(mutex_){kDefaultVersion};
    std::string shortVersion_ CADRIO_GUARDED_BY(mutex_){kDefaultVersion};
};

}  // namespace cadrio::devserver
