#pragma once
// A secure item store opened on first use. Finding the desktop's Secret
// Service is a D-Bus exchange that may take as long as D-Bus's time-out;
// the host's thread that creates the extension must not wait for it, so the
// choice is made by whichever call needs the store first (the background
// task that restores the session).
//
// Opening: one caller at a time opens, outside any lock. Callers that come
// meanwhile wait for that opening and share its outcome: its store, or its
// failure (thrown to each of them, without a second D-Bus probe each). The
// next call after a failure tries again. The wait is not bounded by us: the
// opener is bounded by D-Bus's own time-out, the store's calls carry no
// deadline of their caller's, and a caller has nothing to do without the
// store (in the plug-in only the session restore asks for it before it is
// open: without a session no other task reaches the store).
//
// Threads: any thread may call any member. mutex_ guards state_, attempts_,
// failure_, store_ and waiting_, and is held only to read or change them,
// never across the opening or a call of the opened store. opened_ is
// signalled under it when an opening ends, waitersChanged_ when waiting_
// grows. store_ never changes once open, so the reference store() returns
// stays valid for the object's life.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>

#include "core/support/thread_annotations.hpp"
#include "platform/keychain/secure_item_store.hpp"

namespace cadrio {

class LazySecureItemStore final : public SecureItemStore {
public:
    using Opener = std::function<std::unique_ptr<SecureItemStore>()>;

    explicit LazySecureItemStore(Opener open) : open_(std::move(open)) {}

    std::optional<SecureItemData> find(const SecureItemKey& key) override { return store().find(key); }
    bool update(const SecureItemKey& key, std::string_view data) override { return store().update(key, data); }
    void add(const SecureItemKey& key, std::string_view data) override { store().add(key, data); }
    bool remove(const SecureItemKey& key) override { return store().remove(key); }
    /// "lazy" until opened (also while an opening runs: it never waits),
    /// then the opened store's name.
    std::string_view backendName() const override CADRIO_EXCLUDES(mutex_);

    /// For tests: blocks until at least `count` callers wait for an opening
    /// run by another; false when `safety` of real time passed first.
    bool waitForWaitingCallers(std::size_t count, std::chrono::milliseconds safety) const CADRIO_EXCLUDES(mutex_);

private:
    enum class State { closed, opening, open };

    SecureItemStore& store() CADRIO_EXCLUDES(mutex_);
    /// Runs open_ on the calling thread, then publishes its outcome.
    SecureItemStore& openAsTheOpener() CADRIO_EXCLUDES(mutex_);

    const Opener open_;
    mutable Mutex mutex_;
    std::condition_variable_any opened_;
    mutable std::condition_variable_any waitersChanged_;
    State state_ CADRIO_GUARDED_BY(mutex_) = State::closed;
    std::uint64_t attempts_ CADRIO_GUARDED_BY(mutex_) = 0;  // openings ended so far
    std::exception_ptr failure_ CADRIO_GUARDED_BY(mutex_);  // of the last one, if it failed
    std::unique_ptr<SecureItemStore> store_ CADRIO_GUARDED_BY(mutex_);
    std::size_t waiting_ CADRIO_GUARDED_BY(mutex_) = 0;
};

}  // namespace cadrio
