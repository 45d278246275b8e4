#pragma once
// Where the signed-in session persists between runs. Implementations are
// safe to call from any thread.

#include <optional>

#include "core/session/drive_session.hpp"
#include "core/support/thread_annotations.hpp"

namespace cadrio {

class SessionStoring {
public:
    virtual ~SessionStoring() = default;
    /// The stored session, or none. Throws the store's error, or
    /// SessionDecodingError for an item that does not decode (left in place).
    virtual std::optional<DriveSession> load() = 0;
    /// Stores or overwrites the one session item.
    virtual void save(const DriveSession& session) = 0;
    /// Removes it; succeeds when there was none.
    virtual void clear() = 0;
};

/// A session kept in memory only (tests, and runs without a secret store).
/// `mutex_` guards `session_` for the length of each call.
class InMemorySessionStore final : public SessionStoring {
public:
    explicit InMemorySessionStore(std::optional<DriveSession> session = std::nullopt)
        : session_(std::move(session)) {}

    std::optional<DriveSession> load() override {
        LockGuard lock(mutex_);
        return session_;
    }
    void save(const DriveSession& session) override {
        LockGuard lock(mutex_);
        session_ = session;
    }
    void clear() override {
        LockGuard lock(mutex_);
        session_.reset();
    }

private:
    Mutex mutex_;
    std::optional<DriveSession> session_ CADRIO_GUARDED_BY(mutex_);
};

}  // namespace cadrio
