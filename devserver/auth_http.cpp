#include "devserver/auth_http.hpp"

namespace cadrio::devserver {

void sendJson(httplib::Response& res, int status, const nlohmann::json& body) {
    res.status = status;
    // Replacement of invalid UTF-8 keeps a hostile e-mail from turning the
    // answer into an exception.
    res.set_content(body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                    "application/json");
}

void sendError(httplib::Response& res, int status, std::string_view code, std::string_view message) {
    sendJson(res, status, {{"error", code}, {"message", message}});
}

std::optional<nlohmann::json> readJsonObject(const httplib::Request& req, httplib::Response& res,
                                             bool emptyIsObject) {
    if (req.body.size() > kMaxJsonBody) {
        sendError(res, 413, "body_too_large", "Corps de requête trop volumineux.");
        return std::nullopt;
    }
    if (req.body.empty() && emptyIsObject) return nlohmann::json::object();
    auto body = nlohmann::json::parse(req.body, nullptr, /*allow_exceptions=*/false);
    if (body.is_discarded() || !body.is_object()) {
        sendError(res, 400, "invalid_json", "Le corps de la requête doit être un objet JSON.");
        return std::nullopt;
    }
    return body;
}

std::optional<std::string> stringField(const nlohmann::json& body, const char* key) {
    const auto it = body.find(key);
    if (it == body.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
}

std::optional<std::string> requireString(const nlohmann::json& body, const char* key,
                                         httplib::Response& res) {
    auto value = stringField(body, key);
    if (!value) {
        sendError(res, 400, "missing_field", std::string("Champ texte manquant : ") + key);
    }
    return value;
}

}  // namespace cadrio::devserver
