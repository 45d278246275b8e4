// The event stream against the local drive server, over real sockets and
// libcurl, on the real clock (the server pings every second, so a stalled
// client would be noticed within 17 s).

#include <gtest/gtest.h>
#include <httplib.h>

#include <nlohmann/json.hpp>

#include <thread>

#include "core/events/drive_event_stream.hpp"
#include "core/events/testing/event_recorder.hpp"
#include "core/http/curl_transport.hpp"
#include "devserver/dev_server.hpp"
#include "tests/support/demo_server.hpp"

namespace cadrio {
namespace {

using namespace std::chrono_literals;
using testing::EventRecorder;

constexpr const char* kDemo = testing::kDemoAccount;
using testing::kDemoPassword;

class EventStreamIntegration : public ::testing::Test {
protected:
    void SetUp() override {
        server_ = testing::startDemoServer(16);
    }
    void TearDown() override {
        runner_ = {};  // stops and joins the stream before the server goes
        server_->stop();
    }

    void startStream(const std::string& accessToken) {
        auto store = std::make_shared<InMemorySessionStore>(DriveSession{kDemo, accessToken, kDemoPassword});
        client_ = testing::makeDemoClient(*server_, std::make_shared<CurlTransport>(), store);
        ASSERT_TRUE(client_->restoreSession());
        stream_ = std::make_unique<DriveEventStream>(client_, server_->baseURL(), 1);
        runner_ = std::jthread([this](std::stop_token stop) { recorder_.run(*stream_, stop); });
    }

    int admin(const std::string& path, const nlohmann::json& body) {
        httplib::Client http("127.0.0.1", server_->port());
        const auto result = http.Post(path, body.dump(), "application/json");
        return result ? result->status : 0;
    }

    std::unique_ptr<devserver::DevServer> server_;
    std::shared_ptr<ApiClient> client_;
    std::unique_ptr<DriveEventStream> stream_;
    EventRecorder recorder_;
    std::jthread runner_;
};

TEST_F(EventStreamIntegration, DeliversAChangeMadeByAnotherDevice) {
    startStream(server_->auth().issueAccessToken(kDemo));
    ASSERT_TRUE(recorder_.waitFor(1));
    ASSERT_EQ(admin("/_admin/drive/folders", {{"email", kDemo}, {"name", "Depuis un autre appareil"}}), 200);
    ASSERT_TRUE(recorder_.waitFor(2));
    EXPECT_EQ(recorder_.entries(), (std::vector<std::string>{"connected", "change"}));
}

TEST_F(EventStreamIntegration, ReconnectsAfterTheStreamEndsAndAfterADroppedConnection) {
    startStream(server_->auth().issueAccessToken(kDemo));
    ASSERT_TRUE(recorder_.waitFor(1));
    ASSERT_EQ(admin("/_admin/faults", {{"kind", "drop"}, {"path_prefix", "/api/v1/jmap/events/web"}}), 200);
    server_->events().closeAll();

    // Ended by the server: 1 s; the next attempt dropped: 2 s; then accepted.
    ASSERT_TRUE(recorder_.waitFor(4));
    EXPECT_EQ(recorder_.entries(), (std::vector<std::string>{"connected", "disconnected(retryIn: 1)",
                                                             "disconnected(retryIn: 2)", "connected"}));
    ASSERT_EQ(admin("/_admin/drive/folders", {{"email", kDemo}, {"name", "Après la reconnexion"}}), 200);
    ASSERT_TRUE(recorder_.waitFor(5));
    EXPECT_EQ(recorder_.entries().back(), "change");
}

}  // namespace
}  // namespace cadrio
