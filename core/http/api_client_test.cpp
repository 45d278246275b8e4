#include "core/http/api_client.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <thread>

#include "core/http/testing/drive_error_of.hpp"
#include "core/http/testing/scripted_transport.hpp"
#include "core/support/cancellation.hpp"
#include "core/support/thread_annotations.hpp"

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

TEST(ApiClient, WhatIsSentAgainDependsOnWhetherItCanActTwice) {
    constexpr int kLost = 0;     // the exchange broke off after the request may have gone out
    constexpr int kUnsent = -1;  // it failed before anything was sent
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
        {"refused when repeated: sent again", Idempotency::refusedWhenRepeated, {kLost, 200}, {400ms},
         true},
    };
    for (const auto& c : cases) {
        Fixture f;
        for (int answer : c.answers) {
            if (answer == kLost) {
                f.transport->enqueueError(DriveError::transport("reset"));
            } else if (answer == kUnsent) {
                f.transport->enqueueError(DriveError::transportBeforeSending("refused"));
            } else {
                f.transport->enqueue(answer, "busy");
            }
        }
        const auto send = [&] { return f.client.request("/x", "POST", std::nullopt, c.idempotency); };
        if (c.succeeds) {
            EXPECT_EQ(send().status, 200) << c.name;
        } else {
            EXPECT_THROW(send(), DriveError) << c.name;
        }
        EXPECT_EQ(f.clock.recordedSleeps(), c.sleeps) << c.name;
        EXPECT_EQ(f.transport->requests().size(), c.answers.size()) << c.name;
    }
}

TEST(ApiClient, ErrorsThatAreNotRetried) {
    Fixture f;
    f.transport->enqueue(409, "", {{"X-Drive-Conflict", " Archived"}});
    EXPECT_EQ(driveErrorOf([&] { f.client.request("/x", "PUT", std::nullopt, Idempotency::idempotent); }),
              DriveError::archived());

    f.transport->enqueueError(std::runtime_error("not a drive error"));
    EXPECT_THROW(f.client.request("/x", "GET", std::nullopt, Idempotency::idempotent), std::runtime_error);

    EXPECT_EQ(driveErrorOf([&] { f.client.request("/a b", "GET", std::nullopt, Idempotency::idempotent); }),
              DriveError::transport("URL invalide : /a b"));

    // Signed out: a refusal does not try to sign in.
    f.transport->enqueue(401);
    EXPECT_EQ(driveErrorOf([&] { f.client.request("/x", "GET", std::nullopt, Idempotency::idempotent); }),
              DriveError::notAuthenticated());
    EXPECT_EQ(f.transport->requests().size(), 3u);
    EXPECT_TRUE(f.clock.recordedSleeps().empty());
}

// One silent sign-in per attempt, whatever it brings back.
TEST(ApiClient, SilentReloginOutcomes) {
    struct Case {
        const char* name;
        std::function<void(ScriptedTransport&)> answers;  // from the sign-in on
        bool succeeds;
        bool sessionKept;
        std::size_t sent;
    };
    const Case cases[] = {
        {"new token",
         [](ScriptedTransport& t) {
             t.enqueue(200, R"({"access_token":"new"})");
             t.enqueue(200, "ok");
         },
         true, true, 3},
        {"second factor now required",
         [](ScriptedTransport& t) {
             t.enqueue(200, R"({"two_factor_required":true,"pending_token":"p","methods":["totp"]})");
         },
         false, false, 2},
        {"password refused", [](ScriptedTransport& t) { t.enqueue(401); }, false, false, 2},
        {"network down", [](ScriptedTransport& t) { t.enqueueError(DriveError::transport("down")); },
         false, true, 2},
        {"rate limited", [](ScriptedTransport& t) { t.enqueue(429); }, false, true, 2},
        {"renewed token refused as well",
         [](ScriptedTransport& t) {
             t.enqueue(200, R"({"access_token":"new"})");
             t.enqueue(401);
         },
         false, true, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        f.signIn();
        f.transport->enqueue(401);
        c.answers(*f.transport);
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
        EXPECT_EQ(f.transport->requests().size(), c.sent);
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
    std::stop_source stop;
    std::atomic<bool> cancelled = false;
    std::jthread worker([&] {
        try {
            f.client.request("/x", "GET", std::nullopt, Idempotency::idempotent, stop.get_token());
        } catch (const CancellationError&) {
            cancelled = true;
        }
    });
    ASSERT_TRUE(f.clock.waitForSleepers(1));
    stop.request_stop();
    worker.join();
    EXPECT_TRUE(cancelled);
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
            const bool fresh = headerValue(request.headers, "Authorization") !=
                               "Bearer old-token";
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

/// A session store whose save() waits until the test lets it go, as a
/// secret store waiting for its unlock prompt does.
class StallingStore final : public SessionStoring {
public:
    std::optional<DriveSession> load() override {
        LockGuard lock(mutex_);
        return session_;
    }
    void save(const DriveSession& session) override {
        UniqueLock lock(mutex_);
        saving_ = true;
        changed_.notify_all();
        while (!released_) changed_.wait(lock);
        session_ = session;
    }
    void clear() override {
        LockGuard lock(mutex_);
        session_.reset();
    }
    bool waitUntilSaving() {
        UniqueLock lock(mutex_);
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (!saving_) {
            if (changed_.wait_until(lock, deadline) == std::cv_status::timeout) return false;
        }
        return true;
    }
    void release() {
        LockGuard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }

private:
    Mutex mutex_;
    std::condition_variable_any changed_;
    std::optional<DriveSession> session_ CADRIO_GUARDED_BY(mutex_) = kSession;
    bool saving_ CADRIO_GUARDED_BY(mutex_) = false;
    bool released_ CADRIO_GUARDED_BY(mutex_) = false;
};

TEST(ApiClient, AStoreSlowToSaveHoldsUpNoReader) {
    auto transport = std::make_shared<ScriptedTransport>();
    auto store = std::make_shared<StallingStore>();
    VirtualClock clock;
    ApiClient client(DriveConfiguration("https://drive.test/api/v1", 3, 400ms, 60), transport, store,
                     std::make_shared<InMemoryTrustedDeviceStore>(), clock);
    client.restoreSession();
    transport->enqueue(200, R"({"access_token":"new"})");
    std::jthread signIn([&] { client.login("a@cadrio.test", "pw"); });
    ASSERT_TRUE(store->waitUntilSaving());

    auto reader = std::async(std::launch::async, [&] {
        return std::pair(client.isAuthenticated(), client.currentAccessToken());
    });
    const bool answered = reader.wait_for(10s) == std::future_status::ready;
    store->release();
    EXPECT_TRUE(answered);
    // Not current before the store took it.
    EXPECT_EQ(reader.get(), std::pair(true, std::optional<std::string>("old-token")));
    signIn.join();
    EXPECT_EQ(client.currentAccessToken(), "new");
    EXPECT_EQ(store->load()->accessToken, "new");
}

}  // namespace
}  // namespace cadrio
