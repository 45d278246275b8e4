#pragma once
// Observers for tests that keep every call in the order it was made, so a
// test can assert the exact sequence an enumerator produced, and that record
// any call made after the enumeration had finished as a protocol violation.
//
// Header-only and test-only: nothing links it into a program.
// Thread-safety: calls may arrive from any thread; mutex_ guards calls_,
// violations_ and finished_, and changed_ is notified when a finishing call
// lands.

#include <chrono>
#include <condition_variable>
#include <optional>
#include <string>
#include <vector>

#include "core/support/hexadecimal.hpp"
#include "core/support/thread_annotations.hpp"
#include "platform/fileprovider/enumerator.hpp"

namespace cadrio::fileprovider::testing {

struct ObserverCall {
    enum class Kind { didEnumerate, finishEnumerating, didUpdate, didDeleteItems, finishEnumeratingChanges, finishWithError };

    explicit ObserverCall(Kind k) : kind(k) {}

    Kind kind;
    std::vector<ItemPtr> items;                // didEnumerate, didUpdate
    std::vector<ItemIdentifier> identifiers;   // didDeleteItems
    std::optional<Page> nextPage;              // finishEnumerating
    std::optional<SyncAnchor> anchor;          // finishEnumeratingChanges
    bool moreComing = false;                   // finishEnumeratingChanges
    std::optional<Error> error;                // finishWithError

    bool isFinish() const {
        return kind == Kind::finishEnumerating || kind == Kind::finishEnumeratingChanges ||
               kind == Kind::finishWithError;
    }

    /// A compact text for assertions, e.g. "didEnumerate(500)",
    /// "didDeleteItems(f:1,d:2)", "finishEnumeratingChanges(v3:7,false)",
    /// "finishWithError(NSFileProviderErrorDomain,-1002)".
    std::string summary() const {
        switch (kind) {
            case Kind::didEnumerate: return "didEnumerate(" + std::to_string(items.size()) + ")";
            case Kind::didUpdate: return "didUpdate(" + std::to_string(items.size()) + ")";
            case Kind::didDeleteItems: {
                std::string out = "didDeleteItems(";
                for (std::size_t i = 0; i < identifiers.size(); ++i) {
                    out += (i == 0 ? "" : ",") + identifiers[i].rawValue();
                }
                return out + ")";
            }
            case Kind::finishEnumerating:
                return "finishEnumerating(" + (nextPage ? printable(nextPage->bytes) : std::string("none")) + ")";
            case Kind::finishEnumeratingChanges:
                return "finishEnumeratingChanges(" + printable(anchor->bytes) + "," + (moreComing ? "true" : "false") +
                       ")";
            case Kind::finishWithError:
                return "finishWithError(" + error->domain + "," + std::to_string(error->code) + ")";
        }
        return "?";
    }

    /// Bytes as text when they are printable ASCII, else as hex.
    static std::string printable(const ByteString& bytes) {
        bool plain = true;
        for (const unsigned char c : bytes) plain = plain && c >= 0x20 && c < 0x7f;
        if (plain) return bytes;
        std::string hex = "0x";
        appendHexadecimal(hex, bytes);
        return hex;
    }
};

class CallRecorder {
public:
    std::vector<ObserverCall> calls() const CADRIO_EXCLUDES(mutex_) {
        LockGuard lock(mutex_);
        return calls_;
    }

    std::vector<std::string> summaries() const CADRIO_EXCLUDES(mutex_) {
        LockGuard lock(mutex_);
        std::vector<std::string> out;
        for (const auto& call : calls_) out.push_back(call.summary());
        return out;
    }

    bool isFinished() const CADRIO_EXCLUDES(mutex_) {
        LockGuard lock(mutex_);
        return finished_;
    }

    /// Calls that arrived after a finishing call; a correct enumerator
    /// makes none.
    std::vector<ObserverCall> violations() const CADRIO_EXCLUDES(mutex_) {
        LockGuard lock(mutex_);
        return violations_;
    }

    /// Waits for the finishing call. The timeout only bounds a broken test:
    /// a correct one is woken by the call itself.
    bool waitUntilFinished(std::chrono::milliseconds timeout = std::chrono::seconds(10)) const CADRIO_EXCLUDES(mutex_) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        UniqueLock lock(mutex_);
        while (!finished_) {
            if (changed_.wait_until(lock, deadline) == std::cv_status::timeout) return finished_;
        }
        return true;
    }

    /// Every item reported, in order, across the reporting calls.
    std::vector<ItemPtr> allItems() const CADRIO_EXCLUDES(mutex_) {
        LockGuard lock(mutex_);
        std::vector<ItemPtr> out;
        for (const auto& call : calls_) out.insert(out.end(), call.items.begin(), call.items.end());
        return out;
    }

protected:
    void recordError(Error error) {
        ObserverCall call{ObserverCall::Kind::finishWithError};
        call.error = std::move(error);
        record(std::move(call));
    }

    void recordItems(ObserverCall::Kind kind, std::vector<ItemPtr> items) {
        ObserverCall call{kind};
        call.items = std::move(items);
        record(std::move(call));
    }

    void record(ObserverCall call) CADRIO_EXCLUDES(mutex_) {
        {
            LockGuard lock(mutex_);
            if (finished_) {
                violations_.push_back(std::move(call));
                return;
            }
            finished_ = call.isFinish();
            calls_.push_back(std::move(call));
        }
        changed_.notify_all();
    }

private:
    mutable Mutex mutex_;
    mutable std::condition_variable_any changed_;
    std::vector<ObserverCall> calls_ CADRIO_GUARDED_BY(mutex_);
    std::vector<ObserverCall> violations_ CADRIO_GUARDED_BY(mutex_);
    bool finished_ CADRIO_GUARDED_BY(mutex_) = false;
};

class RecordingEnumerationObserver final : public EnumerationObserver, public CallRecorder {
public:
    void didEnumerate(std::vector<ItemPtr> items) override {
        recordItems(ObserverCall::Kind::didEnumerate, std::move(items));
    }
    void finishEnumerating(std::optional<Page> nextPage) override {
        ObserverCall call{ObserverCall::Kind::finishEnumerating};
        call.nextPage = std::move(nextPage);
        record(std::move(call));
    }
    void finishEnumeratingWithError(Error error) override { recordError(std::move(error)); }
};

class RecordingChangeObserver final : public ChangeObserver, public CallRecorder {
public:
    void didUpdate(std::vector<ItemPtr> updatedItems) override {
        recordItems(ObserverCall::Kind::didUpdate, std::move(updatedItems));
    }
    void didDeleteItems(std::vector<ItemIdentifier> identifiers) override {
        ObserverCall call{ObserverCall::Kind::didDeleteItems};
        call.identifiers = std::move(identifiers);
        record(std::move(call));
    }
    void finishEnumeratingChanges(SyncAnchor anchor, bool moreComing) override {
        ObserverCall call{ObserverCall::Kind::finishEnumeratingChanges};
        call.anchor = std::move(anchor);
        call.moreComing = moreComing;
        record(std::move(call));
    }
    void finishEnumeratingWithError(Error error) override { recordError(std::move(error)); }
};

}  // namespace cadrio::fileprovider::testing
