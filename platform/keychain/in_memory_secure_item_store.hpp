#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <tuple>

#include "core/support/thread_annotations.hpp"
#include "platform/keychain/secure_item_store.hpp"

namespace cadrio {

// A secure item store in memory, for tests. It can be told to fail the next
// calls with a status, to exercise the failure paths of its users.
//
// Thread-safety: mutex_ guards items_ and failure_; every call holds it for
// its whole (short, non-blocking) duration.
class InMemorySecureItemStore final : public SecureItemStore {
public:
    std::optional<SecureItemData> find(const SecureItemKey& key) override CADRIO_EXCLUDES(mutex_);
    bool update(const SecureItemKey& key, std::string_view data) override CADRIO_EXCLUDES(mutex_);
    void add(const SecureItemKey& key, std::string_view data) override CADRIO_EXCLUDES(mutex_);
    bool remove(const SecureItemKey& key) override CADRIO_EXCLUDES(mutex_);
    std::string_view backendName() const override { return "memory"; }

    // Every following call throws KeychainError(status) until cleared with
    // nullopt.
    void failWith(std::optional<std::int32_t> status) CADRIO_EXCLUDES(mutex_);

    // Number of items held, for assertions.
    std::size_t size() const CADRIO_EXCLUDES(mutex_);

private:
    using Key = std::tuple<std::string, std::string, std::string>;
    Key checkedKeyLocked(const SecureItemKey& key) const CADRIO_REQUIRES(mutex_);

    mutable Mutex mutex_;
    std::map<Key, SecureItemData> items_ CADRIO_GUARDED_BY(mutex_);
    std::optional<std::int32_t> failure_ CADRIO_GUARDED_BY(mutex_);
};

}  // namespace cadrio
