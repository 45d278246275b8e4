#include "devserver/server_context.hpp"

#include "devserver/drive_http.hpp"
#include "devserver/service_error.hpp"

namespace cadrio::devserver {

std::string ServerContext::account(const httplib::Request& req) const {
    const auto account = auth.accountForAuthorization(req.get_header_value("Authorization"));
    if (!account) throw ServiceError(401, "unauthorized", "Jeton d'accès absent, inconnu ou expiré.");
    if (!store.hasAccount(*account)) {
        const auto profile = auth.account(*account);
        if (!profile) throw ServiceError(401, "unauthorized", "Compte inconnu.");
        store.addAccount(*profile);
    }
    return *account;
}

httplib::Server::Handler authenticated(ServerContext& context, AccountHandler handler) {
    return [&context, handler = std::move(handler)](const httplib::Request& req, httplib::Response& res) {
        answer(res, [&] { handler(req, res, context.account(req)); });
    };
}

httplib::Server::HandlerWithContentReader authenticatedUpload(ServerContext& context,
                                                              AccountUploadHandler handler) {
    return [&context, handler = std::move(handler)](const httplib::Request& req, httplib::Response& res,
                                                    const httplib::ContentReader& reader) {
        bool read = false;
        const httplib::ContentReader tracked(
            [&](httplib::ContentReceiver receiver) {
                read = true;
                return reader(std::move(receiver));
            },
            [&](httplib::MultipartContentHeader header, httplib::ContentReceiver receiver) {
                read = true;
                return reader(std::move(header), std::move(receiver));
            });
        answer(res, [&] { handler(req, res, tracked, context.account(req)); });
        if (!read) discardBody(req, reader);
    };
}

}  // namespace cadrio::devserver
