// Building the extension the host gets, from the real secret store,
// transport and container files.

#include <stdexcept>

#include "core/http/api_configuration.hpp"
#include "core/http/curl_transport.hpp"
#include "core/model/zelvano_cadrio.hpp"
#include "core/session/keychain_session_store.hpp"
#include "core/session/keychain_trusted_device_store.hpp"
#include "fileprovider/drive_api_listing.hpp"
#include "fileprovider/file_provider_extension.hpp"
#include "fileprovider/lazy_secure_item_store.hpp"
#include "platform/keychain/in_memory_secure_item_store.hpp"
#include "platform/keychain/secure_item_store_factory.hpp"

namespace cadrio {
namespace {

std::shared_ptr<SecureItemStore> secureItems(const log::Logger& logger) {
    return std::make_shared<LazySecureItemStore>([logger]() -> std::unique_ptr<SecureItemStore> {
        if (const auto container = ZelvanoCadrio::appGroupContainerURL()) {
            return openSecureItemStore(*container, logger);
        }
        // Without a container there is no shared place to find the
        // application's session; the domain stays empty, as it would
        // without a session.
        return std::make_unique<InMemorySecureItemStore>();
    });
}

/// `store` as a shared object that keeps `items` (which it refers to) alive.
template <class Interface, class Store>
std::shared_ptr<Interface> keeping(std::shared_ptr<SecureItemStore> items, Store* store) {
    return std::shared_ptr<Interface>(store, [items = std::move(items)](Interface* owned) { delete owned; });
}

// A development address that cannot be used safely is refused outright:
// falling back to the deployment address would send the developer's
// session where it was never meant to go.
DriveConfiguration clientConfiguration(const log::Logger& logger) {
    try {
        return configurationFromEnvironment();
    } catch (const std::invalid_argument& error) {
        logger.error("Adresse du Cadrio refusée : {}", error.what());
        throw;
    }
}

}  // namespace

std::unique_ptr<FileProviderExtension> FileProviderExtension::create(fileprovider::Domain domain,
                                                                     fileprovider::HostContext host) {
    log::Logger logger{std::string(ZelvanoCadrio::logSubsystem), std::string(ZelvanoCadrio::logCategoryFileProvider)};
    const std::shared_ptr<SecureItemStore> items = secureItems(logger);
    const std::string group(ZelvanoCadrio::keychainAccessGroup);
    auto sessions = keeping<SessionStoring>(
        items, new KeychainSessionStore(std::string(ZelvanoCadrio::sessionKeychainService), group, *items));
    auto trustedDevices = keeping<TrustedDeviceStoring>(
        items, new KeychainTrustedDeviceStore(std::string(ZelvanoCadrio::trustedDeviceKeychainService), group, *items));
    auto client = std::make_shared<ApiClient>(clientConfiguration(logger), std::make_shared<CurlTransport>(),
                                              std::move(sessions), std::move(trustedDevices));
    auto api = std::make_shared<const DriveAPI>(client);
    Parts parts{.client = client,
                .api = api,
                .listing = std::make_shared<DriveAPIListing>(api),
                .store = std::make_shared<ItemStore>(domain.identifier)};
    return std::make_unique<FileProviderExtension>(std::move(domain), std::move(host), std::move(parts),
                                                   std::move(logger));
}

}  // namespace cadrio
