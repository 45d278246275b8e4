#pragma once
// The host's side of loading a plug-in: dlopen the shared object, check
// that it was built against this interface, and create extension objects
// that keep the library loaded for as long as they live.
//
// A PluginLibrary is immutable after open(); createExtension may be called
// from any thread.

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "platform/fileprovider/domain.hpp"
#include "platform/fileprovider/plugin_abi.hpp"
#include "platform/fileprovider/replicated_extension.hpp"

namespace cadrio::fileprovider {

class PluginLoadError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class PluginLibrary : public std::enable_shared_from_this<PluginLibrary> {
    struct Passkey {};

public:
    /// Throws PluginLoadError when the file cannot be loaded, lacks one of
    /// the entry symbols, or reports another interface version.
    static std::shared_ptr<PluginLibrary> open(const std::filesystem::path& path);

    PluginLibrary(Passkey, void* handle, std::filesystem::path path);
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    /// A new extension for `domain`; the library stays loaded until it and
    /// every other extension of the library are gone. Throws PluginLoadError
    /// when the plug-in answers null.
    ExtensionPtr createExtension(const Domain& domain, const HostContext& host = {});

    const std::filesystem::path& path() const noexcept { return path_; }

private:
    void* handle_;
    std::filesystem::path path_;
    decltype(&cadrio_fileprovider_create) create_ = nullptr;
};

}  // namespace cadrio::fileprovider
