// The host's registries as read from disk: the same bytes are the domain
// registry, a plug-in manifest and the plug-in elections. Reading never
// throws for the content; the domains read are valid and distinct and
// survive a change written back; a manifest read has its three fields, and
// switching its plug-in off sticks.

#include <algorithm>
#include <set>

#include "fuzz/fuzz_input.hpp"
#include "platform/host/domain_registry.hpp"
#include "platform/host/plugin_registry.hpp"

using namespace cadrio;
using fuzz::require;

namespace {

void checkDomains(const std::filesystem::path& file, std::string_view bytes) {
    fuzz::writeFile(file, bytes);
    std::filesystem::remove(file.string() + ".damaged");
    host::DomainRegistry registry(file);
    const std::vector<fileprovider::Domain> domains = registry.domains();
    std::set<std::string> identifiers;
    for (const auto& domain : domains) {
        require(host::isValidDomainIdentifier(domain.identifier));
        require(identifiers.insert(domain.identifier).second);
    }
    // A change rewrites the file: what was read must come back as it was.
    registry.add({"fuzz", "Fuzz", true});
    std::vector<fileprovider::Domain> expected = domains;
    if (identifiers.count("fuzz") == 0) expected.push_back({"fuzz", "Fuzz", true});
    for (auto& domain : expected) {
        if (domain.identifier == "fuzz") domain.displayName = "Fuzz";
    }
    require(host::DomainRegistry(file).domains() == expected);
}

void checkPlugins(const std::filesystem::path& folder, std::string_view bytes) {
    const std::filesystem::path plugins = folder / "plugins";
    std::filesystem::create_directories(plugins);
    fuzz::writeFile(plugins / "manifest.json", bytes);
    const std::filesystem::path elections = folder / "plugins.json";
    fuzz::writeFile(elections, bytes);
    std::filesystem::remove(elections.string() + ".damaged");
    host::PluginRegistry registry({plugins}, elections);
    for (const host::PluginManifest& manifest : registry.plugins()) {
        require(!manifest.identifier.empty() && !manifest.version.empty() &&
                !manifest.library.empty());
        (void)registry.isElected(manifest.identifier);
        require(registry.setElected(manifest.identifier, false));
        require(!registry.isElected(manifest.identifier));
    }
    (void)registry.isElected(host::PluginRegistry::kFileProviderPlugin);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quietLogs();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes = fuzz::text(data, size);
    const std::filesystem::path& folder = fuzz::scratchFolder();
    checkDomains(folder / "domains.json", bytes);
    checkPlugins(folder, bytes);
    return 0;
}
