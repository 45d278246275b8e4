#include "app/model/app_dependencies.hpp"

#include <cstdlib>
#include <system_error>

#include "app/domain/domain_controller.hpp"
#include "core/http/api_configuration.hpp"
#include "core/events/event_stream_url.hpp"
#include "core/http/curl_transport.hpp"
#include "core/model/zelvano_cadrio.hpp"
#include "core/session/keychain_session_store.hpp"
#include "core/session/keychain_trusted_device_store.hpp"
#include "platform/desktop/computer_name.hpp"
#include "platform/desktop/wake_watch.hpp"
#include "platform/keychain/in_memory_secure_item_store.hpp"
#include "platform/keychain/secure_item_store_factory.hpp"

namespace cadrio::app {
namespace {

const std::string kSubsystem(ZelvanoCadrio::logSubsystem);

class LogindWakeNotifications final : public WakeNotifications {
public:
    std::shared_ptr<void> observe(std::function<void()> onWake) override {
        return std::make_shared<desktop::WakeWatch>(std::move(onWake),
                                                    log::Logger(kSubsystem, std::string(ZelvanoCadrio::logCategoryApp)));
    }
};

std::shared_ptr<SecureItemStore> secureItems(const log::Logger& logger) {
    if (const auto container = ZelvanoCadrio::appGroupContainerURL()) return openSecureItemStore(*container, logger);
    // No container: the plug-in could not find the session either; keep it
    // for this run only rather than nowhere.
    logger.error("Conteneur partagé introuvable : la session ne sera pas gardée.");
    return std::make_shared<InMemorySecureItemStore>();
}

/// `store` as a shared object that keeps `items`, which it refers to, alive.
template <class Interface, class Store>
std::shared_ptr<Interface> keeping(std::shared_ptr<SecureItemStore> items, Store* store) {
    return std::shared_ptr<Interface>(store, [items = std::move(items)](Interface* owned) { delete owned; });
}

std::filesystem::path homeFolder() {
    const char* home = std::getenv("HOME");
    return home != nullptr && *home == '/' ? std::filesystem::path(home) : std::filesystem::path("/");
}

std::string programPath() {
    std::error_code error;
    const auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string("zelvano-cadrio") : path.string();
}

}  // namespace

AppModel::Dependencies makeAppDependencies(SerialExecutor& executor, Executor& background,
                                           AppDependencyOptions options) {
    const log::Logger appLogger(kSubsystem, std::string(ZelvanoCadrio::logCategoryApp));
    const std::shared_ptr<SecureItemStore> items = secureItems(appLogger);
    const std::string group(ZelvanoCadrio::keychainAccessGroup);
    auto sessions = keeping<SessionStoring>(
        items, new KeychainSessionStore(std::string(ZelvanoCadrio::sessionKeychainService), group, *items));
    auto devices = keeping<TrustedDeviceStoring>(
        items, new KeychainTrustedDeviceStore(std::string(ZelvanoCadrio::trustedDeviceKeychainService), group, *items));
    auto client = std::make_shared<ApiClient>(configurationFromEnvironment(), std::make_shared<CurlTransport>(),
                                              std::move(sessions), std::move(devices), executor.clock());
    auto domains = std::make_shared<DomainController>(
        executor.clock(), log::Logger(kSubsystem, std::string(ZelvanoCadrio::logCategoryDomain)));
    auto defaults = std::make_shared<desktop::UserDefaults>(desktop::UserDefaults::standardLocation(), appLogger);
    std::shared_ptr<desktop::LoginItem> loginItem;
    if (options.manageLoginItem) {
        loginItem = std::make_shared<desktop::AutostartLoginItem>(desktop::AutostartLoginItem::standardLocation(),
                                                                  programPath());
    }
    return AppModel::Dependencies{
        .executor = executor,
        .background = background,
        .client = std::move(client),
        .domains = std::move(domains),
        .defaults = std::move(defaults),
        .loginItem = std::move(loginItem),
        .wake = std::make_shared<LogindWakeNotifications>(),
        .computerName = [] { return desktop::computerName(); },
        .pushBaseURL = eventServerBaseURL(),
        .fallbackFolder = homeFolder() / "Cadrio",
        .summaryLocation = [](const std::string& account) { return ZelvanoCadrio::summaryURL(account); },
        .removeLocalState = [](const std::string& account) { ZelvanoCadrio::removeLocalState(account); },
        .logger = appLogger,
    };
}

}  // namespace cadrio::app
