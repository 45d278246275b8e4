#include "platform/host/plugin_loader.hpp"

#include "platform/host/host_logger.hpp"

namespace cadrio::host {

bool PluginLoader::elected() const { return registry_.find(identifier_) && registry_.isElected(identifier_); }

std::shared_ptr<fileprovider::PluginLibrary> PluginLoader::library() {
    LockGuard lock(mutex_);
    if (library_) return library_;
    const auto manifest = registry_.find(identifier_);
    if (!manifest) throw fileprovider::PluginLoadError("the plug-in " + identifier_ + " is not installed");
    library_ = fileprovider::PluginLibrary::open(manifest->library);
    hostLogger().info("Plug-in {} {} chargé depuis {}", manifest->identifier, manifest->version, manifest->library);
    return library_;
}

}  // namespace cadrio::host
