#include "platform/fileprovider/plugin_library.hpp"

#include <dlfcn.h>

namespace cadrio::fileprovider {
namespace {

std::string lastDlError() {
    const char* text = ::dlerror();
    return text != nullptr ? text : "unknown dynamic loader error";
}

void* requireSymbol(void* handle, const char* name, const std::filesystem::path& path) {
    ::dlerror();
    void* symbol = ::dlsym(handle, name);
    if (symbol == nullptr) {
        throw PluginLoadError("plug-in " + path.string() + " lacks " + name + ": " + lastDlError());
    }
    return symbol;
}

}  // namespace

std::shared_ptr<PluginLibrary> PluginLibrary::open(const std::filesystem::path& path) {
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) throw PluginLoadError("cannot load plug-in " + path.string() + ": " + lastDlError());
    auto library = std::make_shared<PluginLibrary>(Passkey{}, handle, path);  // owns the handle from here

    const auto abiVersion =
        reinterpret_cast<decltype(&cadrio_fileprovider_abi_version)>(requireSymbol(handle, kAbiVersionSymbol, path));
    if (const int version = abiVersion(); version != kPluginAbiVersion) {
        throw PluginLoadError("plug-in " + path.string() + " was built for interface version " +
                              std::to_string(version) + ", this host speaks " + std::to_string(kPluginAbiVersion));
    }
    library->create_ =
        reinterpret_cast<decltype(&cadrio_fileprovider_create)>(requireSymbol(handle, kCreateExtensionSymbol, path));
    return library;
}

PluginLibrary::PluginLibrary(Passkey, void* handle, std::filesystem::path path)
    : handle_(handle), path_(std::move(path)) {}

PluginLibrary::~PluginLibrary() {
    ::dlclose(handle_);
}

ExtensionPtr PluginLibrary::createExtension(const Domain& domain, const HostContext& host) {
    ReplicatedExtension* raw = create_(&domain, &host);
    if (raw == nullptr) {
        throw PluginLoadError("plug-in " + path_.string() + " could not create an extension for domain " +
                              domain.identifier);
    }
    // The deleter holds the library: the extension's code must stay mapped
    // until its destructor has run.
    return ExtensionPtr(raw, [library = shared_from_this()](ReplicatedExtension* extension) {
        delete extension;
    });
}

}  // namespace cadrio::fileprovider
