#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <tuple>

#include "platform/keychain/secure_item_store.hpp"

namespace cadrio {

// A secure item store in memory, for tests. It can be told to fail the next
// calls with a status, to exercise the failure paths of its users.
//
// Thread-safety: mutex_ guards items_ and failure_; every call holds it for
// its whole (short, non-blocking) duration.
class InMemorySecureItemStore final : public SecureItemStore {
public:
    std::optional<SecureItemData> find(const SecureItemKey& key) override;
    bool update(const SecureItemKey& key, std::string_view data) override;
    void add(const SecureItemKey& key, std::string_view data) override;
    bool remove(const SecureItemKey& key) override;
    std::string_view backendName() const override { return "memory"; }

    // Every following call throws KeychainError(status) until cleared with
    // nullopt.
    void failWith(std::optional<std::int32_t> status);

    // Number of items held, for assertions.
    std::size_t size() const;

private:
    using Key = std::tuple<std::string, std::string, std::string>;
    Key checkedKeyLocked(const SecureItemKey& key) const;

    mutable std::mutex mutex_;
    std::map<Key, SecureItemData> items_;
    std::optional<std::int32_t> failure_;
};

}  // namespace cadrio
