#pragma once
// A scripted DriveListing for the plug-in's tests: each operation answers
// through a handler the test sets (before the enumeration starts), and every
// call is recorded as "changes(40)", "folders(7)", "files(root)".
// Header-only, test-only. mutex_ guards calls_.

#include <condition_variable>
#include <functional>
#include <stop_token>
#include <string>
#include <vector>

#include "core/model/drive_error.hpp"
#include "core/support/cancellation.hpp"
#include "core/support/thread_annotations.hpp"
#include "fileprovider/drive_listing.hpp"

namespace cadrio::testing {

class FakeDriveListing final : public DriveListing {
public:
    std::function<DriveChanges(std::int64_t, std::stop_token)> onChanges = [](std::int64_t, std::stop_token) {
        return DriveChanges{};
    };
    std::function<std::vector<DriveFolder>(std::optional<std::int64_t>, std::stop_token)> onFolders =
        [](std::optional<std::int64_t>, std::stop_token) { return std::vector<DriveFolder>{}; };
    std::function<std::vector<DriveFile>(std::optional<std::int64_t>, std::stop_token)> onFiles =
        [](std::optional<std::int64_t>, std::stop_token) { return std::vector<DriveFile>{}; };

    DriveChanges changes(std::int64_t since, std::stop_token stop) override {
        record("changes(" + std::to_string(since) + ")");
        return onChanges(since, stop);
    }
    std::vector<DriveFolder> folders(std::optional<std::int64_t> in, std::stop_token stop) override {
        record("folders(" + text(in) + ")");
        return onFolders(in, stop);
    }
    std::vector<DriveFile> files(std::optional<std::int64_t> in, std::stop_token stop) override {
        record("files(" + text(in) + ")");
        return onFiles(in, stop);
    }

    std::vector<std::string> calls() const CADRIO_EXCLUDES(mutex_) {
        LockGuard lock(mutex_);
        return calls_;
    }

    /// Blocks like a request that never answers, until `stop` fires; then
    /// fails as a cancelled request does.
    [[noreturn]] static void hangUntilStopped(std::stop_token stop) {
        Mutex mutex;
        std::condition_variable_any never;
        UniqueLock lock(mutex);
        while (!stop.stop_requested()) never.wait(lock, stop, [] { return false; });
        throw CancellationError();
    }

private:
    static std::string text(std::optional<std::int64_t> id) { return id ? std::to_string(*id) : "root"; }
    void record(std::string call) CADRIO_EXCLUDES(mutex_) {
        LockGuard lock(mutex_);
        calls_.push_back(std::move(call));
    }

    mutable Mutex mutex_;
    std::vector<std::string> calls_ CADRIO_GUARDED_BY(mutex_);
};

}  // namespace cadrio::testing
