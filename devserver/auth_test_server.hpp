#pragma once
// Test support for the sign-in and event-stream tests: an httplib::Server on
// a free loopback port with only the routes a test registers, and a client
// for it. Header-only so that it stays out of the server library.

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>

namespace cadrio::devserver::testing {

class TestServer {
public:
    explicit TestServer(const std::function<void(httplib::Server&)>& registerRoutes) {
        server_.new_task_queue = [] { return new httplib::ThreadPool(16); };
        registerRoutes(server_);
        port_ = server_.bind_to_any_port("127.0.0.1");
        if (port_ <= 0) throw std::runtime_error("cannot bind a loopback port");
        // Connections made before the loop starts wait in the listen backlog.
        thread_ = std::thread([this] { server_.listen_after_bind(); });
    }
    ~TestServer() {
        server_.stop();
        thread_.join();
    }
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    int port() const { return port_; }
    httplib::Client client() const {
        httplib::Client c("127.0.0.1", port_);
        c.set_read_timeout(10, 0);
        return c;
    }

private:
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
};

struct JsonAnswer {
    int status = 0;
    nlohmann::json body;
    httplib::Headers headers;
};

inline JsonAnswer postJson(const TestServer& server, const std::string& path, const std::string& body) {
    auto result = server.client().Post(path, body, "application/json");
    if (!result) throw std::runtime_error("request failed: " + httplib::to_string(result.error()));
    return {result->status, nlohmann::json::parse(result->body, nullptr, false), result->headers};
}

inline JsonAnswer postJson(const TestServer& server, const std::string& path, const nlohmann::json& body) {
    return postJson(server, path, body.dump());
}

/// How many times `fragment` appears in `text`, overlaps included.
inline std::size_t occurrences(const std::string& text, const std::string& fragment) {
    std::size_t n = 0;
    for (auto at = text.find(fragment); at != std::string::npos; at = text.find(fragment, at + 1)) ++n;
    return n;
}

/// A settable clock for AuthService::setClock.
class VirtualClock {
public:
    explicit VirtualClock(std::int64_t unixSeconds) : seconds_(unixSeconds) {}
    std::chrono::system_clock::time_point now() const {
        return std::chrono::system_clock::time_point(std::chrono::seconds(seconds_.load()));
    }
    std::int64_t seconds() const { return seconds_.load(); }
    void advance(std::chrono::seconds by) { seconds_ += by.count(); }
    std::function<std::chrono::system_clock::time_point()> function() {
        return [this] { return now(); };
    }

private:
    std::atomic<std::int64_t> seconds_;
};

}  // namespace cadrio::devserver::testing
