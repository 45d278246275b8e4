// cadrio-fileproviderd: the file-provider host. Serves the domain manager on
// the session bus and mounts every enabled domain through the elected
// plug-in; SIGTERM or SIGINT unmounts them and exits.

#include <systemd/sd-daemon.h>

#include <atomic>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "core/support/clock.hpp"
#include "platform/desktop/termination_signals.hpp"
#include "platform/host/daemon_options.hpp"
#include "platform/host/domain_host.hpp"
#include "platform/host/domain_manager_service.hpp"
#include "platform/host/domain_registry.hpp"
#include "platform/host/file_watch.hpp"
#include "platform/host/host_directories.hpp"
#include "platform/host/mounted_domain.hpp"
#include "platform/host/plugin_loader.hpp"
#include "platform/host/plugin_registry.hpp"
#include "platform/host/sleep_watch.hpp"
#include "platform/host/host_logger.hpp"
#include "platform/log/logger.hpp"

namespace {

using namespace cadrio;
using namespace cadrio::host;

const log::Logger& logger = hostLogger();

std::vector<std::filesystem::path> pluginSearchPath(const DaemonOptions& options) {
    std::string path = options.pluginPath.value_or("");
    if (const char* variable = std::getenv("CADRIO_PLUGIN_PATH")) path += std::string(":") + variable;
    return PluginRegistry::searchPath(path.c_str(), PluginRegistry::installedFolder());
}

/// Where the mounts' news goes: the bus service, once it exists. Mounts
/// start only after it is set, and stop before it goes.
using ServiceSlot = std::atomic<DomainManagerService*>;

DomainHost::MountFactory mountFactory(PluginLoader& plugin, ServiceSlot& service) {
    return [&plugin, &service](const fileprovider::Domain& domain,
                               const MountPaths& paths) -> std::unique_ptr<DomainMount> {
        auto library = plugin.library();
        MountedDomain::Settings settings;
        settings.mountPoint = paths.mountPoint;
        settings.replicaFile = paths.replicaFile;
        settings.cacheDirectory = paths.cacheDirectory;
        settings.refused = [&service, identifier = domain.identifier](const std::string& path,
                                                                      const fileprovider::Error& error) {
            if (DomainManagerService* bus = service.load()) bus->notifyChangeRefused(identifier, path, error);
        };
        settings.pendingChanged = [&service, identifier = domain.identifier](std::size_t count) {
            if (DomainManagerService* bus = service.load()) bus->notifyPendingChanges(identifier, count);
        };
        return std::make_unique<MountedDomain>(
            domain,
            [library, domain](const fileprovider::HostContext& context) {
                return library->createExtension(domain, context);
            },
            std::move(settings), SystemClock::shared());
    };
}

int serve(const DaemonOptions& options) {
    desktop::TerminationSignals signals(hostLogger());  // first, before any thread starts
    if (options.foreground) log::setProcessSink(std::make_shared<log::StreamSink>(2));

    const HostDirectories directories = HostDirectories::fromEnvironment();
    DomainRegistry registry(directories.data / "domains.json");
    const PluginRegistry plugins(pluginSearchPath(options), directories.data / "plugins.json");
    PluginLoader plugin(plugins, PluginRegistry::kFileProviderPlugin);
    ServiceSlot serviceSlot{nullptr};
    DomainHost host(registry, mountFactory(plugin, serviceSlot), [&plugin] { return plugin.elected(); },
                    DomainHost::Settings{directories, options.mountRoot});

    // The bus name is taken before anything is mounted, so that a second
    // daemon leaves the first one's mounts alone.
    DomainManagerService service(host);
    serviceSlot.store(&service);
    host.setDomainsChangedHandler([&service] { service.notifyDomainsChanged(); });
    const SleepWatch sleep([&host](bool sleeping) { host.prepareForSleep(sleeping); });
    // cadrio-pluginkit -e rewrites the elections while the daemon runs.
    const FileWatch elections(directories.data / "plugins.json", [&host] { host.followElection(); });
    signals.start([&service](int) { service.stop(); });
    // Clients may call as soon as the name is ours; mounting follows. Without
    // a service manager (NOTIFY_SOCKET unset) the notifications do nothing.
    sd_notify(0, "READY=1");
    logger.notice("Hôte de fichiers démarré");
    {
        std::jthread mounting([&host] { host.mountEnabledDomains(); });
        service.run();
    }
    sd_notify(0, "STOPPING=1");
    host.setDomainsChangedHandler({});
    host.unmountAll();
    serviceSlot.store(nullptr);
    logger.notice("Hôte de fichiers arrêté");
    return EXIT_SUCCESS;
}

}  // namespace

int main(int argc, char** argv) {
    const auto parsed = parseDaemonOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (const auto* error = std::get_if<std::string>(&parsed)) {
        std::cerr << "cadrio-fileproviderd: " << *error << "\n" << kDaemonUsage;
        return 64;
    }
    const DaemonOptions& options = std::get<DaemonOptions>(parsed);
    if (options.help) {
        std::cout << kDaemonUsage;
        return EXIT_SUCCESS;
    }
    try {
        return serve(options);
    } catch (const std::exception& e) {
        logger.fault("Arrêt de l'hôte de fichiers : {}", e.what());
        std::cerr << "cadrio-fileproviderd: " << e.what() << "\n";
        return EXIT_FAILURE;
    }
}
