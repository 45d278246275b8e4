#include "platform/desktop/user_defaults.hpp"

#include <cerrno>
#include <exception>
#include <system_error>

#include "core/support/atomic_file.hpp"
#include "platform/desktop/config_home.hpp"

namespace cadrio::desktop {
namespace {

namespace fs = std::filesystem;

// A few small values; anything bigger is not ours.
constexpr std::size_t kMaxFileBytes = 1 << 20;

}  // namespace

UserDefaults::UserDefaults(fs::path file, log::Logger logger)
    : file_(std::move(file)), logger_(std::move(logger)), values_(nlohmann::json::object()) {
    std::string bytes;
    try {
        bytes = readWholeFile(file_, kMaxFileBytes);
    } catch (const std::system_error& e) {
        if (e.code() != std::errc::no_such_file_or_directory && e.code() != std::errc::not_a_directory) {
            logger_.notice("Réglages illisibles, valeurs par défaut : {}", e.code().message());
        }
        return;
    }
    nlohmann::json parsed = nlohmann::json::parse(bytes, nullptr, false);
    LockGuard lock(mutex_);
    if (parsed.is_object()) {
        values_ = std::move(parsed);
        return;
    }
    malformedOnDisk_ = true;
    logger_.notice("Réglages mal formés, valeurs par défaut");
}

fs::path UserDefaults::standardLocation() { return configHome() / "zelvano-cadrio" / "user-defaults.json"; }

std::optional<nlohmann::json> UserDefaults::value(std::string_view key) const {
    LockGuard lock(mutex_);
    const auto found = values_.find(key);
    if (found == values_.end()) return std::nullopt;
    return *found;
}

std::optional<std::string> UserDefaults::string(std::string_view key) const {
    const auto found = value(key);
    if (!found || !found->is_string()) return std::nullopt;
    return found->get<std::string>();
}

std::optional<double> UserDefaults::number(std::string_view key) const {
    const auto found = value(key);
    if (!found || !found->is_number()) return std::nullopt;
    return found->get<double>();
}

std::optional<bool> UserDefaults::boolean(std::string_view key) const {
    const auto found = value(key);
    if (!found || !found->is_boolean()) return std::nullopt;
    return found->get<bool>();
}

void UserDefaults::set(std::string_view key, nlohmann::json value) {
    {
        LockGuard lock(mutex_);
        values_[std::string(key)] = std::move(value);
    }
    write();
}

void UserDefaults::write() {
    LockGuard writing(writeMutex_);
    std::string bytes;
    bool keepAside = false;
    {
        LockGuard lock(mutex_);
        bytes = values_.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
        keepAside = malformedOnDisk_;
    }
    try {
        createPrivateFolder(file_.parent_path());
        if (keepAside) {
            fs::path aside = file_;
            aside += ".bad";
            std::error_code error;
            fs::rename(file_, aside, error);
            if (error && error != std::errc::no_such_file_or_directory) {
                throw fs::filesystem_error("cannot keep the malformed settings aside", file_, aside, error);
            }
            LockGuard lock(mutex_);
            malformedOnDisk_ = false;
        }
        writeFileAtomically(file_, bytes);
    } catch (const std::system_error& e) {
        // The code's text only: the paths would name the user.
        logger_.error("Réglages non enregistrés : {}", e.code().message());
    } catch (const std::exception& e) {
        logger_.error("Réglages non enregistrés : {}", e.what());
    }
}

}  // namespace cadrio::desktop
