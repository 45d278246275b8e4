// The two symbols the host looks up when it loads the plug-in; everything
// else in the shared object stays hidden.

#include "fileprovider/file_provider_extension.hpp"
#include "platform/fileprovider/plugin_abi.hpp"

CADRIO_FILEPROVIDER_EXPORT cadrio::fileprovider::ReplicatedExtension* cadrio_fileprovider_create(
    const cadrio::fileprovider::Domain* domain, const cadrio::fileprovider::HostContext* host) noexcept {
    if (domain == nullptr || host == nullptr || domain->identifier.empty()) return nullptr;
    try {
        return cadrio::FileProviderExtension::create(*domain, *host).release();
    } catch (...) {
        return nullptr;
    }
}

CADRIO_FILEPROVIDER_EXPORT int cadrio_fileprovider_abi_version() noexcept {
    return cadrio::fileprovider::kPluginAbiVersion;
}
