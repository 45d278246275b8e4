#include "platform/host/json_state_file.hpp"

#include <cerrno>
#include <string>
#include <system_error>

#include "core/support/atomic_file.hpp"
#include "platform/host/host_directories.hpp"

namespace cadrio::host {

namespace fs = std::filesystem;

nlohmann::json JsonStateFile::load() {
    damaged_ = false;
    std::string text;
    try {
        text = readWholeFile(file_, kMaxBytes);
    } catch (const std::system_error& e) {
        if (e.code().value() == ENOENT) return nlohmann::json::object();
        logger_.error("Fichier d'état illisible, lu comme vide : {} ({})", file_, e.what());
        damaged_ = true;
        return nlohmann::json::object();
    }
    nlohmann::json value = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (!value.is_object()) {
        logger_.error("Fichier d'état endommagé, lu comme vide : {}", file_);
        damaged_ = true;
        return nlohmann::json::object();
    }
    return value;
}

void JsonStateFile::save(const nlohmann::json& object) {
    createPrivateDirectory(file_.parent_path());
    if (damaged_) {
        fs::path aside = file_;
        aside += ".damaged";
        std::error_code error;
        fs::rename(file_, aside, error);
        if (error && error != std::errc::no_such_file_or_directory) {
            throw fs::filesystem_error("cannot move the damaged file aside", file_, aside, error);
        }
        logger_.notice("Fichier d'état endommagé mis de côté : {}", aside);
        damaged_ = false;
    }
    writeFileAtomically(file_, object.dump(2) + "\n");
}

}  // namespace cadrio::host
