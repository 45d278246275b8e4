#include "devserver/http_server.hpp"

#include "devserver/auth_http.hpp"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <arpa/inet.h>
#include <poll.h>
#include <strings.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>

namespace cadrio::devserver {
namespace {

using SteadyClock = std::chrono::steady_clock;
using HandlerResponse = httplib::Server::HandlerResponse;

/// Bytes taken from the socket at a time.
constexpr std::size_t kReceiveChunk = 64 * 1024;
/// Chunk sizes and line ends a chunked body may carry beyond its content.
constexpr std::uint64_t kChunkFraming = 1024 * 1024;

/// Set by the logger, which httplib calls on the serving thread once an
/// answer is written: the answer said "Connection: close" (a refusal that
/// left the body unread, a fault), which httplib itself does not act on.
thread_local bool answerClosesConnection = false;

/// What a request may still send after its head.
struct BodyPlan {
    int refusal = 0;             // status answered before any of the body is read; 0: none
    std::uint64_t allowance = 0;  // bytes httplib may read
    bool chunked = false;         // reading past the allowance is an error, not the end
};

BodyPlan planBody(const httplib::Request& req, std::uint64_t maxBody) {
    const bool hasLength = req.has_header("Content-Length");
    if (req.has_header("Transfer-Encoding")) {
        // Anything but plain "chunked", or a length next to it, could be
        // framed differently by a proxy in front: refused.
        if (hasLength || ::strcasecmp(req.get_header_value("Transfer-Encoding").c_str(), "chunked") != 0) {
            return {400};
        }
        return {0, maxBody + kChunkFraming, true};
    }
    if (!hasLength) return {};  // no body: httplib would otherwise read until the client closes
    const auto text = req.get_header_value("Content-Length");
    for (std::size_t i = 1; i < req.get_header_value_count("Content-Length"); ++i) {
        if (req.get_header_value("Content-Length", i) != text) return {400};
    }
    std::uint64_t length = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), length);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return {error == std::errc::result_out_of_range ? 413 : 400};
    }
    if (length > maxBody) return {413};
    return {0, length, false};
}

void sendRefusal(httplib::Response& res, int status) {
    if (status == 413) {
        sendError(res, 413, "payload_too_large", "Corps de requête trop volumineux.");
    } else {
        sendError(res, status, "bad_request", "Longueur de corps de requête invalide.");
    }
    res.set_header("Connection", "close");
}

std::string headTooLargeAnswer() {
    const std::string body =
        nlohmann::json{{"error", "headers_too_large"}, {"message", "En-têtes de requête trop volumineux."}}.dump();
    return "HTTP/1.1 431 Request Header Fields Too Large\r\nContent-Type: application/json\r\n"
           "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

void describeEnd(int fd, bool peer, std::string& ip, int& port) {
    sockaddr_storage address{};
    socklen_t length = sizeof(address);
    const int result = peer ? ::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length)
                            : ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    char text[INET6_ADDRSTRLEN] = {};
    if (result == 0 && address.ss_family == AF_INET) {
        const auto& in = reinterpret_cast<const sockaddr_in&>(address);
        ::inet_ntop(AF_INET, &in.sin_addr, text, sizeof(text));
        port = ntohs(in.sin_port);
    } else if (result == 0 && address.ss_family == AF_INET6) {
        const auto& in6 = reinterpret_cast<const sockaddr_in6&>(address);
        ::inet_ntop(AF_INET6, &in6.sin6_addr, text, sizeof(text));
        port = ntohs(in6.sin6_port);
    }
    ip = text;
}

/// One client connection as httplib reads and writes it. Bytes come from
/// the socket into a buffer; httplib is handed the current request's head,
/// then as much of its body as the plan allows. Every wait ends at its
/// deadline or when the server stops.
class Connection final : public httplib::Stream {
public:
    enum class Head { complete, tooLarge, ended };

    Connection(int fd, const ConnectionLimits& limits, int wakeFd) : fd_(fd), limits_(limits), wakeFd_(wakeFd) {
        const int on = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    }

    /// Waits for the next request head; bytes of a pipelined request
    /// already received count.
    Head readHead(SteadyClock::time_point deadline) {
        buffer_.erase(0, begin_);
        begin_ = 0;
        allowance_ = 0;
        chunked_ = false;
        overrun_ = false;
        std::size_t scanned = 0;
        std::size_t lines = 0;
        for (;;) {
            for (; scanned < buffer_.size(); ++scanned) {
                if (buffer_[scanned] != '\n') continue;
                ++lines;
                if (scanned >= 3 && buffer_.compare(scanned - 3, 4, "\r\n\r\n") == 0) {
                    if (scanned + 1 > limits_.maxHeadBytes || lines > limits_.maxHeaderLines + 2) return Head::tooLarge;
                    allowance_ = scanned + 1;
                    return Head::complete;
                }
            }
            // Request line, header lines and the blank line.
            if (buffer_.size() >= limits_.maxHeadBytes || lines > limits_.maxHeaderLines + 2) return Head::tooLarge;
            if (receive(deadline) <= 0) return Head::ended;
        }
    }

    void allowBody(const BodyPlan& plan) {
        allowance_ = plan.refusal != 0 ? 0 : plan.allowance;
        chunked_ = plan.chunked;
    }
    /// The request's body was not read to its end, or went over its
    /// limit: the next request cannot be found in the stream.
    bool bodyUnfinished() const { return overrun_ || (allowance_ > 0 && !chunked_); }
    bool broken() const { return broken_; }

    bool sendAll(std::string_view bytes) {
        while (!bytes.empty()) {
            const auto n = write(bytes.data(), bytes.size());
            if (n <= 0) return false;
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
        return true;
    }

    /// Ends the sending side after the answer, then discards what the
    /// client still sends until it closes or `timeout` passes.
    void linger(std::chrono::milliseconds timeout) {
        ::shutdown(fd_, SHUT_WR);
        const auto deadline = SteadyClock::now() + timeout;
        begin_ = buffer_.size();
        while (receive(deadline) > 0) {
            buffer_.clear();
            begin_ = 0;
        }
    }

    bool is_readable() const override {
        return begin_ < buffer_.size() || wait(POLLIN, SteadyClock::now() + limits_.readTimeout);
    }
    bool is_writable() const override { return wait(POLLOUT, SteadyClock::now() + limits_.writeTimeout); }

    ssize_t read(char* ptr, size_t size) override {
        if (size == 0) return 0;
        if (allowance_ == 0) {
            if (!chunked_) return 0;
            overrun_ = true;  // a chunked body over the limit
            return -1;
        }
        if (begin_ == buffer_.size()) {
            buffer_.clear();
            begin_ = 0;
            const auto received = receive(SteadyClock::now() + limits_.readTimeout);
            if (received <= 0) {
                broken_ = true;
                return received;
            }
        }
        const auto n = std::min<std::uint64_t>({size, buffer_.size() - begin_, allowance_});
        std::memcpy(ptr, buffer_.data() + begin_, n);
        begin_ += n;
        allowance_ -= n;
        return static_cast<ssize_t>(n);
    }

    ssize_t write(const char* ptr, size_t size) override {
        for (;;) {
            const auto n = ::send(fd_, ptr, size, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n >= 0) return n;
            if (errno == EINTR) continue;
            if ((errno == EAGAIN || errno == EWOULDBLOCK) &&
                wait(POLLOUT, SteadyClock::now() + limits_.writeTimeout)) {
                continue;
            }
            broken_ = true;
            return -1;
        }
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override { describeEnd(fd_, true, ip, port); }
    void get_local_ip_and_port(std::string& ip, int& port) const override { describeEnd(fd_, false, ip, port); }
    socket_t socket() const override { return fd_; }

private:
    /// True when the socket is ready for `events` (or in error, which the
    /// next call reports) before `deadline` and the server is not stopping.
    bool wait(short events, SteadyClock::time_point deadline) const {
        for (;;) {
            pollfd fds[2] = {{fd_, events, 0}, {wakeFd_, POLLIN, 0}};
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
            if (left <= 0) return false;
            const int n = ::poll(fds, 2, static_cast<int>(std::min<std::int64_t>(left, INT_MAX)));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 || fds[1].revents != 0) return false;
            if (n > 0) return true;
        }
    }

    /// Appends what the socket has to the buffer: the number of bytes, 0
    /// at the end of the connection, -1 at the deadline, a stop or an error.
    ssize_t receive(SteadyClock::time_point deadline) {
        const auto old = buffer_.size();
        buffer_.resize(old + kReceiveChunk);
        ssize_t n = -1;
        for (;;) {
            n = ::recv(fd_, buffer_.data() + old, kReceiveChunk, MSG_DONTWAIT);
            if (n >= 0) break;
            if (errno == EINTR) continue;
            if ((errno == EAGAIN || errno == EWOULDBLOCK) && wait(POLLIN, deadline)) continue;
            break;
        }
        buffer_.resize(old + static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
        return n;
    }

    const int fd_;
    const ConnectionLimits& limits_;
    const int wakeFd_;
    std::string buffer_;          // received; bytes before begin_ are handed out
    std::size_t begin_ = 0;
    std::uint64_t allowance_ = 0;  // bytes of this request httplib may still read
    bool chunked_ = false;
    bool overrun_ = false;
    bool broken_ = false;
};

}  // namespace

HttpServer::HttpServer(ConnectionLimits limits, std::size_t threads, std::uint64_t maxBodyBytes)
    : limits_(limits), maxBodyBytes_(maxBodyBytes), wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (wakeFd_ < 0) throw std::runtime_error("cannot create an eventfd");
    new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    set_payload_max_length(static_cast<std::size_t>(maxBodyBytes));
    set_keep_alive_max_count(limits.maxRequestsPerConnection);
    set_keep_alive_timeout(std::chrono::ceil<std::chrono::seconds>(limits.headTimeout).count());
    set_read_timeout(limits.readTimeout);
    set_write_timeout(limits.writeTimeout);
    // httplib's default also sets SO_REUSEPORT, which lets a second server
    // listen on the same port and take half of the connections.
    set_socket_options([](socket_t fd) {
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    });
    set_expect_100_continue_handler([this](const httplib::Request& req, httplib::Response& res) {
        const auto plan = planBody(req, maxBodyBytes_);
        if (plan.refusal == 0) return 100;
        sendRefusal(res, plan.refusal);
        return plan.refusal;
    });
    Server::set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        const auto plan = planBody(req, maxBodyBytes_);
        if (plan.refusal != 0) {
            sendRefusal(res, plan.refusal);
            return HandlerResponse::Handled;
        }
        return preRouting_ ? preRouting_(req, res) : HandlerResponse::Unhandled;
    });
    set_logger([](const httplib::Request&, const httplib::Response& res) {
        if (res.get_header_value("Connection") == "close") answerClosesConnection = true;
    });
}

HttpServer::~HttpServer() {
    stopServing();
    ::close(wakeFd_);
}

void HttpServer::setPreRouting(HandlerWithResponse handler) { preRouting_ = std::move(handler); }

int HttpServer::bindLoopback(int port) {
    const int bound = port == 0 ? bind_to_any_port("127.0.0.1") : (bind_to_port("127.0.0.1", port) ? port : -1);
    if (bound <= 0) return -1;
    // httplib listens with a queue of 5: a burst of new connections beyond
    // it would wait for the handshake to be retried, a second or more.
    ::listen(svr_sock_, SOMAXCONN);
    return bound;
}

void HttpServer::serve() {
    if (!stopping_) listen_after_bind();
}

void HttpServer::stopServing() {
    stopping_ = true;
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(wakeFd_, &one, sizeof(one));
    // Unlike httplib's stop(), also effective before the accept loop runs.
    const socket_t listening = svr_sock_.exchange(INVALID_SOCKET);
    if (listening != INVALID_SOCKET) {
        ::shutdown(listening, SHUT_RDWR);
        ::close(listening);
    }
}

bool HttpServer::process_and_close_socket(socket_t sock) {
    {
        Connection connection(sock, limits_, wakeFd_);
        for (std::size_t served = 0; served < limits_.maxRequestsPerConnection && !stopping_; ++served) {
            const auto head = connection.readHead(SteadyClock::now() + limits_.headTimeout);
            if (head == Connection::Head::tooLarge) {
                if (connection.sendAll(headTooLargeAnswer())) connection.linger(limits_.lingerTimeout);
                break;
            }
            if (head != Connection::Head::complete) break;
            bool refused = false;
            bool clientCloses = false;
            answerClosesConnection = false;
            const bool last = served + 1 == limits_.maxRequestsPerConnection;
            const bool answered = process_request(connection, last, clientCloses, [&](httplib::Request& req) {
                const auto plan = planBody(req, maxBodyBytes_);
                refused = plan.refusal != 0;
                connection.allowBody(plan);
            });
            if (refused || connection.bodyUnfinished()) {
                if (answered && !connection.broken()) connection.linger(limits_.lingerTimeout);
                break;
            }
            if (!answered || clientCloses || answerClosesConnection || connection.broken()) break;
        }
    }
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    return true;
}

}  // namespace cadrio::devserver
