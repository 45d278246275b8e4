#include "app/updates/updater.hpp"

#include <gtest/gtest.h>
#include <httplib.h>

#include "app/model/testing/manual_executor.hpp"
#include "core/http/testing/scripted_transport.hpp"
#include "platform/log/log_sink.hpp"
#include "tests/support/demo_server.hpp"

namespace cadrio::app {
namespace {

using namespace std::chrono_literals;

std::string feedOf(const std::string& version, const std::string& page = "https://e.test/notes") {
    return R"(<rss xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle"><channel><item><sparkle:version>)" +
           version + "</sparkle:version><sparkle:releaseNotesLink>" + page +
           "</sparkle:releaseNotesLink></item></channel></rss>";
}

struct UpdaterTest : ::testing::Test {
    VirtualClock clock;
    testing::ManualExecutor executor{clock};
    std::shared_ptr<log::MemorySink> log = std::make_shared<log::MemorySink>();
    std::vector<std::string> opened;
    int changes = 0;

    std::shared_ptr<Updater> start(std::shared_ptr<HTTPTransport> transport, std::string url) {
        auto updater = Updater::create({executor, executor, std::move(transport), std::move(url), "0.1.0",
                                        [this](const std::string& page) { opened.push_back(page); },
                                        log::Logger("zelvano.cadrio.sync", "updates", log)});
        updater->observe([this] { ++changes; });
        executor.runReady();
        return updater;
    }
};

struct AgainstTheDemoFeed : UpdaterTest {
    std::unique_ptr<devserver::DevServer> server = cadrio::testing::startDemoServer(4);
    std::string feedURL = server->baseURL() + "/appcast.xml";

    void announce(const std::string& version) {
        httplib::Client admin("127.0.0.1", server->port());
        const auto result = admin.Post("/_admin/appcast", nlohmann::json{{"version", version}}.dump(), "application/json");
        ASSERT_TRUE(result && result->status == 200);
    }
};

TEST_F(AgainstTheDemoFeed, OnlyANewerReleaseIsPendingAndTheUserIsSentToItsPage) {
    for (const char* version : {"0.0.1", "0.1.0", "0.1"}) {
        announce(version);
        EXPECT_FALSE(start(std::make_shared<CurlTransport>(), feedURL)->pendingVersion()) << version;
    }
    const auto updater = start(std::make_shared<CurlTransport>(), feedURL);
    announce("0.2.0");
    executor.advance(Updater::kCheckPeriod - 1s);
    EXPECT_FALSE(updater->pendingVersion());
    executor.advance(1s);
    EXPECT_EQ(updater->pendingVersion(), "0.2.0");
    EXPECT_EQ(changes, 1);

    updater->checkForUpdates();
    EXPECT_EQ(opened, std::vector<std::string>{server->baseURL() + "/releases/0.2.0"});
    EXPECT_FALSE(updater->pendingVersion());
    executor.advance(Updater::kCheckPeriod);
    EXPECT_EQ(updater->pendingVersion(), "0.2.0");  // raised again by the next check
}

TEST_F(UpdaterTest, AFailedCheckKeepsWhatWasKnownAndIsLogged) {
    const auto transport = std::make_shared<cadrio::testing::ScriptedTransport>();
    transport->enqueue(200, feedOf("0.3"));
    const auto updater = start(transport, "https://updates.test/appcast.xml");
    ASSERT_EQ(updater->pendingVersion(), "0.3");
    transport->enqueue(200, "<rss><channel><item>");
    transport->enqueue(503, "");
    transport->enqueue(200, std::string(Updater::kMaxFeedBytes + 1, ' '));
    executor.advance(3 * Updater::kCheckPeriod);
    EXPECT_EQ(updater->pendingVersion(), "0.3");
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(log->messages().size(), 4u);  // one found, three failures

    transport->enqueue(200, feedOf("0.1.0"));  // withdrawn
    executor.advance(Updater::kCheckPeriod);
    EXPECT_FALSE(updater->pendingVersion());
}

TEST_F(UpdaterTest, AUserCheckThatFindsAReleaseOpensItAtOnce) {
    const auto transport = std::make_shared<cadrio::testing::ScriptedTransport>();
    transport->enqueue(200, feedOf("0.1.0"));
    const auto updater = start(transport, "https://updates.test/appcast.xml");
    transport->enqueue(200, feedOf("0.4", "http://e.test/plain"));  // would be opened over plain http
    updater->checkForUpdates();
    executor.runReady();
    EXPECT_TRUE(opened.empty());
    transport->enqueue(200, feedOf("0.4"));
    updater->checkForUpdates();
    executor.runReady();
    EXPECT_EQ(opened, std::vector<std::string>{"https://e.test/notes"});
    EXPECT_FALSE(updater->pendingVersion());
}

TEST_F(UpdaterTest, PlainHttpIsRefusedOffLoopbackAndNoAddressChecksNothing) {
    const auto transport = std::make_shared<cadrio::testing::ScriptedTransport>();
    EXPECT_THROW(start(transport, "http://updates.example/appcast.xml"), std::invalid_argument);
    EXPECT_THROW(start(transport, "ftp://127.0.0.1/appcast.xml"), std::invalid_argument);
    const auto none = start(nullptr, "");
    none->checkForUpdates();
    executor.advance(2 * Updater::kCheckPeriod);
    EXPECT_TRUE(transport->requests().empty());
    EXPECT_EQ(executor.pendingTimers(), 0u);
}

}  // namespace
}  // namespace cadrio::app
