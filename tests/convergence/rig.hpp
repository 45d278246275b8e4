#pragma once
// The system under test, as on a user's machine: a cadrio-devserver with
// one account, a private session bus, the application's terminal front end
// signed in, and the host it starts, which mounts the drive at
// <work>/home/Cadrio through the built plug-in. The host is started through
// a small wrapper so that its log lands in <work>/host.log.
//
// Threads: one (the harness's). Every wait is bounded and goes through the
// clock given.

#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "core/support/clock.hpp"
#include "platform/host/private_bus_testing.hpp"
#include "tests/convergence/admin_api.hpp"
#include "tests/convergence/child_process.hpp"

namespace cadrio::convergence {

struct RigPrograms {
    std::filesystem::path devserver, application, host, pluginkit, plugin;
};

class Rig {
public:
    /// Starts everything and waits for the mounted, settled drive; throws
    /// std::runtime_error when a piece does not come up.
    Rig(const RigPrograms& programs, const std::filesystem::path& work, Clock& clock);
    /// Stops the application, the host (which unmounts) and the server.
    ~Rig();

    const std::filesystem::path& root() const { return root_; }
    AdminApi& admin() { return *admin_; }
    const std::string& account() const { return account_; }

    /// SIGKILL of the host; false when no host was running.
    bool killHost();
    /// Waits until a host owns the bus name again and the mount answers.
    bool awaitHost(Clock::Duration timeout);
    /// The application's refresh (signal, then the host's stabilisation
    /// wait), then one more signal and wait over the bus; false when an
    /// answer did not come in time.
    bool settle();
    /// Local changes the drive has not taken yet; nullopt without a host.
    std::optional<std::uint64_t> pendingChanges();

private:
    pid_t hostPid();
    bool mountAnswers() const;
    std::string callHost(const char* method, const char* types, const char* argument, std::uint64_t* pending);
    void startServer(const RigPrograms& programs);
    void startApplication(const RigPrograms& programs);

    Clock& clock_;
    std::filesystem::path work_, home_, root_;
    std::string account_ = "convergence@cadrio.test";
    host::testing::PrivateBus bus_;
    std::unique_ptr<ChildProcess> server_;
    std::unique_ptr<AdminApi> admin_;
    std::unique_ptr<ChildProcess> application_;
};

}  // namespace cadrio::convergence
