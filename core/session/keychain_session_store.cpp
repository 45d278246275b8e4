#include "core/session/keychain_session_store.hpp"

#include "platform/keychain/keychain_error.hpp"

namespace cadrio {

KeychainSessionStore::KeychainSessionStore(std::string service, std::string accessGroup,
                                           SecureItemStore& items)
    : key_{std::move(service), currentAccount, std::move(accessGroup)}, items_(&items) {}

std::optional<DriveSession> KeychainSessionStore::load() {
    const auto data = items_->find(key_);
    if (!data) {
        return std::nullopt;
    }
    return DriveSession::decoded(*data);
}

void KeychainSessionStore::save(const DriveSession& session) {
    const std::string data = session.encoded();
    if (items_->update(key_, data)) {
        return;
    }
    try {
        items_->add(key_, data);
    } catch (const KeychainError& error) {
        // The other deliverable added the item between our update and add
        // (both renew the session after a refused token): overwrite it.
        if (error.status() != keychain_status::duplicateItem || !items_->update(key_, data)) {
            throw;
        }
    }
}

void KeychainSessionStore::clear() { items_->remove(key_); }

}  // namespace cadrio
