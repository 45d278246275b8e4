#include "platform/keychain/in_memory_secure_item_store.hpp"

#include "platform/keychain/keychain_error.hpp"

namespace cadrio {

InMemorySecureItemStore::Key InMemorySecureItemStore::checkedKeyLocked(const SecureItemKey& key) const {
    if (failure_) {
        throw KeychainError(*failure_);
    }
    requireValidKey(key);
    return {key.service, key.account, key.accessGroup};
}

std::optional<SecureItemData> InMemorySecureItemStore::find(const SecureItemKey& key) {
    LockGuard lock(mutex_);
    const auto found = items_.find(checkedKeyLocked(key));
    if (found == items_.end()) {
        return std::nullopt;
    }
    return found->second;
}

bool InMemorySecureItemStore::update(const SecureItemKey& key, std::string_view data) {
    LockGuard lock(mutex_);
    const auto found = items_.find(checkedKeyLocked(key));
    if (found == items_.end()) {
        return false;
    }
    found->second.assign(data);
    return true;
}

void InMemorySecureItemStore::add(const SecureItemKey& key, std::string_view data) {
    LockGuard lock(mutex_);
    if (!items_.emplace(checkedKeyLocked(key), SecureItemData(data)).second) {
        throw KeychainError(keychain_status::duplicateItem);
    }
}

bool InMemorySecureItemStore::remove(const SecureItemKey& key) {
    LockGuard lock(mutex_);
    return items_.erase(checkedKeyLocked(key)) > 0;
}

void InMemorySecureItemStore::failWith(std::optional<std::int32_t> status) {
    LockGuard lock(mutex_);
    failure_ = status;
}

std::size_t InMemorySecureItemStore::size() const {
    LockGuard lock(mutex_);
    return items_.size();
}

}  // namespace cadrio
