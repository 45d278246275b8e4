// The libcurl transport against small loopback servers.

#include "core/http/curl_transport.hpp"

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <thread>

#include "core/http/api_client.hpp"
#include "core/http/testing/drive_error_of.hpp"
#include "core/model/drive_error.hpp"
#include "core/support/cancellation.hpp"
#include "core/support/thread_annotations.hpp"

namespace cadrio {
namespace {

using namespace std::chrono_literals;

/// Routes that answer at once, routes that wait until the server goes away,
/// and whether each request that reached it carried credentials.
class LoopbackServer {
public:
    LoopbackServer() {
        server_.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response&) {
            {
                LockGuard lock(mutex_);
                authorized_.push_back(req.has_header("Authorization"));
            }
            changed_.notify_all();
            return httplib::Server::HandlerResponse::Unhandled;
        });
        server_.Post("/echo", [](const httplib::Request& req, httplib::Response& res) {
            res.status = 201;
            res.set_header("X-Content-Type", req.get_header_value("Content-Type"));
            res.set_content(req.body, "text/plain");
        });
        server_.Put("/echo", [](const httplib::Request& req, httplib::Response& res) {
            res.set_header("ETag", "\"abc\"");
            res.set_content(std::to_string(req.body.size()), "text/plain");
        });
        server_.Get("/stream", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("datadatadata", "text/plain");
        });
        server_.Get("/truncated", [](const httplib::Request&, httplib::Response& res) {
            res.set_content_provider(10, "text/plain", [](size_t, size_t, httplib::DataSink& sink) {
                sink.write("12345", 5);
                return false;  // the connection ends mid-body
            });
        });
        server_.Get("/silent", [this](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider("text/event-stream", [this](size_t, httplib::DataSink&) {
                waitForRelease();
                return false;
            });
        });
        server_.Get("/hang", [this](const httplib::Request&, httplib::Response& res) {
            waitForRelease();
            res.set_content("late", "text/plain");
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running()) std::this_thread::yield();
    }
    ~LoopbackServer() {
        {
            LockGuard lock(mutex_);
            released_ = true;
        }
        changed_.notify_all();
        server_.stop();
        thread_.join();
    }

    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    /// `path` (any method) answers `status` with a Location of `target`.
    void redirect(const std::string& path, const std::string& target, int status = 302) {
        const auto answer = [target, status](const httplib::Request&, httplib::Response& res) {
            res.set_redirect(target, status);
        };
        server_.Get(path, answer);
        server_.Post(path, answer);
    }
    /// Per request received: whether it carried an Authorization header.
    std::vector<bool> received() {
        LockGuard lock(mutex_);
        return authorized_;
    }
    /// Waits (bounded by a safety timeout) until `count` requests arrived.
    bool waitForRequests(std::size_t count) {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        UniqueLock lock(mutex_);
        while (authorized_.size() < count) {
            if (changed_.wait_until(lock, deadline) == std::cv_status::timeout) return false;
        }
        return true;
    }

private:
    void waitForRelease() {
        UniqueLock lock(mutex_);
        while (!released_) changed_.wait(lock);
    }

    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
    Mutex mutex_;
    std::condition_variable_any changed_;
    bool released_ CADRIO_GUARDED_BY(mutex_) = false;
    std::vector<bool> authorized_ CADRIO_GUARDED_BY(mutex_);
};

HttpRequest make(std::string method, std::string url, std::string body = {}) {
    HttpRequest request;
    request.method = std::move(method);
    request.url = std::move(url);
    request.body = std::move(body);
    request.timeoutSeconds = 10;
    return request;
}

DriveError transportErrorOf(const HttpRequest& request) {
    return testing::driveErrorOf([&] { CurlTransport().send(request, {}); });
}

TEST(CurlTransport, SendsMethodHeadersAndBodyAndReturnsAnyStatus) {
    LoopbackServer server;
    CurlTransport transport;
    HttpRequest post = make("POST", server.url("/echo"), R"({"a":1})");
    post.headers.emplace_back("Content-Type", "application/json");
    const HttpResponse answer = transport.send(post, {});
    EXPECT_EQ(answer.status, 201);
    EXPECT_EQ(answer.body, R"({"a":1})");
    EXPECT_EQ(answer.header("x-content-type"), "application/json");

    std::int64_t lastProgress = 0;
    HttpRequest put = make("PUT", server.url("/echo"), std::string(1 << 20, 'x'));
    put.onUploadProgress = [&](std::int64_t sent) { lastProgress = sent; };
    const HttpResponse stored = transport.send(put, {});
    EXPECT_EQ(stored.body, std::to_string(1 << 20));
    EXPECT_EQ(stored.header("ETag"), "\"abc\"");
    EXPECT_EQ(lastProgress, 1 << 20);

    EXPECT_EQ(transport.send(make("GET", server.url("/missing")), {}).status, 404);
}

TEST(CurlTransport, RedirectionsFollowOnlyWhereThePolicyAllows) {
    struct Case {
        const char* name;
        RedirectPolicy policy;
        std::string target;  // of the redirection: a path on the same server, or an address elsewhere
        int status;          // of the answer handed back
        std::size_t requests;
    };
    const Case cases[] = {
        {"never by default", RedirectPolicy::never, "/stream", 302, 1},
        {"https only", RedirectPolicy::httpsOnly, "/stream", 302, 1},
        {"development server", RedirectPolicy::httpsOrLoopback, "/stream", 200, 2},
        {"plain http off the machine", RedirectPolicy::httpsOrLoopback, "http://cadrio.test/stream", 302, 1},
        {"a loop ends after five hops", RedirectPolicy::httpsOrLoopback, "/moved", 302, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackServer server;
        server.redirect("/moved", c.target.starts_with("/") ? server.url(c.target) : c.target);
        HttpRequest request = make("GET", server.url("/moved"));
        request.redirects = c.policy;
        request.headers.emplace_back("Authorization", "Bearer secret");
        int announced = 0;
        std::string received;
        HttpStreamSink sink{[&](int status, const HttpHeaders&) { announced = status; },
                            [&](std::string_view chunk) {
                                received += chunk;
                                return true;
                            }};
        const HttpResponse answer = CurlTransport().stream(request, sink, {});
        EXPECT_EQ(answer.status, c.status);
        EXPECT_EQ(announced, c.status);
        if (c.status == 200) {
            EXPECT_EQ(received, "datadatadata");
        }
        const auto requests = server.received();
        ASSERT_EQ(requests.size(), c.requests);
        for (std::size_t i = 1; i < requests.size(); ++i) EXPECT_FALSE(requests[i]) << "credentials carried along";
    }
}

TEST(CurlTransport, ASignInAnsweredWithARedirectionSendsThePasswordNowhereElse) {
    LoopbackServer api;
    LoopbackServer elsewhere;
    api.redirect("/api/v1/auth/login-jmap", elsewhere.url("/collect"), 307);
    ApiClient client(DriveConfiguration(api.url("/api/v1"), 3, 1ms, 10),
                     std::make_shared<CurlTransport>(), std::make_shared<InMemorySessionStore>(),
                     std::make_shared<InMemoryTrustedDeviceStore>());
    const DriveError error = testing::driveErrorOf([&] { client.login("a@cadrio.test", "secret-password"); });
    EXPECT_EQ(error.status(), 307);
    EXPECT_EQ(api.received().size(), 1u);
    EXPECT_TRUE(elsewhere.received().empty());
}

TEST(CurlTransport, FailuresSayWhetherTheRequestWentOut) {
    LoopbackServer server;
    // Port 1 on loopback: nothing listens there, so nothing was sent.
    const DriveError refused = transportErrorOf(make("POST", "http://127.0.0.1:1/", "x"));
    EXPECT_TRUE(refused.requestNeverSent());

    const DriveError cut = transportErrorOf(make("GET", server.url("/truncated")));
    EXPECT_EQ(cut.kind(), DriveError::Kind::transport);
    EXPECT_FALSE(cut.requestNeverSent());

    EXPECT_EQ(transportErrorOf(make("GET", "file:///etc/passwd")).kind(), DriveError::Kind::transport);
}

// Waiting for the answer, or for the body of a stream whose answer was
// announced before any byte of it.
TEST(CurlTransport, StopTokenEndsAWaitingExchange) {
    for (const bool streamed : {false, true}) {
        SCOPED_TRACE(streamed ? "silent stream" : "no answer yet");
        LoopbackServer server;
        std::promise<int> announced;
        HttpStreamSink sink{[&](int status, const HttpHeaders&) { announced.set_value(status); },
                            [](std::string_view) { return true; }};
        std::stop_source stop;
        std::atomic<bool> cancelled = false;
        std::thread worker([&] {
            try {
                if (streamed) {
                    CurlTransport().stream(make("GET", server.url("/silent")), sink, stop.get_token());
                } else {
                    CurlTransport().send(make("GET", server.url("/hang")), stop.get_token());
                }
            } catch (const CancellationError&) {
                cancelled = true;
            }
        });
        if (streamed) {
            auto status = announced.get_future();
            EXPECT_TRUE(status.wait_for(10s) == std::future_status::ready && status.get() == 200);
        } else {
            EXPECT_TRUE(server.waitForRequests(1));
        }
        stop.request_stop();
        worker.join();
        EXPECT_TRUE(cancelled);
    }
}

}  // namespace
}  // namespace cadrio
