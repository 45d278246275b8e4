#include "devserver/admin_routes.hpp"

#include "devserver/auth_http.hpp"
#include "devserver/drive_http.hpp"
#include "devserver/seeds.hpp"
#include "devserver/wire_json.hpp"

#include <charconv>
#include <memory>

namespace cadrio::devserver {
namespace {

using AdminHandler = std::function<void(const nlohmann::json& body, httplib::Response& res)>;

httplib::Server::Handler adminPost(AdminHandler handler) {
    return [handler = std::move(handler)](const httplib::Request& req, httplib::Response& res) {
        answer(res, [&] {
            const auto body = req.body.empty() ? nlohmann::json::object() : jsonObjectBody(req);
            handler(body, res);
        });
    };
}

void sendOk(httplib::Response& res) { sendJson(res, 200, {{"ok", true}}); }

/// The account named by "email", which must have a drive.
std::string accountOf(const ServerContext& context, const nlohmann::json& body) {
    const auto account = accountKey(requireText(body, "email"));
    if (!context.store.hasAccount(account)) throw notFound("Compte inconnu : " + account);
    return account;
}

bool isFolderKind(const nlohmann::json& body) {
    const auto kind = requireText(body, "kind");
    if (kind != "file" && kind != "folder") throw badRequest("\"kind\" : \"file\" ou \"folder\".");
    return kind == "folder";
}

/// The content of an admin file: "content" (text) or "size" generated
/// bytes ("seed" picks the sequence).
StoredContent contentOf(const ServerContext& context, const nlohmann::json& body) {
    const auto type = optionalText(body, "content_type").value_or("application/octet-stream");
    if (const auto text = optionalText(body, "content")) return storeBytes(context.blobs, *text, type);
    const auto size = requireInt(body, "size");
    if (size < 0 || size > (std::int64_t{64} << 30)) throw badRequest("\"size\" : de 0 à 64 Gio.");
    const auto seed = optionalInt(body, "seed").value_or(1);
    return storeGenerated(context.blobs, size, static_cast<std::uint64_t>(seed), type);
}

AccountSpec profileOf(const nlohmann::json& body) {
    AccountSpec profile;
    profile.email = requireText(body, "email");
    profile.password = requireText(body, "password");
    if (const auto methods = body.find("methods"); methods != body.end() && methods->is_array()) {
        for (const auto& method : *methods) profile.methods.push_back(method.get<std::string>());
    }
    profile.totpSecretBase32 = optionalText(body, "totp_secret").value_or("");
    if (const auto codes = body.find("recovery_codes"); codes != body.end() && codes->is_array()) {
        for (const auto& code : *codes) profile.recoveryCodes.push_back(code.get<std::string>());
    }
    if (const auto quota = body.find("quota_max_mb"); quota != body.end()) {
        if (!quota->is_number() || quota->get<double>() < 0) throw badRequest("\"quota_max_mb\" invalide.");
        profile.quotaMaxMegabytes = quota->get<double>();
    }
    return profile;
}

void serverRoutes(httplib::Server& server, ServerContext& context, const AdminHooks& hooks) {
    server.Post("/_admin/reset", adminPost([hooks](auto&, auto& res) {
        hooks.reset();
        sendOk(res);
    }));
    server.Post("/_admin/seed", adminPost([hooks](auto& body, auto& res) {
        const auto name = optionalText(body, "name").value_or("demo");
        if (!isSeedName(name)) throw badRequest("Jeu de données inconnu : " + name);
        hooks.seed(name);
        sendOk(res);
    }));
    server.Post("/_admin/accounts", adminPost([hooks](auto& body, auto& res) {
        try {
            hooks.addAccount(profileOf(body));
        } catch (const std::invalid_argument& error) {
            throw badRequest(error.what());
        } catch (const nlohmann::json::exception&) {
            throw badRequest("\"methods\" et \"recovery_codes\" : listes de textes.");
        }
        sendOk(res);
    }));
    server.Post("/_admin/appcast", adminPost([&context](auto& body, auto& res) {
        try {
            context.appcast.set(requireText(body, "version"), optionalText(body, "short_version").value_or(""));
        } catch (const std::invalid_argument& error) {
            throw badRequest(error.what());
        }
        sendJson(res, 200, {{"version", context.appcast.version()}, {"short_version", context.appcast.shortVersion()}});
    }));
    server.Post("/_admin/storage/url-lifetime", adminPost([&context](auto& body, auto& res) {
        const auto seconds = requireInt(body, "seconds");
        if (seconds < 0 || seconds > 7 * 24 * 3600) throw badRequest("\"seconds\" : de 0 à 604800.");
        context.presigner.setLifetime(std::chrono::seconds(seconds));
        sendOk(res);
    }));
}

void deviceRoutes(httplib::Server& server, ServerContext& context) {
    server.Get("/_admin/drive", [&context](const httplib::Request& req, httplib::Response& res) {
        answer(res, [&] {
            sendJson(res, 200, context.store.describe(accountOf(context, {{"email", req.get_param_value("email")}})));
        });
    });
    server.Post("/_admin/drive/folders", adminPost([&context](auto& body, auto& res) {
        const auto id = context.store.createFolder(accountOf(context, body), requireText(body, "name"),
                                                   optionalInt(body, "id_parent").value_or(kRootFolderId));
        sendJson(res, 200, {{"id", id}});
    }));
    server.Post("/_admin/drive/files", adminPost([&context](auto& body, auto& res) {
        const auto account = accountOf(context, body);
        const auto content = contentOf(context, body);
        try {
            const auto thumbnails = optionalBool(body, "thumbnails").value_or(false);
            const auto file = context.store.createFile(
                account, NewFile{requireText(body, "name"), optionalInt(body, "id_folder").value_or(kRootFolderId),
                                 content, optionalText(body, "storage_class").value_or("standard"),
                                 thumbnails ? storeDemoThumbnails(context.blobs) : std::vector<std::string>{}});
            sendJson(res, 200, fileToWire(file));
        } catch (...) {
            context.blobs.remove(content.storageKey);
            throw;
        }
    }));
    server.Post("/_admin/drive/replace", adminPost([&context](auto& body, auto& res) {
        const auto account = accountOf(context, body);
        const auto id = requireInt(body, "id");
        const auto content = contentOf(context, body);
        ReplaceResult result;
        try {
            result = context.store.replaceContent(account, id, {}, content, /*asOwner=*/true);
        } catch (...) {
            context.blobs.remove(content.storageKey);
            throw;
        }
        context.blobs.remove(result.replacedKey);
        sendJson(res, 200, fileToWire(result.file));
    }));
    server.Post("/_admin/drive/rename", adminPost([&context](auto& body, auto& res) {
        const auto account = accountOf(context, body);
        const auto id = requireInt(body, "id");
        const auto name = requireText(body, "name");
        if (isFolderKind(body)) {
            context.store.updateFolder(account, id, name, std::nullopt);
        } else {
            context.store.renameFile(account, id, name);
        }
        sendOk(res);
    }));
    server.Post("/_admin/drive/move", adminPost([&context](auto& body, auto& res) {
        const auto account = accountOf(context, body);
        const std::vector<std::int64_t> ids{requireInt(body, "id")};
        const auto target = optionalInt(body, "target_folder_id").value_or(kRootFolderId);
        const bool folder = isFolderKind(body);
        context.store.move(account, folder ? std::vector<std::int64_t>{} : ids,
                           folder ? ids : std::vector<std::int64_t>{}, target);
        sendOk(res);
    }));
    server.Post("/_admin/drive/trash", adminPost([&context](auto& body, auto& res) {
        const auto account = accountOf(context, body);
        const std::vector<std::int64_t> ids{requireInt(body, "id")};
        const bool folder = isFolderKind(body);
        context.store.trash(account, folder ? std::vector<std::int64_t>{} : ids,
                            folder ? ids : std::vector<std::int64_t>{});
        sendOk(res);
    }));
}

void stateRoutes(httplib::Server& server, ServerContext& context) {
    server.Post("/_admin/drive/storage-class", adminPost([&context](auto& body, auto& res) {
        context.store.setStorageClass(accountOf(context, body), requireInt(body, "id"),
                                      requireText(body, "storage_class"));
        sendOk(res);
    }));
    server.Post("/_admin/drive/lock", adminPost([&context](auto& body, auto& res) {
        context.store.setLocked(accountOf(context, body), requireInt(body, "id"),
                                optionalBool(body, "locked").value_or(true));
        sendOk(res);
    }));
    server.Post("/_admin/drive/reinforced", adminPost([&context](auto& body, auto& res) {
        context.store.setReinforced(accountOf(context, body), requireInt(body, "id"),
                                    optionalBool(body, "reinforced").value_or(true));
        sendOk(res);
    }));
    server.Post("/_admin/drive/quota", adminPost([&context](auto& body, auto& res) {
        const auto quota = body.find("quota_max_mb");
        if (quota == body.end() || !quota->is_number()) throw badRequest("\"quota_max_mb\" manquant.");
        context.store.setQuota(accountOf(context, body), quota->template get<double>());
        sendOk(res);
    }));
    server.Post("/_admin/drive/expire-cursors", adminPost([&context](auto& body, auto& res) {
        const auto horizon = context.store.expireCursors(accountOf(context, body), optionalInt(body, "horizon"));
        sendJson(res, 200, {{"horizon", horizon}});
    }));
}

void faultRoutes(httplib::Server& server, FaultInjector& faults) {
    server.Get("/_admin/faults", [&faults](const httplib::Request&, httplib::Response& res) {
        sendJson(res, 200, faults.describe());
    });
    server.Post("/_admin/faults", adminPost([&faults](auto& body, auto& res) {
        sendJson(res, 200, {{"id", faults.add(FaultInjector::ruleFromJSON(body))}});
    }));
    server.Delete("/_admin/faults", [&faults](const httplib::Request&, httplib::Response& res) {
        faults.clear();
        sendOk(res);
    });
    server.Delete(R"(/_admin/faults/(\d+))", [&faults](const httplib::Request& req, httplib::Response& res) {
        const std::string digits = req.matches[1].str();
        int id = 0;
        const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), id);
        if (error != std::errc{} || end != digits.data() + digits.size() || !faults.remove(id)) {
            sendError(res, 404, "not_found", "Règle de panne introuvable.");
            return;
        }
        sendOk(res);
    });
    server.Get("/_admin/faults/stats", [&faults](const httplib::Request&, httplib::Response& res) {
        const FaultStatistics statistics = faults.statistics();
        sendJson(res, 200, {{"requests", statistics.requests}, {"faulted", statistics.faulted}});
    });
}

}  // namespace

void registerAdminRoutes(httplib::Server& server, ServerContext& context, FaultInjector& faults,
                         AdminHooks hooks) {
    serverRoutes(server, context, hooks);
    deviceRoutes(server, context);
    stateRoutes(server, context);
    faultRoutes(server, faults);
}

}  // namespace cadrio::devserver
