// Listings, change feed, quota, download grants, thumbnail presigns and
// metadata changes of /api/v1/drive.

#include "devserver/auth_http.hpp"
#include "devserver/drive_http.hpp"
#include "devserver/server_context.hpp"
#include "devserver/wire_json.hpp"

namespace cadrio::devserver {
namespace {

void sendOk(httplib::Response& res) { sendJson(res, 200, {{"ok", true}}); }

void listings(httplib::Server& server, ServerContext& context) {
    server.Get("/api/v1/drive/changes", authenticated(context, [&context](auto& req, auto& res, auto& account) {
        const auto since = queryInt(req, "since");
        if (!since) throw badRequest("Paramètre \"since\" manquant.");
        const auto page = context.store.changes(account, *since);
        nlohmann::json folders = nlohmann::json::array();
        nlohmann::json files = nlohmann::json::array();
        for (const auto& folder : page.folders) folders.push_back(folderToWire(folder));
        for (const auto& file : page.files) files.push_back(fileToWire(file));
        sendJson(res, 200, {{"cursor", page.cursor}, {"folders", folders}, {"files", files}});
    }));

    server.Get("/api/v1/drive/folders", authenticated(context, [&context](auto& req, auto& res, auto& account) {
        const auto parent = queryInt(req, "id_parent").value_or(kRootFolderId);
        nlohmann::json folders = nlohmann::json::array();
        for (const auto& folder : context.store.folders(account, parent < 0 ? kRootFolderId : parent)) {
            folders.push_back(folderToWire(folder));
        }
        sendJson(res, 200, folders);
    }));

    server.Get("/api/v1/drive/files", authenticated(context, [&context](auto& req, auto& res, auto& account) {
        const auto limit = queryInt(req, "limit").value_or(100000);
        if (limit < 1) throw badRequest("Paramètre \"limit\" invalide.");
        const auto folder = queryInt(req, "id_folder").value_or(kRootFolderId);
        nlohmann::json files = nlohmann::json::array();
        for (const auto& file : context.store.files(account, folder < 0 ? kRootFolderId : folder,
                                                    static_cast<std::size_t>(limit))) {
            files.push_back(fileToWire(file));
        }
        sendJson(res, 200, files);
    }));

    server.Get("/api/v1/drive/quota", authenticated(context, [&context](auto&, auto& res, auto& account) {
        const auto [used, max] = context.store.quota(account);
        sendJson(res, 200, {{"quota_used", static_cast<double>(used) / kBytesPerMegabyte},
                            {"quota_max", static_cast<double>(max) / kBytesPerMegabyte}});
    }));
}

void grants(httplib::Server& server, ServerContext& context) {
    server.Get(R"(/api/v1/drive/files/(\d+)/download-url)",
               authenticated(context, [&context](auto& req, auto& res, auto& account) {
                   const auto file = context.store.readableFile(account, pathInt(req));
                   sendJson(res, 200, {{"url", context.presign("GET", "/storage/" + file.storageKey)},
                                       {"expires_in", context.presigner.lifetime().count()},
                                       {"file_size", file.size},
                                       {"content_hash", file.contentHash},
                                       {"date_upload", file.dateUpload}});
               }));

    server.Get("/api/v1/drive/thumbnails/presign", authenticated(context, [&context](auto& req, auto& res, auto& account) {
        const auto key = req.get_param_value("s3_key");
        if (key.empty()) throw badRequest("Paramètre \"s3_key\" manquant.");
        if (!context.store.hasThumbnail(account, key)) throw notFound("Miniature inconnue.");
        sendJson(res, 200, {{"url", context.presign("GET", "/storage/" + key)}});
    }));
}

void metadata(httplib::Server& server, ServerContext& context) {
    server.Post("/api/v1/drive/folders", authenticated(context, [&context](auto& req, auto& res, auto& account) {
        const auto body = jsonObjectBody(req);
        const auto parent = optionalInt(body, "id_parent").value_or(kRootFolderId);
        const auto id = context.store.createFolder(account, requireText(body, "folder_name"),
                                                   parent < 0 ? kRootFolderId : parent);
        sendJson(res, 200, {{"id", id}});
    }));

    server.Put(R"(/api/v1/drive/files/(\d+)/rename)", authenticated(context, [&context](auto& req, auto& res, auto& account) {
        const auto body = jsonBody(req);
        if (!body.is_string()) throw badRequest("Le corps doit être le nouveau nom, en texte JSON.");
        context.store.renameFile(account, pathInt(req), body.template get<std::string>());
        sendOk(res);
    }));

    server.Put(R"(/api/v1/drive/folders/(\d+))", authenticated(context, [&context](auto& req, auto& res, auto& account) {
        const auto body = jsonObjectBody(req);
        auto parent = optionalInt(body, "parent_id");
        if (parent && *parent < 0) parent = kRootFolderId;
        context.store.updateFolder(account, pathInt(req), optionalText(body, "folder_name"), parent);
        sendOk(res);
    }));

    server.Post("/api/v1/drive/move", authenticated(context, [&context](auto& req, auto& res, auto& account) {
        const auto body = jsonObjectBody(req);
        const auto target = optionalInt(body, "target_folder_id").value_or(kRootFolderId);
        context.store.move(account, intList(body, "file_ids"), intList(body, "folder_ids"),
                           target < 0 ? kRootFolderId : target);
        sendOk(res);
    }));

    server.Post("/api/v1/drive/bulk-delete", authenticated(context, [&context](auto& req, auto& res, auto& account) {
        const auto body = jsonObjectBody(req);
        context.store.trash(account, intList(body, "file_ids"), intList(body, "folder_ids"));
        sendOk(res);
    }));
}

}  // namespace

void registerDriveRoutes(httplib::Server& server, ServerContext& context) {
    listings(server, context);
    grants(server, context);
    metadata(server, context);
}

}  // namespace cadrio::devserver
