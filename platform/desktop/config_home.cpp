#include "platform/desktop/config_home.hpp"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <vector>

namespace cadrio::desktop {
namespace {

namespace fs = std::filesystem;

bool isAbsolute(const char* value) { return value != nullptr && value[0] == '/'; }

fs::path homeFolder() {
    if (const char* home = std::getenv("HOME"); isAbsolute(home)) return home;
    const long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr ||
        !isAbsolute(found->pw_dir)) {
        throw std::runtime_error("no home folder: HOME is unset and the user has no entry");
    }
    return found->pw_dir;
}

}  // namespace

fs::path configHome() {
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); isAbsolute(xdg)) return xdg;
    return homeFolder() / ".config";
}

void createPrivateFolder(const fs::path& folder) {
    fs::create_directories(folder);
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace);
}

}  // namespace cadrio::desktop
