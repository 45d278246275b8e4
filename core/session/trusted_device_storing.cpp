#include "core/session/trusted_device_storing.hpp"

#include "core/model/unicode_lowercase.hpp"

namespace cadrio {

std::string trustedDeviceKey(const std::string& account) { return unicodeLowercased(account); }

std::optional<std::string> InMemoryTrustedDeviceStore::token(const std::string& account) {
    LockGuard lock(mutex_);
    const auto found = tokens_.find(trustedDeviceKey(account));
    if (found == tokens_.end()) return std::nullopt;
    return found->second;
}

void InMemoryTrustedDeviceStore::save(const std::string& token, const std::string& account) {
    LockGuard lock(mutex_);
    tokens_[trustedDeviceKey(account)] = token;
}

void InMemoryTrustedDeviceStore::remove(const std::string& account) {
    LockGuard lock(mutex_);
    tokens_.erase(trustedDeviceKey(account));
}

}  // namespace cadrio
