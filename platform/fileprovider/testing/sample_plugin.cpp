// A minimal plug-in for the loader tests: its extension knows only the root
// container of its domain, and "downloads" one fixed text into the host's
// scratch directory.

#include <fstream>

#include "platform/fileprovider/plugin_abi.hpp"

namespace {

using namespace cadrio::fileprovider;

class SampleExtension final : public ReplicatedExtension {
public:
    SampleExtension(Domain domain, HostContext host) : domain_(std::move(domain)), host_(std::move(host)) {}

    std::shared_ptr<Progress> item(const ItemIdentifier& identifier, const Request&, ItemCompletion completion) override {
        if (!identifier.isRootContainer()) {
            completion(nullptr, Error::noSuchItem());
            return Progress::create();
        }
        auto root = std::make_shared<BasicItem>();
        root->identifier = ItemIdentifier::rootContainer();
        root->name = domain_.displayName;
        root->type = cadrio::types::ContentType::folder();
        completion(root, std::nullopt);
        return Progress::create();
    }

    std::shared_ptr<Enumerator> enumerator(const ItemIdentifier&, const Request&) override {
        throw ErrorException(Error::noSuchItem());
    }

    std::shared_ptr<Progress> fetchContents(const ItemIdentifier&, const std::optional<ItemVersion>&, const Request&,
                                            FetchContentsCompletion completion) override {
        const auto directory = host_.temporaryDirectory.value_or(std::filesystem::temp_directory_path());
        const auto path = directory / "sample-contents";
        std::ofstream(path) << "sample";
        completion(path, nullptr, std::nullopt);
        return Progress::create();
    }

private:
    Domain domain_;
    HostContext host_;
};

}  // namespace

CADRIO_FILEPROVIDER_EXPORT ReplicatedExtension* cadrio_fileprovider_create(const Domain* domain,
                                                                           const HostContext* host) noexcept {
    if (domain == nullptr || host == nullptr || domain->identifier.empty()) return nullptr;
    try {
        return new SampleExtension(*domain, *host);
    } catch (...) {
        return nullptr;
    }
}

CADRIO_FILEPROVIDER_EXPORT int cadrio_fileprovider_abi_version() noexcept {
#ifdef CADRIO_SAMPLE_PLUGIN_STALE_ABI
    return kPluginAbiVersion + 1;
#else
    return kPluginAbiVersion;
#endif
}
