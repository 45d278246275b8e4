#include "core/model/zelvano_cadrio.hpp"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <system_error>

#include "core/model/unicode_lowercase.hpp"
#include "core/model/url_check.hpp"

#ifndef CADRIO_DEFAULT_API_BASE_URL
#error "CADRIO_DEFAULT_API_BASE_URL must be defined by the build"
#endif
#ifndef CADRIO_DEFAULT_PUSH_BASE_URL
#error "CADRIO_DEFAULT_PUSH_BASE_URL must be defined by the build"
#endif

namespace cadrio::ZelvanoCadrio {
namespace {

namespace fs = std::filesystem;

std::string builtURL(const char* name, const char* literal) {
    if (!isHTTPURL(literal)) {
        std::fprintf(stderr, "zelvano-cadrio: the build-time %s \"%s\" is not an http(s) URL\n", name, literal);
        std::abort();
    }
    return literal;
}

std::optional<fs::path> absoluteEnvironmentPath(const char* variable) {
    const char* value = std::getenv(variable);
    if (value == nullptr || *value == '\0') return std::nullopt;
    fs::path path(value);
    if (!path.is_absolute()) return std::nullopt;
    return path;
}

std::optional<fs::path> dataHome() {
    if (auto xdg = absoluteEnvironmentPath("XDG_DATA_HOME")) return xdg;
    if (auto home = absoluteEnvironmentPath("HOME")) return *home / ".local" / "share";
    return std::nullopt;
}

// Makes `directory` exist as a directory private to its owner.
bool ensurePrivateDirectory(const fs::path& directory) {
    std::error_code error;
    fs::create_directories(directory.parent_path(), error);
    if (error) return false;
    if (::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat info {};
    if (::stat(directory.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return false;
    if ((info.st_mode & 07777) == 0700) return true;
    return ::chmod(directory.c_str(), 0700) == 0;
}

std::optional<fs::path> containerFile(const std::string& fileName) {
    auto container = appGroupContainerURL();
    if (!container) return std::nullopt;
    return *container / fileName;
}

}  // namespace

const std::string& defaultAPIBaseURL() {
    static const std::string url = builtURL("API base URL", CADRIO_DEFAULT_API_BASE_URL);
    return url;
}

const std::string& pushBaseURL() {
    static const std::string url = builtURL("event server URL", CADRIO_DEFAULT_PUSH_BASE_URL);
    return url;
}

std::optional<fs::path> appGroupContainerURL() {
    const auto base = dataHome();
    if (!base) return std::nullopt;
    fs::path container = *base / std::string(appGroupIdentifier);
    if (!ensurePrivateDirectory(container)) return std::nullopt;
    return container;
}

std::string sanitizedDomainKey(std::string_view domainIdentifier) {
    std::string key = unicodeLowercased(domainIdentifier);
    for (char& c : key) {
        if (c == '/' || c == ':' || c == '\\') c = '_';
    }
    return key;
}

std::optional<fs::path> itemStoreURL(std::string_view domainIdentifier) {
    return containerFile("item-store-" + sanitizedDomainKey(domainIdentifier) + ".json");
}

std::optional<fs::path> summaryURL(std::string_view domainIdentifier) {
    return containerFile("summary-" + sanitizedDomainKey(domainIdentifier) + ".json");
}

void removeLocalState(std::string_view domainIdentifier) noexcept {
    try {
        const auto container = appGroupContainerURL();
        if (!container) return;
        const std::string key = sanitizedDomainKey(domainIdentifier);
        for (const std::string& name : {"item-store-" + key + ".json", "summary-" + key + ".json",
                                        std::string("item-store.json")}) {
            std::error_code ignored;
            fs::remove(*container / name, ignored);
        }
    } catch (...) {
        // Only allocation can throw here; leaving files behind is the
        // documented outcome of any failure.
    }
}

}  // namespace cadrio::ZelvanoCadrio
