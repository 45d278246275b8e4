// cadrio-pluginkit: lists the host's plug-ins and records the user's
// elections (see platform/host/pluginkit_command.hpp).

#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "platform/host/host_directories.hpp"
#include "platform/host/plugin_registry.hpp"
#include "platform/host/pluginkit_command.hpp"

int main(int argc, char** argv) {
    using namespace cadrio::host;
    try {
        const HostDirectories directories = HostDirectories::fromEnvironment();
        PluginRegistry registry(
            PluginRegistry::searchPath(std::getenv("CADRIO_PLUGIN_PATH"), PluginRegistry::installedFolder()),
            directories.data / "plugins.json");
        return runPluginKit(std::vector<std::string>(argv + 1, argv + argc), registry, std::cout, std::cerr);
    } catch (const std::exception& e) {
        std::cerr << "cadrio-pluginkit: " << e.what() << "\n";
        return 1;
    }
}
