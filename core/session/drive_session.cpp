#include "core/session/drive_session.hpp"

#include <nlohmann/json.hpp>

#include "core/model/json_tree.hpp"
#include "core/model/utf8_text.hpp"

namespace cadrio {

namespace {

struct Field {
    const char* key;
    std::string DriveSession::*member;
};

constexpr Field kFields[] = {
    {"account", &DriveSession::account},
    {"accessToken", &DriveSession::accessToken},
    {"password", &DriveSession::password},
};

}  // namespace

std::string DriveSession::encoded() const {
    nlohmann::json document = nlohmann::json::object();
    for (const Field& field : kFields) {
        const std::string& value = this->*field.member;
        // Checked here because the JSON library's own error would quote the
        // offending byte of a password.
        if (!isValidUtf8(value)) {
            throw SessionEncodingError(std::string("\"") + field.key + "\" n'est pas du texte UTF-8");
        }
        document[field.key] = value;
    }
    return document.dump();
}

DriveSession DriveSession::decoded(std::string_view bytes) {
    // Parsed without exceptions: the library's messages quote the input.
    const JsonTree tree = parsedJsonTree(bytes, kMaxStoredBytes);
    switch (tree.failure) {
        case JsonTree::Failure::none: break;
        case JsonTree::Failure::malformed: throw SessionDecodingError("JSON invalide");
        case JsonTree::Failure::tooLarge: throw SessionDecodingError("trop volumineuse");
        case JsonTree::Failure::tooDeep: throw SessionDecodingError("JSON trop imbriqué");
    }
    const nlohmann::json& document = tree.value;
    if (!document.is_object()) throw SessionDecodingError("un objet JSON est attendu");
    DriveSession session;
    for (const Field& field : kFields) {
        const auto found = document.find(field.key);
        if (found == document.end() || !found->is_string()) {
            throw SessionDecodingError(std::string("clé \"") + field.key + "\" absente ou non textuelle");
        }
        session.*field.member = found->get<std::string>();
    }
    return session;
}

}  // namespace cadrio
