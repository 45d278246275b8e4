#pragma once

#include <string>

#include "core/session/trusted_device_storing.hpp"
#include "platform/keychain/secure_item_store.hpp"

namespace cadrio {

// Trusted-device tokens as secure items: one per account, the account
// lower-cased (trustedDeviceKey) so that a token is found whatever the case
// of the address typed at sign-in; data the token's UTF-8 bytes.
//
// Never throws: a store failure reads as "no token" or is dropped, and a
// stored value that is not UTF-8 reads as no token. The server then simply
// asks for the second factor again.
//
// Holds no mutable state of its own; the item store, which must outlive it,
// serialises access.
class KeychainTrustedDeviceStore final : public TrustedDeviceStoring {
public:
    KeychainTrustedDeviceStore(std::string service, std::string accessGroup, SecureItemStore& items);

    std::optional<std::string> token(const std::string& account) override;
    void save(const std::string& token, const std::string& account) override;
    void remove(const std::string& account) override;

private:
    SecureItemKey keyFor(const std::string& account) const;

    std::string service_;
    std::string accessGroup_;
    SecureItemStore* items_;
};

}  // namespace cadrio
