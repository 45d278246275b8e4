#include "devserver/event_hub.hpp"

#include "core/support/thread_annotations.hpp"
#include "devserver/auth_service.hpp"
#include "devserver/auth_test_server.hpp"

#include <gtest/gtest.h>

#include <condition_variable>

namespace cadrio::devserver {
namespace {

using namespace std::chrono_literals;
using testing::TestServer;

/// Reads one event stream on its own thread and keeps what arrived.
class StreamReader {
public:
    StreamReader(int port, const std::string& token, const std::string& query = "?ping=1")
        : thread_([this, port, token, query] { run(port, token, query); }) {}
    ~StreamReader() {
        stop();
        thread_.join();
    }

    /// Waits until `fragment` arrived.
    bool waitFor(const std::string& fragment) {
        const auto deadline = std::chrono::steady_clock::now() + kSafety;
        UniqueLock lock(mutex_);
        while (text_.find(fragment) == std::string::npos) {
            if (changed_.wait_until(lock, deadline) == std::cv_status::timeout) {
                return text_.find(fragment) != std::string::npos;
            }
        }
        return true;
    }
    bool waitEnded() {
        const auto deadline = std::chrono::steady_clock::now() + kSafety;
        UniqueLock lock(mutex_);
        while (!ended_) {
            if (changed_.wait_until(lock, deadline) == std::cv_status::timeout) return ended_;
        }
        return true;
    }
    std::string text() {
        LockGuard lock(mutex_);
        return text_;
    }
    /// Leaves the stream at the next chunk that arrives.
    void stop() { stop_ = true; }
    /// Holds the reader inside its receive callback until released: a client
    /// that stopped reading.
    void hold(bool on) {
        LockGuard lock(mutex_);
        held_ = on;
        changed_.notify_all();
    }

private:
    void run(int port, const std::string& token, const std::string& query) {
        httplib::Client client("127.0.0.1", port);
        client.set_read_timeout(10, 0);
        client.Get(
            "/api/v1/jmap/events/web" + query, {{"Authorization", "Bearer " + token}},
            [this](const char* data, std::size_t size) {
                UniqueLock lock(mutex_);
                text_.append(data, size);
                changed_.notify_all();
                while (held_ && !stop_) changed_.wait(lock);
                return !stop_;
            });
        LockGuard lock(mutex_);
        ended_ = true;
        changed_.notify_all();
    }

    /// Only turns a hang into a failure.
    static constexpr auto kSafety = 10s;

    Mutex mutex_;
    std::condition_variable_any changed_;
    std::string text_ CADRIO_GUARDED_BY(mutex_);
    bool ended_ CADRIO_GUARDED_BY(mutex_) = false;
    bool held_ CADRIO_GUARDED_BY(mutex_) = false;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

class EventHubTest : public ::testing::Test {
protected:
    EventHubTest() : server_([this](httplib::Server& s) { hub_.registerRoutes(s, auth_); }) {
        auth_.setClock(clock_.function());
        auth_.addAccount({"demo@cadrio.test", "pw", {}, "", {}});
        auth_.addAccount({"other@cadrio.test", "pw", {}, "", {}});
        hub_.setPingUnit(20ms);
        demoToken_ = auth_.issueAccessToken("demo@cadrio.test");
    }
    ~EventHubTest() override { hub_.closeAll(); }

    bool waitForOpenStreams(std::size_t n) { return hub_.waitForOpenStreams(n, 10s); }

    testing::VirtualClock clock_{1'700'000'000};
    AuthService auth_;
    EventHub hub_;
    TestServer server_;
    std::string demoToken_;
};

TEST_F(EventHubTest, RefusesMissingUnknownAndExpiredTokensAndBadPings) {
    auth_.setAccessTokenTTL(std::chrono::seconds(60));
    const std::string expired = auth_.issueAccessToken("other@cadrio.test");
    clock_.advance(std::chrono::seconds(60));
    demoToken_ = auth_.issueAccessToken("demo@cadrio.test");
    const struct {
        std::string query;
        std::string authorization;
        int status;
    } cases[] = {
        {"?ping=30", "", 401},
        {"?ping=30", "Bearer " + expired, 401},
        {"?ping=0", "Bearer " + demoToken_, 400},
        {"?ping=3601", "Bearer " + demoToken_, 400},
        {"?ping=abc", "Bearer " + demoToken_, 400},
        {"?ping=30s", "Bearer " + demoToken_, 400},
        {"?ping=-1", "Bearer " + demoToken_, 400},
    };
    for (const auto& c : cases) {
        httplib::Headers headers;
        if (!c.authorization.empty()) headers.emplace("Authorization", c.authorization);
        const auto result = server_.client().Get("/api/v1/jmap/events/web" + c.query, headers);
        ASSERT_TRUE(result) << c.query;
        EXPECT_EQ(result->status, c.status) << c.query << " " << c.authorization;
        EXPECT_TRUE(nlohmann::json::parse(result->body, nullptr, false).contains("error"));
    }
    EXPECT_EQ(hub_.openStreams(), 0U);
}

TEST_F(EventHubTest, CloseAllEndsOpenStreamsAndLaterOnesStillWork) {
    StreamReader first(server_.port(), demoToken_, "?ping=3600");
    ASSERT_TRUE(first.waitFor(": connected"));
    hub_.closeAll();
    EXPECT_TRUE(first.waitEnded());
    EXPECT_TRUE(waitForOpenStreams(0));

    StreamReader second(server_.port(), demoToken_);
    ASSERT_TRUE(second.waitFor(": connected"));
    hub_.publish("demo@cadrio.test");
    EXPECT_TRUE(second.waitFor("event: drive.changed"));
}

TEST_F(EventHubTest, AClientThatStopsReadingHoldsUpNobody) {
    StreamReader stuck(server_.port(), demoToken_);
    StreamReader lively(server_.port(), demoToken_);
    ASSERT_TRUE(stuck.waitFor(": connected"));
    ASSERT_TRUE(lively.waitFor(": connected"));
    stuck.hold(true);

    // Far more than socket buffers hold: publish must return all the same.
    constexpr int kPublishes = 100'000;
    for (int i = 0; i < kPublishes; ++i) hub_.publish("demo@cadrio.test");
    EXPECT_TRUE(lively.waitFor("\"sequence\":"));

    stuck.hold(false);
    ASSERT_TRUE(stuck.waitFor("event: drive.changed"));
    EXPECT_LT(testing::occurrences(stuck.text(), "event: drive.changed"), static_cast<std::size_t>(kPublishes))
        << "a stuck client's backlog is bounded";
}

// A client that hung up is noticed at the next write (a ping) and frees its
// place.
TEST_F(EventHubTest, RefusesStreamsBeyondTheLimitUntilAClientHangsUp) {
    hub_.setMaxStreams(1);
    {
        StreamReader first(server_.port(), demoToken_);
        ASSERT_TRUE(first.waitFor(": connected"));
        const auto refused = server_.client().Get("/api/v1/jmap/events/web?ping=30",
                                                  {{"Authorization", "Bearer " + demoToken_}});
        ASSERT_TRUE(refused);
        EXPECT_EQ(refused->status, 503);
    }
    EXPECT_TRUE(waitForOpenStreams(0));
    StreamReader second(server_.port(), demoToken_);
    EXPECT_TRUE(second.waitFor(": connected"));
}

}  // namespace
}  // namespace cadrio::devserver
