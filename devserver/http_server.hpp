#pragma once
// httplib's server with bounds on what one client can hold. httplib 0.11
// by itself waits per read rather than per request, so a client trickling
// its headers is never dropped; it keeps every header line it is sent; and
// it reads an oversized body to its end before refusing it. Here:
//   - a connection delivers its next request head (request line and
//     headers) whole within `headTimeout`, counted from the connection or
//     from the end of the previous answer, or it is closed: idle and slow
//     clients alike;
//   - a head over `maxHeadBytes` or with more than `maxHeaderLines` header
//     lines is answered 431 and the connection closed;
//   - a body announced larger than the body limit is answered 413 (through
//     the error handler) before any of it is read; a chunked body is cut at
//     that size; a POST, PUT, PATCH or DELETE announcing no length has an
//     empty body instead of one read until the client closes;
//   - a body that stops arriving for `readTimeout`, or a client that stops
//     reading its answer for `writeTimeout`, ends the connection.
// After a refusal the answer is sent, the server stops sending, and what
// the client still sends is discarded for a moment before the close, so
// that the client reads the answer instead of a reset.
//
// Threads: every connection is served by one worker of a fixed pool, from its first byte to its close; a connection waiting for its
// next request holds its worker for at most `headTimeout`. A pool larger
// than the number of stalled clients (and of open event streams, which
// each hold a worker) keeps the server answering.
//
// Use: register routes and handlers, bindLoopback(), then serve() on a
// thread of its own; stopServing() from any thread, also before serve()
// runs, ends serve() and wakes every connection waiting for its client.
// setPreRouting() replaces httplib's set_pre_routing_handler(); neither
// that nor set_logger() may be called: the server uses both slots.

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace cadrio::devserver {

struct ConnectionLimits {
    std::chrono::milliseconds headTimeout{5000};
    std::chrono::milliseconds readTimeout{10000};
    std::chrono::milliseconds writeTimeout{30000};
    /// How long the client's remaining bytes are discarded after a refusal.
    std::chrono::milliseconds lingerTimeout{2000};
    std::size_t maxHeadBytes = 64 * 1024;
    std::size_t maxHeaderLines = 100;
    std::size_t maxRequestsPerConnection = 1000;
};

class HttpServer : public httplib::Server {
public:
    /// `threads` workers (each connection holds one); request bodies of at
    /// most `maxBodyBytes`.
    HttpServer(ConnectionLimits limits, std::size_t threads, std::uint64_t maxBodyBytes);
    ~HttpServer() override;
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    /// Runs before routing, for requests within the limits.
    void setPreRouting(HandlerWithResponse handler);

    /// Listens on 127.0.0.1:`port` (0: a free port). Returns the port, or
    /// -1 when it cannot be bound (also when another server listens on it).
    /// From then on connections are accepted by the system and wait for
    /// serve().
    int bindLoopback(int port);
    /// Accepts and serves connections until stopServing(); returns at once
    /// when it was called already.
    void serve();
    void stopServing();

private:
    bool process_and_close_socket(socket_t sock) override;

    const ConnectionLimits limits_;
    const std::uint64_t maxBodyBytes_;
    HandlerWithResponse preRouting_;  // set before serving
    int wakeFd_ = -1;                 // readable once stopping
    std::atomic<bool> stopping_{false};
};

}  // namespace cadrio::devserver
