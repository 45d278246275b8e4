// A minimal plug-in for the loader tests: its extension knows only the root
// container of its domain.

#include "platform/fileprovider/plugin_abi.hpp"

namespace {

using namespace cadrio::fileprovider;

class SampleExtension final : public ReplicatedExtension {
public:
    explicit SampleExtension(Domain domain) : domain_(std::move(domain)) {}

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

private:
    Domain domain_;
};

}  // namespace

CADRIO_FILEPROVIDER_EXPORT ReplicatedExtension* cadrio_fileprovider_create(const Domain* domain) noexcept {
    if (domain == nullptr || domain->identifier.empty()) return nullptr;
    try {
        return new SampleExtension(*domain);
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
