#pragma once
// The entry symbols of a file-provider plug-in, a shared object that the host
// loads with dlopen. The plug-in defines both functions with
// CADRIO_FILEPROVIDER_EXPORT; the host finds them with dlsym by the names
// below (see PluginLibrary).
//
// The interface crosses the boundary as C++ classes and standard-library
// types, so host and plug-in must be built by the same compiler and standard
// library from the same headers: kPluginAbiVersion changes whenever a header
// of platform/fileprovider or platform/types changes a layout or a virtual
// function, and the host refuses a plug-in built against another value.

#include "platform/fileprovider/domain.hpp"
#include "platform/fileprovider/host_context.hpp"
#include "platform/fileprovider/replicated_extension.hpp"

namespace cadrio::fileprovider {

inline constexpr int kPluginAbiVersion = 1;
inline constexpr const char* kCreateExtensionSymbol = "cadrio_fileprovider_create";
inline constexpr const char* kAbiVersionSymbol = "cadrio_fileprovider_abi_version";

}  // namespace cadrio::fileprovider

#define CADRIO_FILEPROVIDER_EXPORT extern "C" __attribute__((visibility("default")))

/// A new extension object for `domain`, owned by the caller, who deletes it
/// through its virtual destructor while the plug-in is still loaded. The
/// host passes both pointers non-null; the plug-in copies what it keeps.
/// Answers null when the extension cannot be built; never throws.
CADRIO_FILEPROVIDER_EXPORT cadrio::fileprovider::ReplicatedExtension* cadrio_fileprovider_create(
    const cadrio::fileprovider::Domain* domain, const cadrio::fileprovider::HostContext* host) noexcept;

/// kPluginAbiVersion as the plug-in was built with it.
CADRIO_FILEPROVIDER_EXPORT int cadrio_fileprovider_abi_version() noexcept;
