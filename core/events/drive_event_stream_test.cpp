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
    std::atomic<bool> finished{false};
    std::jthread runner;

    explicit Fixture(bool signedIn = true) {
        if (!signedIn) store->clear();
        client->restoreSession();
    }

    void start() {
        runner = std::jthread([this](std::stop_token stop) {
            recorder.run(stream, stop);
            finished = true;
        });
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
    std::string authorization(std::size_t index) const {
        return HttpResponse{0, transport->requests().at(index).headers, {}}.header("Authorization").value_or("");
    }
};

TEST(DriveEventStream, CallsBackOnlyForChangeNoticesInOrder) {
    Fixture f;
    auto server = f.transport->enqueueStream();
    f.start();
    server->push(": connected\n\n: ping\n\nevent: other\ndata: x\n\ndata: drive.changed\n\n");
    server->push("event: drive.changed\ndata: not even JSON\n\nevent: drive.changed\n\n");
    server->push("event: drive.cha");
    server->push("nged\r\n\r\nevent: drive.changed\n");  // unfinished when the stream ends
    server->end();
    ASSERT_TRUE(f.recorder.waitFor(5));
    EXPECT_EQ(f.recorder.entries(), (std::vector<std::string>{"connected", "change", "change", "change",
                                                              "disconnected(retryIn: 1)"}));
    f.stopAndJoin();
}

TEST(DriveEventStream, ReconnectionScheduleOnTheVirtualClock) {
    Fixture f;
    f.transport->enqueueClosedStream(500, "{}");
    f.transport->enqueueStreamFailure(DriveError::transport("connexion refusée"));
    f.transport->enqueueClosedStream(404);
    f.transport->enqueueClosedStream(0);  // not an HTTP answer
    f.transport->enqueueClosedStream(503);
    f.transport->enqueueClosedStream(502);
    f.transport->enqueueClosedStream(500);
    f.transport->enqueueClosedStream(200, ": hello\n\n");  // accepted, then closed by the server
    f.transport->enqueueClosedStream(500);
    f.start();

    const std::vector<std::chrono::seconds> waits{1s, 2s, 5s, 10s, 30s, 60s, 60s};
    for (std::size_t i = 0; i < waits.size(); ++i) {
        ASSERT_TRUE(f.recorder.waitFor(i + 1));
        f.passWait(waits[i]);
    }
    ASSERT_TRUE(f.recorder.waitFor(waits.size() + 2));
    f.passWait(1s);  // the 200 started the schedule over
    ASSERT_TRUE(f.recorder.waitFor(waits.size() + 3));
    f.passWait(2s);
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

TEST(DriveEventStream, RefusedTokenSignsInAgainAndReconnectsAtOnce) {
    for (const int refusal : {401, 403}) {
        SCOPED_TRACE(refusal);
        Fixture f;
        f.transport->enqueueClosedStream(refusal);
        f.transport->enqueueResponse(200, kSignedIn);
        f.transport->enqueueStream();
        f.start();
        ASSERT_TRUE(f.recorder.waitFor(1));
        EXPECT_EQ(f.recorder.entries(), std::vector<std::string>{"connected"});
        const auto requests = f.transport->requests();
        ASSERT_EQ(requests.size(), 3u);
        EXPECT_NE(requests[1].url.find("/auth/login-jmap"), std::string::npos);
        EXPECT_EQ(f.authorization(2), "Bearer token-2");
        for (const auto sleep : f.clock.recordedSleeps()) EXPECT_EQ(sleep, Clock::Duration(75s));  // watchdogs only
        f.stopAndJoin();
    }
}

TEST(DriveEventStream, StopsAsUnauthorizedWhenSigningInAgainDoesNotHelp) {
    struct Case {
        const char* name;
        bool signedIn;
        std::vector<int> streams;      // statuses of the stream answers
        std::vector<int> signIns;      // statuses of the sign-in answers
        std::size_t requests;
        bool sessionKept;
    };
    const Case cases[] = {
        {"password changed", true, {401}, {401}, 2, false},
        {"second factor now required", true, {403}, {200}, 2, false},
        {"sign-in unreachable", true, {401}, {503}, 2, true},
        {"renewed token refused as well", true, {401, 401}, {200}, 3, true},
        {"no session at all", false, {}, {}, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f(c.signedIn);
        for (int status : c.streams) f.transport->enqueueClosedStream(status);
        for (int status : c.signIns) {
            f.transport->enqueueResponse(status, status == 200 && c.streams.size() == 1
                                                     ? R"({"two_factor_required": true, "pending_token": "p"})"
                                                     : (status == 200 ? kSignedIn : "{}"));
        }
        f.start();
        f.runner.join();
        EXPECT_TRUE(f.finished);
        EXPECT_EQ(f.recorder.entries(), std::vector<std::string>{"unauthorized"});
        EXPECT_EQ(f.transport->requests().size(), c.requests);
        EXPECT_EQ(f.client->isAuthenticated(), c.sessionKept);
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
        SCOPED_TRACE("before any answer");
        Fixture f;  // nothing scripted: the server never answers
        f.start();
        ASSERT_TRUE(f.transport->waitForRequests(1));
        f.stopAndJoin();
        EXPECT_TRUE(f.recorder.entries().empty());
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

TEST(DriveEventStream, AnOversizedEventDropsTheConnection) {
    Fixture f;
    auto server = f.transport->enqueueStream();
    f.start();
    server->push("data: " + std::string(SSEParser::kDefaultMaxEventBytes, 'x'));
    ASSERT_TRUE(server->waitUntilOver());
    ASSERT_TRUE(f.recorder.waitFor(2));
    EXPECT_EQ(f.recorder.entries()[1], "disconnected(retryIn: 1)");
    f.stopAndJoin();
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
