// The libcurl transport against a small loopback server.

#include "core/http/curl_transport.hpp"

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <thread>

#include "core/model/drive_error.hpp"
#include "core/support/cancellation.hpp"

namespace cadrio {
namespace {

class LoopbackServer {
public:
    LoopbackServer() {
        server_.Post("/echo", [](const httplib::Request& req, httplib::Response& res) {
            res.status = 201;
            res.set_header("X-Method", req.method);
            res.set_header("X-Content-Type", req.get_header_value("Content-Type"));
            res.set_content(req.body, "text/plain");
        });
        server_.Put("/echo", [](const httplib::Request& req, httplib::Response& res) {
            res.set_header("ETag", "\"abc\"");
            res.set_content(std::to_string(req.body.size()), "text/plain");
        });
        server_.Get("/redirect", [](const httplib::Request&, httplib::Response& res) {
            res.set_redirect("/stream");
        });
        server_.Get("/stream", [](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider("text/plain", [](size_t offset, httplib::DataSink& sink) {
                if (offset >= 3 * 4) {
                    sink.done();
                    return true;
                }
                sink.write("data", 4);
                return true;
            });
        });
        server_.Get("/silent", [this](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider("text/event-stream", [this](size_t, httplib::DataSink&) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                std::lock_guard lock(mutex_);
                return !release_;
            });
        });
        server_.Get("/hang", [this](const httplib::Request&, httplib::Response& res) {
            std::unique_lock lock(mutex_);
            released_.wait(lock, [this] { return release_; });
            res.set_content("late", "text/plain");
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running()) std::this_thread::yield();
    }
    ~LoopbackServer() {
        {
            std::lock_guard lock(mutex_);
            release_ = true;
        }
        released_.notify_all();
        server_.stop();
        thread_.join();
    }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

private:
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable released_;
    bool release_ = false;
};

HttpRequest make(std::string method, std::string url, std::string body = {}) {
    HttpRequest request;
    request.method = std::move(method);
    request.url = std::move(url);
    request.body = std::move(body);
    request.timeoutSeconds = 10;
    return request;
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

    // A part upload carries no content type of its own.
    std::int64_t lastProgress = 0;
    HttpRequest put = make("PUT", server.url("/echo"), std::string(1 << 20, 'x'));
    put.onUploadProgress = [&](std::int64_t sent) { lastProgress = sent; };
    const HttpResponse stored = transport.send(put, {});
    EXPECT_EQ(stored.body, std::to_string(1 << 20));
    EXPECT_EQ(stored.header("ETag"), "\"abc\"");
    EXPECT_EQ(lastProgress, 1 << 20);

    EXPECT_EQ(transport.send(make("GET", server.url("/missing")), {}).status, 404);
}

TEST(CurlTransport, StreamsTheFinalAnswerAfterRedirects) {
    LoopbackServer server;
    CurlTransport transport;
    int status = 0;
    std::string received;
    HttpStreamSink sink{[&](int s, const HttpHeaders&) { status = s; },
                        [&](std::string_view chunk) {
                            received += chunk;
                            return true;
                        }};
    const HttpResponse answer = transport.stream(make("GET", server.url("/redirect")), sink, {});
    EXPECT_EQ(status, 200);
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(received, "datadatadata");
    EXPECT_TRUE(answer.body.empty());
}

TEST(CurlTransport, StreamAnswerIsAnnouncedBeforeAnyBodyByte) {
    LoopbackServer server;
    CurlTransport transport;
    std::mutex mutex;
    std::condition_variable announced;
    int status = 0;
    std::stop_source stop;
    HttpStreamSink sink{[&](int s, const HttpHeaders&) {
                            std::lock_guard lock(mutex);
                            status = s;
                            announced.notify_all();
                        },
                        [&](std::string_view) { return true; }};
    std::thread worker([&] {
        try {
            transport.stream(make("GET", server.url("/silent")), sink, stop.get_token());
        } catch (const CancellationError&) {
        }
    });
    {
        std::unique_lock lock(mutex);
        announced.wait_for(lock, std::chrono::seconds(10), [&] { return status != 0; });
        EXPECT_EQ(status, 200);
    }
    stop.request_stop();
    worker.join();
}

TEST(CurlTransport, NetworkFailureIsATransportError) {
    CurlTransport transport;
    // Port 1 on loopback: nothing listens there.
    try {
        transport.send(make("GET", "http://127.0.0.1:1/"), {});
        FAIL();
    } catch (const DriveError& error) {
        EXPECT_EQ(error.kind(), DriveError::Kind::transport);
        EXPECT_FALSE(error.text().empty());
    }
    EXPECT_THROW(transport.send(make("GET", "file:///etc/passwd"), {}), DriveError);
}

TEST(CurlTransport, StopTokenEndsAWaitingExchange) {
    LoopbackServer server;
    CurlTransport transport;
    std::stop_source stop;
    std::atomic<bool> cancelled = false;
    std::thread worker([&] {
        try {
            transport.send(make("GET", server.url("/hang")), stop.get_token());
        } catch (const CancellationError&) {
            cancelled = true;
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // let the request reach the server
    stop.request_stop();
    worker.join();
    EXPECT_TRUE(cancelled);
}

}  // namespace
}  // namespace cadrio
