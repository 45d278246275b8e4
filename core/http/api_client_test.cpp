#include "core/http/api_client.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "core/http/testing/drive_error_of.hpp"
#include "core/http/testing/scripted_transport.hpp"
#include "core/support/cancellation.hpp"

namespace cadrio {
namespace {

using namespace std::chrono_literals;
using testing::driveErrorOf;
using testing::ScriptedTransport;

const DriveSession kSession{"a@cadrio.test", "old-token", "pw"};

struct Fixture {
    std::shared_ptr<ScriptedTransport> transport = std::make_shared<ScriptedTransport>();
    std::shared_ptr<InMemorySessionStore> store = std::make_shared<InMemorySessionStore>();
    std::shared_ptr<InMemoryTrustedDeviceStore> devices = std::make_shared<InMemoryTrustedDeviceStore>();
    VirtualClock clock;
    ApiClient client{DriveConfiguration("https://drive.test/api/v1", 3, 400ms, 60), transport, store,
                     devices, clock};

    Fixture() { clock.setAutoAdvance(true); }

    void signIn() {
        store->save(kSession);
        ASSERT_TRUE(client.restoreSession());
    }

    std::optional<std::string> authorization(std::size_t index) const {
        return headerValue(transport->requests().at(index).headers, "Authorization");
    }
};

constexpr int kLost = 0;     // the exchange broke off after the request may have gone out
constexpr int kUnsent = -1;  // it failed before anything was sent

void script(ScriptedTransport& transport, int answer, std::string body = "busy") {
    if (answer == kLost) {
        transport.enqueueError(DriveError::transport("reset"));
    } else if (answer == kUnsent) {
        transport.enqueueError(DriveError::transportBeforeSending("refused"));
    } else {
        transport.enqueue(answer, std::move(body));
    }
}

TEST(ApiClient, WhatIsSentAgainDependsOnWhetherItCanActTwice) {
    const auto idempotent = Idempotency::idempotent;
    const auto once = Idempotency::notIdempotent;
    struct Case {
        const char* name;
        Idempotency idempotency;
        std::vector<int> answers;
        std::vector<Clock::Duration> sleeps;
        bool succeeds;
    };
    const Case cases[] = {
        {"recovers on the third attempt", idempotent, {503, 503, 200}, {400ms, 800ms}, true},
        {"gives up after three", idempotent, {503, 503, 503}, {400ms, 800ms}, false},
        {"a lost answer is asked for again", idempotent, {kLost, 200}, {400ms}, true},
        {"4xx never retried", idempotent, {429}, {}, false},
        {"a lost answer may have acted", once, {kLost}, {}, false},
        {"a 500 may have acted", once, {500}, {}, false},
        {"never sent, so sent again", once, {kUnsent, 200}, {400ms}, true},
        {"503 and 429: the server did nothing", once, {503, 429, 200}, {400ms, 800ms}, true},
        {"refused when repeated: sent again", Idempotency::refusedWhenRepeated, {kLost, 200}, {400ms}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        for (int answer : c.answers) script(*f.transport, answer);
        const auto send = [&] { return f.client.request("/x", "POST", std::nullopt, c.idempotency); };
        if (c.succeeds) {
            EXPECT_EQ(send().status, 200);
        } else {
            EXPECT_THROW(send(), DriveError);
        }
        EXPECT_EQ(f.clock.recordedSleeps(), c.sleeps);
        EXPECT_EQ(f.transport->requests().size(), c.answers.size());
    }
}

TEST(ApiClient, ErrorsThatAreNotRetried) {
    Fixture f;
    f.transport->enqueueError(std::runtime_error("not a drive error"));
    EXPECT_THROW(f.client.request("/x", "GET", std::nullopt, Idempotency::idempotent), std::runtime_error);

    EXPECT_EQ(driveErrorOf([&] { f.client.request("/a b", "GET", std::nullopt, Idempotency::idempotent); }),
              DriveError::transport("URL invalide : /a b"));

    // Signed out: a refusal does not try to sign in.
    f.transport->enqueue(401);
    EXPECT_EQ(driveErrorOf([&] { f.client.request("/x", "GET", std::nullopt, Idempotency::idempotent); }),
              DriveError::notAuthenticated());
    EXPECT_EQ(f.transport->requests().size(), 2u);
    EXPECT_TRUE(f.clock.recordedSleeps().empty());
}

// One silent sign-in per attempt, whatever it brings back.
TEST(ApiClient, SilentReloginOutcomes) {
    constexpr auto kRenewed = R"({"access_token":"new"})";
    struct Case {
        const char* name;
        std::vector<std::pair<int, std::string>> answers;  // from the sign-in on
        bool succeeds;
        bool sessionKept;
    };
    const Case cases[] = {
        {"new token", {{200, kRenewed}, {200, "ok"}}, true, true},
        {"second factor now required",
         {{200, R"({"two_factor_required":true,"pending_token":"p","methods":["totp"]})"}}, false, false},
        {"password refused", {{401, ""}}, false, false},
        {"network down", {{kLost, ""}}, false, true},
        {"rate limited", {{429, ""}}, false, true},
        {"renewed token refused as well", {{200, kRenewed}, {401, ""}}, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        f.signIn();
        f.transport->enqueue(401);
        for (const auto& [status, body] : c.answers) script(*f.transport, status, body);
        if (c.succeeds) {
            EXPECT_EQ(f.client.request("/x", "GET", std::nullopt, Idempotency::idempotent).body, "ok");
            EXPECT_EQ(f.authorization(2), "Bearer new");
            EXPECT_EQ(f.store->load()->accessToken, "new");
        } else {
            EXPECT_EQ(driveErrorOf([&] { f.client.request("/x", "GET", std::nullopt, Idempotency::idempotent); }),
                      DriveError::notAuthenticated());
            EXPECT_EQ(f.client.isAuthenticated(), c.sessionKept);
            EXPECT_EQ(f.store->load().has_value(), c.sessionKept);
        }
        EXPECT_FALSE(f.authorization(1));
        EXPECT_EQ(f.transport->requests().size(), c.answers.size() + 1);
    }
}

TEST(ApiClient, ExternalRequestsAreSentAsGiven) {
    Fixture f;
    f.signIn();
    HttpRequest put;
    put.method = "PUT";
    put.url = "https://storage.test/part?sig=1";
    put.body = "bytes";
    f.transport->enqueue(403, std::string(400, 'x'));
    EXPECT_EQ(driveErrorOf([&] { f.client.sendExternal(put); }), DriveError::http(403, std::string(300, 'x')));
    f.transport->enqueue(500);
    f.transport->enqueue(200, "", {{"ETag", "\"e\""}});
    EXPECT_EQ(f.client.sendExternal(put).header("etag"), "\"e\"");
    const auto requests = f.transport->requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_TRUE(requests[0].headers.empty());
    EXPECT_EQ(requests[0].url, put.url);
}

TEST(ApiClient, CancelledBackOffEndsAtOnce) {
    Fixture f;
    f.clock.setAutoAdvance(false);
    f.transport->enqueue(503);
    std::jthread worker([&](std::stop_token stop) {
        EXPECT_THROW(f.client.request("/x", "GET", std::nullopt, Idempotency::idempotent, stop), CancellationError);
    });
    ASSERT_TRUE(f.clock.waitForSleepers(1));
    worker.request_stop();
}

TEST(ApiClient, RacingReloginsLeaveStoreAndMemoryInAgreement) {
    Fixture f;
    f.signIn();
    std::atomic<int> issued = 0;
    constexpr int kThreads = 8;
    for (int i = 0; i < kThreads * 3; ++i) {
        f.transport->enqueue([&](const HttpRequest& request) {
            if (request.url.ends_with("/auth/login-jmap")) {
                return HttpResponse{200, {}, R"({"access_token":"t)" + std::to_string(++issued) + "\"}"};
            }
            const bool fresh = headerValue(request.headers, "Authorization") != "Bearer old-token";
            return HttpResponse{fresh ? 200 : 401, {}, {}};
        });
    }
    {
        std::vector<std::jthread> threads;
        for (int i = 0; i < kThreads; ++i) {
            threads.emplace_back([&] { f.client.request("/x", "GET", std::nullopt, Idempotency::idempotent); });
        }
    }
    EXPECT_GE(issued.load(), 1);
    EXPECT_EQ(f.store->load()->accessToken, f.client.currentAccessToken());
}

/// A session store whose one save() waits until the test lets it go, as a
/// secret store waiting for its unlock prompt does.
class StallingStore final : public SessionStoring {
public:
    std::optional<DriveSession> load() override { return stored_.load(); }
    void save(const DriveSession& session) override {
        saving.set_value();
        released_.wait();
        stored_.save(session);
    }
    void clear() override { stored_.clear(); }

    std::promise<void> saving;
    std::promise<void> release;

private:
    std::future<void> released_ = release.get_future();
    InMemorySessionStore stored_{kSession};
};

TEST(ApiClient, AStoreSlowToSaveHoldsUpNoReader) {
    auto transport = std::make_shared<ScriptedTransport>();
    auto store = std::make_shared<StallingStore>();
    auto saving = store->saving.get_future();
    VirtualClock clock;
    ApiClient client(DriveConfiguration("https://drive.test/api/v1", 3, 400ms, 60), transport, store,
                     std::make_shared<InMemoryTrustedDeviceStore>(), clock);
    client.restoreSession();
    transport->enqueue(200, R"({"access_token":"new"})");
    std::jthread signIn([&] { client.login("a@cadrio.test", "pw"); });
    ASSERT_EQ(saving.wait_for(10s), std::future_status::ready);

    auto reader = std::async(std::launch::async, [&] {
        return std::pair(client.isAuthenticated(), client.currentAccessToken());
    });
    const bool answered = reader.wait_for(10s) == std::future_status::ready;
    store->release.set_value();
    EXPECT_TRUE(answered);
    // Not current before the store took it.
    EXPECT_EQ(reader.get(), std::pair(true, std::optional<std::string>("old-token")));
    signIn.join();
    EXPECT_EQ(client.currentAccessToken(), "new");
    EXPECT_EQ(store->load()->accessToken, "new");
}

}  // namespace
}  // namespace cadrio
