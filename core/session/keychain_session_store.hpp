#pragma once

#include <string>

#include "core/session/session_storing.hpp"
#include "platform/keychain/secure_item_store.hpp"

namespace cadrio {

// The session kept as one secure item: service and access group as given
// (both deliverables pass "zelvano.cadrio.session" and the application group
// identifier), account "current", data the JSON form of DriveSession.
//
// Errors: KeychainError from the item store passes through unchanged;
// load() throws SessionDecodingError for an item that does not decode and
// leaves the item in place, save() throws SessionEncodingError before
// touching the store.
//
// Holds no mutable state of its own (copyable, usable from any thread); the
// item store, which must outlive it, serialises access.
class KeychainSessionStore final : public SessionStoring {
public:
    static constexpr const char* currentAccount = "current";

    KeychainSessionStore(std::string service, std::string accessGroup, SecureItemStore& items);

    std::optional<DriveSession> load() override;
    void save(const DriveSession& session) override;
    void clear() override;

private:
    SecureItemKey key_;
    SecureItemStore* items_;
};

}  // namespace cadrio
