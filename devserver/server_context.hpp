#pragma once
// What the route handlers of the drive, storage and admin APIs share. The
// referenced objects are owned by DevServer and outlive the HTTP server;
// each guards its own state (see their headers). `baseURL` is set before
// the server starts serving and is read-only afterwards.

#include "devserver/appcast_feed.hpp"
#include "devserver/auth_service.hpp"
#include "devserver/blob_store.hpp"
#include "devserver/drive_store.hpp"
#include "devserver/multipart_registry.hpp"
#include "devserver/presigner.hpp"

#include <httplib.h>

#include <cstdint>
#include <functional>
#include <string>

namespace cadrio::devserver {

/// A single upload or small replacement carries at most this many bytes of
/// file: larger contents must go through a multipart upload.
inline constexpr std::int64_t kDirectUploadLimit = 16 * 1024 * 1024;
/// Largest request body the server reads: a direct upload just over the
/// limit must still arrive whole to be answered 413, and a part upload
/// carries at most one part.
inline constexpr std::int64_t kMaxRequestBody = kDirectUploadLimit + 2 * 1024 * 1024;

struct ServerContext {
    DriveStore& store;
    BlobStore& blobs;
    MultipartRegistry& uploads;
    Presigner& presigner;
    AuthService& auth;
    AppcastFeed& appcast;
    std::string baseURL;  // "http://127.0.0.1:PORT"

    /// The account of the request's bearer token; ServiceError 401 when
    /// the token is missing, unknown or expired. An account known to the
    /// sign-in service but without a drive gets an empty one.
    std::string account(const httplib::Request& req) const;

    /// A presigned URL of this server for `method` on `path`.
    std::string presign(const std::string& method, const std::string& path) const {
        return presigner.sign(baseURL, method, path);
    }
};

using AccountHandler =
    std::function<void(const httplib::Request&, httplib::Response&, const std::string& account)>;
using AccountUploadHandler = std::function<void(const httplib::Request&, httplib::Response&,
                                                const httplib::ContentReader&, const std::string& account)>;

/// A route that needs a valid bearer token; errors answered as JSON.
httplib::Server::Handler authenticated(ServerContext& context, AccountHandler handler);
/// The same for a route that reads its body as a stream. A body left
/// unread by a refusal is read and discarded, so that the answer reaches a
/// client that is still sending.
httplib::Server::HandlerWithContentReader authenticatedUpload(ServerContext& context,
                                                              AccountUploadHandler handler);

void registerDriveRoutes(httplib::Server& server, ServerContext& context);
void registerUploadRoutes(httplib::Server& server, ServerContext& context);
void registerMultipartRoutes(httplib::Server& server, ServerContext& context);
void registerStorageRoutes(httplib::Server& server, ServerContext& context);
/// GET /appcast.xml, its release page and package.
void registerAppcastRoutes(httplib::Server& server, ServerContext& context);

}  // namespace cadrio::devserver
