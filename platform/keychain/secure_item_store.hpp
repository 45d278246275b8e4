#pragma once
// The secure item store: small secrets kept outside the program, shared by
// the tray application and the file-provider plug-in of the same user. The
// session and trusted-device stores are built on it.

#include <optional>
#include <string>
#include <string_view>

namespace cadrio {

// Identity of one item. Two keys name the same item exactly when all three
// texts are equal byte for byte. Texts must not contain NUL bytes.
struct SecureItemKey {
    std::string service;
    std::string account;
    std::string accessGroup;

    friend bool operator==(const SecureItemKey&, const SecureItemKey&) = default;
};

// Item data are raw bytes kept in a std::string; they need not be text.
using SecureItemData = std::string;

// The four operations every backend offers. An absent item is an ordinary
// answer (nullopt or false); every other failure throws KeychainError, and a
// failed call leaves the item as it was.
//
// Thread-safety: every implementation may be called from any thread at the
// same time; each says how it serialises its own state. Items are shared with
// other processes, so two calls are never assumed to see the same state.
class SecureItemStore {
public:
    virtual ~SecureItemStore() = default;

    // The data of the item, or nullopt when there is none.
    virtual std::optional<SecureItemData> find(const SecureItemKey& key) = 0;

    // Replaces the data of an existing item; false (nothing written) when the
    // item does not exist.
    virtual bool update(const SecureItemKey& key, std::string_view data) = 0;

    // Creates the item; throws KeychainError(duplicateItem) when it exists.
    virtual void add(const SecureItemKey& key, std::string_view data) = 0;

    // Deletes the item; false when there was none.
    virtual bool remove(const SecureItemKey& key) = 0;

    // Short name of the backend for the logs ("libsecret", "file", ...).
    virtual std::string_view backendName() const = 0;
};

// Throws KeychainError(invalidParameter) for a key no backend can represent
// (a text holding a NUL byte). Every backend calls it first, so they all
// refuse the same keys.
void requireValidKey(const SecureItemKey& key);

}  // namespace cadrio
