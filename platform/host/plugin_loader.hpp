#pragma once
// The daemon's hold on the file-provider plug-in: it is opened on the first
// mount that needs it (so a plug-in elected while the daemon runs is found)
// and stays loaded while any extension of it lives.
//
// Threads: every member may be called from any thread; mutex_ guards the
// open library and is held while it is opened (dlopen), which only the
// first mount waits for.

#include <memory>
#include <string>

#include "core/support/thread_annotations.hpp"
#include "platform/fileprovider/plugin_library.hpp"
#include "platform/host/plugin_registry.hpp"

namespace cadrio::host {

class PluginLoader {
public:
    PluginLoader(const PluginRegistry& registry, std::string identifier)
        : registry_(registry), identifier_(std::move(identifier)) {}

    /// Whether the plug-in is installed and elected.
    bool elected() const;
    /// The open library; throws fileprovider::PluginLoadError when the
    /// plug-in is not installed or cannot be loaded.
    std::shared_ptr<fileprovider::PluginLibrary> library() CADRIO_EXCLUDES(mutex_);

private:
    const PluginRegistry& registry_;
    const std::string identifier_;
    Mutex mutex_;
    std::shared_ptr<fileprovider::PluginLibrary> library_ CADRIO_GUARDED_BY(mutex_);
};

}  // namespace cadrio::host
