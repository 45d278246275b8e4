#include "platform/host/plugin_registry.hpp"

#include <algorithm>
#include <cerrno>
#include <string_view>
#include <system_error>

#include "core/support/atomic_file.hpp"
#include "platform/host/host_logger.hpp"

#ifndef CADRIO_INSTALLED_PLUGIN_FOLDER
#define CADRIO_INSTALLED_PLUGIN_FOLDER "/usr/lib/cadrio-fileproviderd/plugins"
#endif

namespace cadrio::host {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr std::size_t kMaxManifestBytes = 64 << 10;


std::optional<PluginManifest> readManifest(const fs::path& file) {
    json document;
    try {
        document = json::parse(readWholeFile(file, kMaxManifestBytes), nullptr, /*allow_exceptions=*/false);
    } catch (const std::system_error& e) {
        hostLogger().error("Manifeste de plug-in illisible : {} ({})", file, e.what());
        return std::nullopt;
    }
    const auto text = [&](const char* key) -> std::string {
        const auto found = document.is_object() ? document.find(key) : document.end();
        return found != document.end() && found->is_string() ? found->get<std::string>() : std::string();
    };
    PluginManifest manifest{text("identifier"), text("version"), text("library"), file};
    if (manifest.identifier.empty() || manifest.version.empty() || manifest.library.empty()) {
        hostLogger().error("Manifeste de plug-in incomplet, ignoré : {}", file);
        return std::nullopt;
    }
    manifest.library = file.parent_path() / manifest.library;
    return manifest;
}

std::vector<fs::path> manifestsIn(const fs::path& folder) {
    std::vector<fs::path> files;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        if (it->path().extension() == ".json" && it->is_regular_file(error)) files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

PluginRegistry::PluginRegistry(std::vector<fs::path> searchFolders, fs::path electionsFile)
    : searchFolders_(std::move(searchFolders)), elections_(std::move(electionsFile), hostLogger()) {}

std::vector<fs::path> PluginRegistry::searchPath(const char* pluginPathVariable, const fs::path& installedFolder) {
    std::vector<fs::path> folders;
    std::string_view rest = pluginPathVariable != nullptr ? pluginPathVariable : "";
    while (!rest.empty()) {
        const std::size_t colon = rest.find(':');
        const std::string_view part = rest.substr(0, colon);
        if (!part.empty()) folders.emplace_back(part);
        rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    }
    folders.push_back(installedFolder);
    return folders;
}

fs::path PluginRegistry::installedFolder() { return CADRIO_INSTALLED_PLUGIN_FOLDER; }

std::vector<PluginManifest> PluginRegistry::plugins() const {
    std::vector<PluginManifest> found;
    for (const fs::path& folder : searchFolders_) {
        for (const fs::path& file : manifestsIn(folder)) {
            auto manifest = readManifest(file);
            if (!manifest) continue;
            const bool shadowed = std::any_of(found.begin(), found.end(), [&](const PluginManifest& m) {
                return m.identifier == manifest->identifier;
            });
            if (!shadowed) found.push_back(std::move(*manifest));
        }
    }
    return found;
}

std::optional<PluginManifest> PluginRegistry::find(const std::string& identifier) const {
    for (PluginManifest& manifest : plugins()) {
        if (manifest.identifier == identifier) return std::move(manifest);
    }
    return std::nullopt;
}

bool PluginRegistry::isElected(const std::string& identifier) const {
    LockGuard lock(mutex_);
    const json document = elections_.load();
    const auto elections = document.find("elections");
    if (elections == document.end() || !elections->is_object()) return true;
    const auto vote = elections->find(identifier);
    return vote == elections->end() || *vote != "ignore";
}

bool PluginRegistry::setElected(const std::string& identifier, bool elected) {
    if (!find(identifier)) return false;
    LockGuard lock(mutex_);
    json document = elections_.load();
    if (!document.contains("elections") || !document["elections"].is_object()) document["elections"] = json::object();
    document["elections"][identifier] = elected ? "use" : "ignore";
    elections_.save(document);
    return true;
}

}  // namespace cadrio::host
