#pragma once
// Test support for the drive, storage and admin tests: a DevServer seeded
// with "demo" on a free loopback port, on a virtual clock, with a recorded
// sleeper, and HTTP helpers that speak as the demo account. Header-only so
// that it stays out of the server library.

#include "core/support/thread_annotations.hpp"
#include "devserver/auth_test_server.hpp"
#include "devserver/dev_server.hpp"

#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace cadrio::devserver::testing {

inline constexpr const char* kDemo = "demo@cadrio.test";

struct Answer {
    int status = 0;
    std::string body;
    httplib::Headers headers;

    nlohmann::json json() const { return nlohmann::json::parse(body, nullptr, false); }
    std::string header(const std::string& name) const {
        const auto it = headers.find(name);
        return it == headers.end() ? std::string() : it->second;
    }
};

inline Answer toAnswer(const httplib::Result& result) {
    if (!result) throw std::runtime_error("request failed: " + httplib::to_string(result.error()));
    return {result->status, result->body, result->headers};
}

class DevServerTest : public ::testing::Test {
protected:
    void SetUp() override { startServer({}); }
    void TearDown() override { server_->stop(); }

    void startServer(std::optional<std::filesystem::path> dataDir, bool seed = true) {
        DevServerOptions options;
        options.dataDir = std::move(dataDir);
        options.clock = clock_.function();
        options.sleeper = [this](std::chrono::milliseconds delay) {
            LockGuard lock(sleepsMutex_);
            sleeps_.push_back(delay);
        };
        options.threads = threads_;
        options.connections = connections_;
        server_ = std::make_unique<DevServer>(options);
        if (seed) server_->seed("demo");
        server_->start(0);
        if (server_->auth().account(kDemo)) token_ = server_->auth().issueAccessToken(kDemo);
    }

    httplib::Client client() const {
        httplib::Client c("127.0.0.1", server_->port());
        c.set_read_timeout(20, 0);
        c.set_write_timeout(20, 0);
        return c;
    }
    httplib::Headers auth() const { return {{"Authorization", "Bearer " + token_}}; }

    Answer get(const std::string& path) { return toAnswer(client().Get(path, auth())); }
    Answer post(const std::string& path, const nlohmann::json& body) {
        return toAnswer(client().Post(path, auth(), body.dump(), "application/json"));
    }
    Answer admin(const std::string& path, nlohmann::json body) {
        return toAnswer(client().Post(path, body.dump(), "application/json"));
    }
    /// GET of a presigned URL of this server (no bearer token).
    Answer fetch(const std::string& url) {
        const auto base = server_->baseURL();
        if (url.rfind(base, 0) != 0) throw std::runtime_error("not a URL of this server: " + url);
        return toAnswer(client().Get(url.substr(base.size())));
    }

    nlohmann::json changes(std::int64_t since) {
        const auto answer = get("/api/v1/drive/changes?since=" + std::to_string(since));
        if (answer.status != 200) throw std::runtime_error("changes: HTTP " + std::to_string(answer.status));
        return answer.json();
    }
    /// The current record of the file named `name` (first match).
    nlohmann::json file(const std::string& name) {
        const auto page = changes(0);
        for (const auto& file : page["files"]) {
            if (file["file_name"] == name) return file;
        }
        throw std::runtime_error("no file " + name);
    }
    std::int64_t folderId(const std::string& name) {
        const auto page = changes(0);
        for (const auto& folder : page["folders"]) {
            if (folder["folder_name"] == name) return folder["id"].get<std::int64_t>();
        }
        throw std::runtime_error("no folder " + name);
    }
    /// The content of a file through its download grant.
    std::string download(std::int64_t id) {
        const auto grant = get("/api/v1/drive/files/" + std::to_string(id) + "/download-url");
        if (grant.status != 200) throw std::runtime_error("grant: HTTP " + std::to_string(grant.status));
        return fetch(grant.json()["url"]).body;
    }

    /// A single upload: the form as the client sends it.
    Answer upload(const std::string& name, const std::string& bytes, std::int64_t folder = 0,
                  std::optional<std::string> hash = std::nullopt) {
        httplib::MultipartFormDataItems form{{"file", bytes, name, "application/octet-stream"},
                                             {"id_folder", std::to_string(folder), "", ""},
                                             {"storage_class", "standard", "", ""}};
        if (hash) form.push_back({"content_hash", *hash, "", ""});
        return toAnswer(client().Post("/api/v1/drive/upload/file", auth(), form));
    }
    /// A small replacement with the given preconditions.
    Answer replace(std::int64_t id, const std::string& bytes, std::optional<std::string> ifHash = std::nullopt,
                   std::optional<std::int64_t> ifDate = std::nullopt) {
        httplib::MultipartFormDataItems form{{"file", bytes, "x", "application/octet-stream"}};
        if (ifHash) form.push_back({"if_content_hash", *ifHash, "", ""});
        if (ifDate) form.push_back({"if_date_upload", std::to_string(*ifDate), "", ""});
        return toAnswer(client().Put("/api/v1/drive/files/" + std::to_string(id) + "/content", auth(), form));
    }

    std::vector<std::chrono::milliseconds> sleeps() {
        LockGuard lock(sleepsMutex_);
        return sleeps_;
    }

    VirtualClock clock_{1'700'000'000};
    int threads_ = 16;               // of the next startServer()
    ConnectionLimits connections_;   // of the next startServer()
    std::unique_ptr<DevServer> server_;
    std::string token_;

private:
    Mutex sleepsMutex_;
    std::vector<std::chrono::milliseconds> sleeps_ CADRIO_GUARDED_BY(sleepsMutex_);
};

}  // namespace cadrio::devserver::testing
