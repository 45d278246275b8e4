#include "core/session/keychain_trusted_device_store.hpp"

#include "core/model/utf8_text.hpp"
#include "platform/keychain/keychain_error.hpp"

namespace cadrio {

KeychainTrustedDeviceStore::KeychainTrustedDeviceStore(std::string service, std::string accessGroup,
                                                       SecureItemStore& items)
    : service_(std::move(service)), accessGroup_(std::move(accessGroup)), items_(&items) {}

SecureItemKey KeychainTrustedDeviceStore::keyFor(const std::string& account) const {
    return {service_, trustedDeviceKey(account), accessGroup_};
}

std::optional<std::string> KeychainTrustedDeviceStore::token(const std::string& account) {
    try {
        auto data = items_->find(keyFor(account));
        if (data && isValidUtf8(*data)) {
            return data;
        }
    } catch (const KeychainError&) {
    }
    return std::nullopt;
}

void KeychainTrustedDeviceStore::save(const std::string& token, const std::string& account) {
    try {
        const auto key = keyFor(account);
        if (!items_->update(key, token)) {
            items_->add(key, token);
        }
    } catch (const KeychainError&) {
    }
}

void KeychainTrustedDeviceStore::remove(const std::string& account) {
    try {
        items_->remove(keyFor(account));
    } catch (const KeychainError&) {
    }
}

}  // namespace cadrio
