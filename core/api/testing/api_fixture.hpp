#pragma once
// A signed-in DriveAPI over a scripted transport on a virtual clock that
// advances by itself, for the unit tests of this module. Header-only; never
// linked into the programs.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/api/drive_api.hpp"
#include "core/http/testing/drive_error_of.hpp"
#include "core/http/testing/scripted_transport.hpp"

namespace cadrio::testing {

struct ApiFixture {
    std::shared_ptr<ScriptedTransport> transport = std::make_shared<ScriptedTransport>();
    std::shared_ptr<InMemorySessionStore> store =
        std::make_shared<InMemorySessionStore>(DriveSession{"a@cadrio.test", "token", "pw"});
    VirtualClock clock;
    std::shared_ptr<ApiClient> client = std::make_shared<ApiClient>(
        DriveConfiguration("https://drive.test/api/v1", 3, std::chrono::milliseconds(400), 60),
        transport, store, std::make_shared<InMemoryTrustedDeviceStore>(), clock);
    DriveAPI api{client};

    ApiFixture() {
        clock.setAutoAdvance(true);
        client->restoreSession();
    }

    std::vector<HttpRequest> requests() const { return transport->requests(); }
    HttpRequest request(std::size_t index) const { return transport->requests().at(index); }

    /// The URL with the base removed: "/drive/files?limit=100000".
    static std::string path(const HttpRequest& request) {
        static const std::string base = "https://drive.test/api/v1";
        return request.url.rfind(base, 0) == 0 ? request.url.substr(base.size()) : request.url;
    }
    static std::optional<std::string> header(const HttpRequest& request, std::string_view name) {
        return HttpResponse{0, request.headers, {}}.header(name);
    }
    static nlohmann::json json(const HttpRequest& request) {
        return nlohmann::json::parse(request.body);
    }
};

/// A file in folder 12 with every optional field set.
inline DriveFile sampleDriveFile() {
    DriveFile file;
    file.id = 7;
    file.parentFolderID = 12;
    file.name = "Rapport.pdf";
    file.storageKey = "k/old";
    file.size = 2;
    file.contentHash = "h1";
    file.modifiedAt = dateFromUnixSeconds(std::int64_t{1000});
    file.thumbnailPath = "t_64x64.jpg";
    file.uploadTimestamp = 1600000000;
    return file;
}

}  // namespace cadrio::testing
