#pragma once
// The local drive server seeded with "demo" on a free loopback port, and an
// ApiClient pointed at it with in-memory stores: the starting point of the
// integration tests. Header-only; never linked into the programs.

#include <chrono>
#include <memory>

#include "core/http/api_client.hpp"
#include "core/http/curl_transport.hpp"
#include "devserver/dev_server.hpp"

namespace cadrio::testing {

inline constexpr const char* kDemoAccount = "demo@cadrio.test";
inline constexpr const char* kDemoPassword = "cadrio-demo";

/// Started; each open event stream holds one of `threads` workers.
inline std::unique_ptr<devserver::DevServer> startDemoServer(int threads = 8) {
    devserver::DevServerOptions options;
    options.threads = threads;
    auto server = std::make_unique<devserver::DevServer>(options);
    server->seed("demo");
    server->start(0);
    return server;
}

/// Signed out; short back-off so retried tests stay quick.
inline std::shared_ptr<ApiClient> makeDemoClient(
    const devserver::DevServer& server,
    std::shared_ptr<HTTPTransport> transport = std::make_shared<CurlTransport>(),
    std::shared_ptr<SessionStoring> sessions = std::make_shared<InMemorySessionStore>(),
    std::shared_ptr<TrustedDeviceStoring> devices = std::make_shared<InMemoryTrustedDeviceStore>()) {
    return std::make_shared<ApiClient>(
        DriveConfiguration(server.baseURL() + "/api/v1", 3, std::chrono::milliseconds(50), 60),
        std::move(transport), std::move(sessions), std::move(devices));
}

}  // namespace cadrio::testing
