#include "platform/keychain/secure_item_store_factory.hpp"

#include "platform/keychain/file_secure_item_store.hpp"
#include "platform/keychain/libsecret_item_store.hpp"

namespace cadrio {

std::unique_ptr<SecureItemStore> openSecureItemStore(const std::filesystem::path& containerDirectory,
                                                     const log::Logger& logger,
                                                     const SecretServiceProbe& probe) {
    std::string whyNot;
    if (auto store = probe(whyNot)) {
        logger.info("Trousseau : Secret Service du bureau.");
        return store;
    }
    auto store = std::make_unique<FileSecureItemStore>(containerDirectory / "keychain");
    logger.notice("Trousseau : aucun Secret Service utilisable ({}), éléments gardés dans des fichiers "
                  "privés sous {}.",
                  whyNot, log::privateValue(store->directory().string()));
    return store;
}

std::unique_ptr<SecureItemStore> openSecureItemStore(const std::filesystem::path& containerDirectory,
                                                     const log::Logger& logger) {
    return openSecureItemStore(containerDirectory, logger, [](std::string& whyNot) {
        return std::unique_ptr<SecureItemStore>(LibsecretItemStore::connect(&whyNot));
    });
}

}  // namespace cadrio
