#include "devserver/drive_http.hpp"

#include "devserver/auth_http.hpp"
#include "devserver/wire_json.hpp"

#include <iostream>

namespace cadrio::devserver {

void sendServiceError(httplib::Response& res, const ServiceError& error) {
    sendError(res, error.status(), error.code(), error.what());
    if (!error.conflict().empty()) res.set_header("X-Drive-Conflict", error.conflict());
}

void answer(httplib::Response& res, const std::function<void()>& handler) {
    try {
        handler();
    } catch (const ServiceError& error) {
        sendServiceError(res, error);
    } catch (const std::exception& error) {
        std::cerr << "cadrio-devserver: internal error: " << error.what() << std::endl;
        sendError(res, 500, "internal", "Erreur interne du serveur.");
    }
}

void discardBody(const httplib::Request& req, const httplib::ContentReader& reader) {
    const auto ignore = [](const char*, std::size_t) { return true; };
    // httplib parses a multipart body on its own and needs both callbacks.
    if (req.is_multipart_form_data()) {
        reader([](const httplib::MultipartFormData&) { return true; }, ignore);
    } else {
        reader(ignore);
    }
}

nlohmann::json jsonBody(const httplib::Request& req) {
    if (req.body.size() > kMaxDriveJsonBody) {
        throw ServiceError(413, "body_too_large", "Corps de requête trop volumineux.");
    }
    auto body = nlohmann::json::parse(req.body, nullptr, /*allow_exceptions=*/false);
    if (body.is_discarded()) throw ServiceError(400, "invalid_json", "Corps JSON illisible.");
    return body;
}

nlohmann::json jsonObjectBody(const httplib::Request& req) {
    auto body = jsonBody(req);
    if (!body.is_object()) throw ServiceError(400, "invalid_json", "Le corps doit être un objet JSON.");
    return body;
}

std::int64_t pathInt(const httplib::Request& req, std::size_t group) {
    const auto value = group < req.matches.size() ? parseInt64(req.matches[group].str()) : std::nullopt;
    if (!value) throw badRequest("Identifiant invalide dans le chemin.");
    return *value;
}

std::optional<std::int64_t> queryInt(const httplib::Request& req, const char* name) {
    if (!req.has_param(name)) return std::nullopt;
    const auto value = parseInt64(req.get_param_value(name));
    if (!value) throw badRequest(std::string("Paramètre \"") + name + "\" invalide.");
    return value;
}

}  // namespace cadrio::devserver
