#include "platform/keychain/secure_item_store.hpp"

#include "platform/keychain/keychain_error.hpp"

namespace cadrio {

void requireValidKey(const SecureItemKey& key) {
    for (const std::string* text : {&key.service, &key.account, &key.accessGroup}) {
        if (text->find('\0') != std::string::npos) {
            throw KeychainError(keychain_status::invalidParameter, "caractère NUL dans la clé");
        }
    }
}

}  // namespace cadrio
