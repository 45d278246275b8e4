#include "platform/host/host_directories.hpp"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <vector>

namespace cadrio::host {
namespace {

namespace fs = std::filesystem;

constexpr const char* kFolderName = "cadrio-fileproviderd";

bool isUsable(const char* value) { return value != nullptr && value[0] == '/'; }

fs::path homeFromPasswordDatabase() {
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr ||
        !isUsable(found->pw_dir)) {
        throw std::runtime_error("no home folder: HOME is unset and the user has no entry");
    }
    return found->pw_dir;
}

}  // namespace

HostDirectories HostDirectories::fromEnvironment() {
    const char* home = std::getenv("HOME");
    if (isUsable(home)) return resolve(home, std::getenv("XDG_DATA_HOME"), std::getenv("XDG_CACHE_HOME"));
    const std::string fallback = homeFromPasswordDatabase().string();
    return resolve(fallback.c_str(), std::getenv("XDG_DATA_HOME"), std::getenv("XDG_CACHE_HOME"));
}

HostDirectories HostDirectories::resolve(const char* home, const char* xdgDataHome, const char* xdgCacheHome) {
    if (!isUsable(home)) throw std::runtime_error("no home folder: HOME is not an absolute path");
    HostDirectories directories;
    directories.home = home;
    const fs::path dataBase = isUsable(xdgDataHome) ? fs::path(xdgDataHome) : directories.home / ".local/share";
    const fs::path cacheBase = isUsable(xdgCacheHome) ? fs::path(xdgCacheHome) : directories.home / ".cache";
    directories.data = dataBase / kFolderName;
    directories.cache = cacheBase / kFolderName;
    return directories;
}

void createPrivateDirectory(const fs::path& folder) {
    fs::create_directories(folder);
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace);
}

}  // namespace cadrio::host
