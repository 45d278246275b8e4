#include "platform/keychain/secure_item_store_factory.hpp"

#include <atomic>
#include <iostream>

#include "platform/keychain/file_secure_item_store.hpp"
#include "platform/keychain/libsecret_item_store.hpp"

namespace cadrio {

namespace {

std::atomic<bool> loggedSecretService = false;
std::atomic<bool> loggedFileStore = false;

void logOnce(std::atomic<bool>& flag, const std::string& message) {
    if (!flag.exchange(true)) {
        std::cerr << "zelvano.cadrio.sync: " << message << '\n';
    }
}

}  // namespace

std::unique_ptr<SecureItemStore> openSecureItemStore(const std::filesystem::path& containerDirectory,
                                                     const SecretServiceProbe& probe) {
    std::string whyNot;
    if (auto store = probe(whyNot)) {
        logOnce(loggedSecretService, "Trousseau : Secret Service du bureau.");
        return store;
    }
    auto store = std::make_unique<FileSecureItemStore>(containerDirectory / "keychain");
    logOnce(loggedFileStore, "Trousseau : fichiers privés sous " + store->directory().string() +
                                 " (" + whyNot + ").");
    return store;
}

std::unique_ptr<SecureItemStore> openSecureItemStore(const std::filesystem::path& containerDirectory) {
    return openSecureItemStore(containerDirectory, [](std::string& whyNot) {
        return std::unique_ptr<SecureItemStore>(LibsecretItemStore::connect(&whyNot));
    });
}

}  // namespace cadrio
