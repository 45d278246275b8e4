#pragma once
// A local drive server seeded with the demo drive, and a DriveAPI signed in
// to it over libcurl, for the integration tests of the drive operations.
// Every exchange the client makes is recorded with its answer's status, so
// that a test can see what went out after a failure (an abort, say).

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/api/drive_api.hpp"
#include "core/http/curl_transport.hpp"
#include "core/support/thread_annotations.hpp"
#include "devserver/dev_server.hpp"
#include "tests/support/demo_server.hpp"

namespace cadrio::testing {


/// libcurl underneath; `mutex_` guards `exchanges_`.
class RecordingTransport final : public HTTPTransport {
public:
    struct Exchange {
        std::string url;
        int status = 0;  // 0 when the exchange failed
    };

    HttpResponse send(const HttpRequest& request, std::stop_token stop) override {
        Exchange exchange{request.url, 0};
        try {
            HttpResponse response = curl_.send(request, stop);
            exchange.status = response.status;
            record(std::move(exchange));
            return response;
        } catch (...) {
            record(std::move(exchange));
            throw;
        }
    }
    HttpResponse stream(const HttpRequest& request, HttpStreamSink& sink,
                        std::stop_token stop) override {
        return curl_.stream(request, sink, stop);
    }

    std::vector<Exchange> exchanges() const {
        LockGuard lock(mutex_);
        return exchanges_;
    }

private:
    void record(Exchange exchange) {
        LockGuard lock(mutex_);
        exchanges_.push_back(std::move(exchange));
    }

    CurlTransport curl_;
    mutable Mutex mutex_;
    std::vector<Exchange> exchanges_ CADRIO_GUARDED_BY(mutex_);
};

class LiveDrive : public ::testing::Test {
protected:
    void SetUp() override {
        server_ = startDemoServer();
        client_ = makeDemoClient(*server_, transport_);
        ASSERT_TRUE(client_->login(kDemoAccount, kDemoPassword).isSignedIn());
        api_ = std::make_unique<DriveAPI>(client_);
    }
    void TearDown() override { server_->stop(); }

    const DriveAPI& api() const { return *api_; }
    devserver::DevServer& server() { return *server_; }

    /// The bytes behind a presigned address, written to `target`.
    void download(const std::string& url, const std::filesystem::path& target) const;
    /// The file called `name` in the listing of `folder`.
    DriveFile fileNamed(const std::string& name,
                        std::optional<std::int64_t> folder = std::nullopt) const;
    DriveFolder folderNamed(const std::string& name,
                            std::optional<std::int64_t> parent = std::nullopt) const;

    std::shared_ptr<RecordingTransport> transport_ = std::make_shared<RecordingTransport>();
    std::shared_ptr<ApiClient> client_;

private:
    std::unique_ptr<devserver::DevServer> server_;
    std::unique_ptr<DriveAPI> api_;
};

/// A local file of `size` bytes of a fixed sequence picked by `seed`,
/// written in chunks, described as DriveAPI wants it (hash included).
LocalContent writeLocalContent(const std::filesystem::path& path, std::int64_t size,
                               unsigned seed = 1);

}  // namespace cadrio::testing
