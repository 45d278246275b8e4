#include "tests/support/plugin_session.hpp"

#include <cstdlib>
#include <stdexcept>

#include "core/http/api_configuration.hpp"
#include "core/http/curl_transport.hpp"
#include "core/model/zelvano_cadrio.hpp"
#include "core/session/keychain_session_store.hpp"
#include "core/session/keychain_trusted_device_store.hpp"
#include "platform/keychain/secure_item_store_factory.hpp"

namespace cadrio::testing {
namespace {

/// `store` as a shared object that keeps `items` (which it refers to) alive.
template <class Interface, class Store>
std::shared_ptr<Interface> keeping(std::shared_ptr<SecureItemStore> items, Store* store) {
    return std::shared_ptr<Interface>(store, [items = std::move(items)](Interface* owned) { delete owned; });
}

}  // namespace

PluginSession::PluginSession(const devserver::DevServer& server, std::string_view email, std::string_view password)
    : PluginSession(server.baseURL(), email, password) {}

PluginSession::PluginSession(const std::string& serverURL, std::string_view email, std::string_view password) {
    std::filesystem::create_directories(scratch());
    setVariable("XDG_DATA_HOME", (home_ / "data").string());
    setVariable("CADRIO_API_BASE_URL", serverURL + "/api/v1");
    setVariable("CADRIO_PUSH_BASE_URL", serverURL);
    setVariable("CADRIO_LOG_TARGET", "stderr");
    try {
        const auto container = ZelvanoCadrio::appGroupContainerURL();
        if (!container) throw std::runtime_error("no application group container under " + home_.path().string());
        container_ = *container;
        const log::Logger logger(std::string(ZelvanoCadrio::logSubsystem), "tests");
        items_ = openSecureItemStore(container_, logger);
        const std::string group(ZelvanoCadrio::keychainAccessGroup);
        client_ = std::make_shared<ApiClient>(
            configurationFromEnvironment(), std::make_shared<CurlTransport>(),
            keeping<SessionStoring>(
                items_, new KeychainSessionStore(std::string(ZelvanoCadrio::sessionKeychainService), group, *items_)),
            keeping<TrustedDeviceStoring>(
                items_, new KeychainTrustedDeviceStore(std::string(ZelvanoCadrio::trustedDeviceKeychainService), group,
                                                       *items_)));
        if (!client_->login(email, password).isSignedIn()) {
            throw std::runtime_error("the sign-in of " + std::string(email) + " asks for a second factor");
        }
    } catch (...) {
        restoreVariables();
        throw;
    }
}

PluginSession::~PluginSession() {
    try {
        // Signs out locally only: the stored item goes, the server's session
        // ends with the server.
        if (client_) client_->logout();
    } catch (...) {
        // A keyring gone with its bus leaves nothing behind to clean.
    }
    restoreVariables();
}

void PluginSession::setVariable(const char* name, const std::string& value) {
    const char* old = std::getenv(name);
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    ::setenv(name, value.c_str(), 1);
}

void PluginSession::restoreVariables() noexcept {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
        if (it->second) {
            ::setenv(it->first, it->second->c_str(), 1);
        } else {
            ::unsetenv(it->first);
        }
    }
    saved_.clear();
}

}  // namespace cadrio::testing
