#include "core/events/drive_event_stream.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "core/events/event_stream_url.hpp"
#include "core/events/sse_parser.hpp"
#include "core/events/testing/event_recorder.hpp"
#include "core/events/testing/streaming_transport.hpp"
#include "core/http/testing/drive_error_of.hpp"

namespace cadrio {
namespace {

using namespace std::chrono_literals;
using testing::EventRecorder;
using testing::StreamingTransport;
using Status = DriveEventStream::Status;

const DriveSession kSession{"a@cadrio.test", "token-1", "pw"};
constexpr auto kSignedIn = R"({"access_token": "token-2", "email": "a@cadrio.test"})";

struct Fixture {
    std::shared_ptr<StreamingTransport> transport = std::make_shared<StreamingTransport>();
    std::shared_ptr<InMemorySessionStore> store = std::make_shared<InMemorySessionStore>(kSession);
    VirtualClock clock;
    std::shared_ptr<ApiClient> client = std::make_shared<ApiClient>(
        DriveConfiguration("https://drive.test/api/v1", 3, 400ms, 60), transport, store,
        std::make_shared<InMemoryTrustedDeviceStore>(), clock);
    DriveEventStream stream{client, "https://events.test", 30};
    EventRecorder recorder;
    std::jthread runner;

    explicit Fixture(bool signedIn = true) {
        if (!signedIn) store->clear();
        client->restoreSession();
    }

    void start() {
        runner = std::jthread([this](std::stop_token stop) { recorder.run(stream, stop); });
    }
    // Waits for the next reconnection wait and checks its length before
    // letting virtual time run through it.
    void passWait(std::chrono::seconds delay) {
        ASSERT_TRUE(clock.waitForSleepers(1));
        ASSERT_EQ(clock.nextDeadline().value() - clock.now(), delay);
        clock.advance(delay);
    }
    void stopAndJoin() {
        runner.request_stop();
        runner.join();
    }
};

// Whatever ends the connection, an event it cut short is not delivered.
TEST(DriveEventStream, CallsBackOnlyForChangeNoticesInOrder) {
    for (const bool oversized : {false, true}) {
        SCOPED_TRACE(oversized ? "dropped for an oversized event" : "ended by the server");
        Fixture f;
        auto server = f.transport->enqueueStream();
        f.start();
        server->push(": connected\n\n: ping\n\nevent: other\ndata: x\n\ndata: drive.changed\n\n");
        server->push("event: drive.changed\ndata: not even JSON\n\nevent: drive.changed\n\n");
        server->push("event: drive.cha");
        server->push("nged\r\n\r\nevent: drive.changed\n");
        if (oversized) {
            server->push("data: " + std::string(SSEParser::kDefaultMaxEventBytes, 'x'));
        } else {
            server->end();
        }
        ASSERT_TRUE(f.recorder.waitFor(5));
        EXPECT_EQ(f.recorder.entries(), (std::vector<std::string>{"connected", "change", "change", "change",
                                                                  "disconnected(retryIn: 1)"}));
        f.stopAndJoin();
    }
}

TEST(DriveEventStream, ReconnectionScheduleOnTheVirtualClock) {
    Fixture f;
    f.transport->enqueueClosedStream(500, "{}");
    f.transport->enqueueStreamFailure(DriveError::transport("connexion refusée"));
    for (const int status : {404, 0 /* no HTTP answer */, 503, 502, 500}) f.transport->enqueueClosedStream(status);
    f.transport->enqueueClosedStream(200, ": hello\n\n");  // accepted, then closed by the server
    f.transport->enqueueClosedStream(500);
    f.start();

    // Entries seen before each wait; the 200 (entry 8) starts the schedule over.
    const std::pair<std::size_t, std::chrono::seconds> waits[] = {
        {1, 1s}, {2, 2s}, {3, 5s}, {4, 10s}, {5, 30s}, {6, 60s}, {7, 60s}, {9, 1s}, {10, 2s}};
    for (const auto& [entries, delay] : waits) {
        ASSERT_TRUE(f.recorder.waitFor(entries));
        f.passWait(delay);
    }
    ASSERT_TRUE(f.transport->waitForRequests(10));
    f.stopAndJoin();

    EXPECT_EQ(f.recorder.entries(),
              (std::vector<std::string>{"disconnected(retryIn: 1)", "disconnected(retryIn: 2)",
                                        "disconnected(retryIn: 5)", "disconnected(retryIn: 10)",
                                        "disconnected(retryIn: 30)", "disconnected(retryIn: 60)",
                                        "disconnected(retryIn: 60)", "connected", "disconnected(retryIn: 1)",
                                        "disconnected(retryIn: 2)"}));
    EXPECT_EQ(f.transport->requests().size(), 10u);
}

// A refused token signs in again once and reconnects at once; when that
// does not help, the stream stops as unauthorized instead of retrying.
TEST(DriveEventStream, ARefusedTokenSignsInAgainOnce) {
    struct Case {
        const char* name;
        bool signedIn;
        std::vector<int> refusals;                         // statuses of the refused streams
        std::vector<std::pair<int, std::string>> signIns;  // answers to the sign-ins
        bool reconnects;                                   // else it stops as unauthorized
        std::size_t requests;
        bool sessionKept;
    };
    const std::pair<int, std::string> renewed{200, kSignedIn};
    const Case cases[] = {
        {"401, renewed", true, {401}, {renewed}, true, 3, true},
        {"403, renewed", true, {403}, {renewed}, true, 3, true},
        {"password changed", true, {401}, {{401, "{}"}}, false, 2, false},
        {"second factor now required", true, {403}, {{200, R"({"two_factor_required": true, "pending_token": "p"})"}},
         false, 2, false},
        {"sign-in unreachable", true, {401}, {{503, "{}"}}, false, 2, true},
        {"renewed token refused as well", true, {401, 401}, {renewed}, false, 3, true},
        {"no session at all", false, {}, {}, false, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f(c.signedIn);
        for (int status : c.refusals) f.transport->enqueueClosedStream(status);
        if (c.reconnects) f.transport->enqueueStream();
        for (const auto& [status, body] : c.signIns) f.transport->enqueueResponse(status, body);
        f.start();
        if (c.reconnects) {
            ASSERT_TRUE(f.recorder.waitFor(1));
            f.stopAndJoin();
        } else {
            f.runner.join();
        }
        EXPECT_EQ(f.recorder.entries(), std::vector<std::string>{c.reconnects ? "connected" : "unauthorized"});
        const auto requests = f.transport->requests();
        ASSERT_EQ(requests.size(), c.requests);
        if (c.reconnects) {
            EXPECT_EQ(headerValue(requests[2].headers, "Authorization"), "Bearer token-2");
        }
        EXPECT_EQ(f.client->isAuthenticated(), c.sessionKept);
        for (const auto sleep : f.clock.recordedSleeps()) EXPECT_EQ(sleep, Clock::Duration(75s));  // watchdogs only
    }
}

TEST(DriveEventStream, SilenceForTwicePingPlusFifteenSecondsDropsTheConnection) {
    Fixture f;
    auto server = f.transport->enqueueStream();
    f.start();
    ASSERT_TRUE(f.recorder.waitFor(1));
    ASSERT_TRUE(f.clock.waitForSleepers(1));  // the idle watchdog
    f.clock.advance(74s);
    server->push(": ping\n\n");
    ASSERT_TRUE(server->waitUntilRead());
    f.clock.advance(74s);
    ASSERT_TRUE(f.clock.waitForSleepers(1));
    EXPECT_EQ(f.clock.nextDeadline().value() - f.clock.now(), 1s);  // 75 s after the ping
    EXPECT_EQ(f.recorder.entries(), std::vector<std::string>{"connected"});
    f.clock.advance(1s);
    ASSERT_TRUE(server->waitUntilOver());
    ASSERT_TRUE(f.recorder.waitFor(2));
    EXPECT_EQ(f.recorder.entries()[1], "disconnected(retryIn: 1)");
    f.stopAndJoin();
}

TEST(DriveEventStream, CancellationEndsAConnectionOrAWaitAtOnce) {
    {
        SCOPED_TRACE("during a connection");
        Fixture f;
        auto server = f.transport->enqueueStream();
        f.start();
        ASSERT_TRUE(f.recorder.waitFor(1));
        f.stopAndJoin();
        EXPECT_TRUE(server->waitUntilOver(0ms));
        EXPECT_EQ(f.recorder.entries(), std::vector<std::string>{"connected"});
    }
    {
        SCOPED_TRACE("during a wait");
        Fixture f;
        f.transport->enqueueClosedStream(500);
        f.start();
        ASSERT_TRUE(f.recorder.waitFor(1));
        ASSERT_TRUE(f.clock.waitForSleepers(1));
        f.stopAndJoin();
        EXPECT_EQ(f.transport->requests().size(), 1u);
        EXPECT_EQ(f.recorder.entries(), std::vector<std::string>{"disconnected(retryIn: 1)"});
    }
}

TEST(DriveEventStream, ACallbackExceptionEndsTheConnectionAndLeavesRun) {
    Fixture f;
    auto server = f.transport->enqueueStream();
    server->push("event: drive.changed\n\n");
    std::jthread runner([&](std::stop_token stop) {
        EXPECT_THROW(f.stream.run([] { throw std::runtime_error("handler"); }, [](const Status&) {}, stop),
                     std::runtime_error);
    });
    EXPECT_TRUE(server->waitUntilOver());
}

TEST(EventStreamURL, RefusesWhatIsNotAWebAddress) {
    for (const char* bad : {"", "events.test", "ftp://events.test"}) {
        EXPECT_EQ(testing::driveErrorOf([&] { eventStreamURL(bad, 30); }),
                  DriveError::transport("URL du flux invalide"))
            << bad;
    }
}

}  // namespace
}  // namespace cadrio
