#pragma once
// A signed-in demo account where the loaded plug-in looks for it: the tests
// that create the extension through the real module cannot hand it a client,
// so the session goes through the same secret store and container the tray
// application would use, and the plug-in restores it on its own.
//
// Environment: for its lifetime the object points XDG_DATA_HOME (the shared
// container, hence the file secret store and the item stores) at a private
// folder, CADRIO_API_BASE_URL and CADRIO_PUSH_BASE_URL at the server, and
// sends the logs to standard error; the destructor removes the stored
// session and puts the previous values back. Changing the environment is not
// thread-safe: build and destroy it while no other thread of the test runs.
//
// The secret store is chosen as the plug-in chooses it: the Secret Service
// of the session bus when one answers unlocked, else the file store in the
// container. The Secret Service is shared by every process of the bus and
// holds one session item, so tests using this class must not run at the same
// time as each other: give them the CTest RESOURCE_LOCK
// "cadrio-secret-store-session".

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/http/api_client.hpp"
#include "core/support/temporary_directory.hpp"
#include "devserver/dev_server.hpp"
#include "platform/keychain/secure_item_store.hpp"
#include "tests/support/demo_server.hpp"

namespace cadrio::testing {

class PluginSession {
public:
    /// Signs `email` in against `server` (which must be running) and leaves
    /// the session in the secret store. Throws std::runtime_error when the
    /// sign-in does not end signed in.
    explicit PluginSession(const devserver::DevServer& server, std::string_view email = kDemoAccount,
                           std::string_view password = kDemoPassword);
    /// The same against a server of another process, by its root URL
    /// ("http://127.0.0.1:PORT").
    PluginSession(const std::string& serverURL, std::string_view email, std::string_view password);
    /// Clears the stored session; restores the environment.
    ~PluginSession();
    PluginSession(const PluginSession&) = delete;
    PluginSession& operator=(const PluginSession&) = delete;

    /// The client that signed in; it shares the stored session with the
    /// plug-in (a refresh by either is seen by the other at its next load).
    const std::shared_ptr<ApiClient>& client() const noexcept { return client_; }
    /// The application group container the plug-in will use.
    const std::filesystem::path& container() const noexcept { return container_; }
    /// A private scratch folder, for the host's temporary directory and the
    /// test's own files.
    std::filesystem::path scratch() const { return home_ / "scratch"; }
    /// "libsecret" or "file": where the session went.
    std::string_view secretStoreBackend() const { return items_->backendName(); }

private:
    void setVariable(const char* name, const std::string& value);
    void restoreVariables() noexcept;

    TemporaryDirectory home_{"plugin-session"};
    std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
    std::filesystem::path container_;
    std::shared_ptr<SecureItemStore> items_;
    std::shared_ptr<ApiClient> client_;
};

}  // namespace cadrio::testing
