#include "devserver/dev_server_testing.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace cadrio::devserver {
namespace {

using namespace std::chrono_literals;
using testing::occurrences;

/// A raw connection to the server that sends what it is told: a stalled,
/// broken or hostile client.
class RawClient {
public:
    explicit RawClient(int port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd_ < 0 || ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
            throw std::runtime_error("cannot connect");
        }
        // Only turns a server that never answers into a failure.
        const timeval safety{10, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &safety, sizeof(safety));
    }
    ~RawClient() { ::close(fd_); }
    void send(const std::string& bytes) { ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size())); }
    /// What the server sent until it closed the connection; nothing when it
    /// kept it open.
    std::optional<std::string> receiveUntilClosed() {
        std::string text;
        char buffer[4096];
        for (;;) {
            const auto n = ::recv(fd_, buffer, sizeof(buffer), 0);
            if (n == 0) return text;
            if (n < 0) return std::nullopt;
            text.append(buffer, static_cast<std::size_t>(n));
        }
    }

private:
    int fd_;
};

class Robustness : public testing::DevServerTest {
protected:
    Robustness() { threads_ = DevServerOptions{}.threads; }
};

TEST_F(Robustness, StalledAndBrokenClientsHoldUpNobody) {
    const auto id = upload("gros.bin", std::string(8 << 20, 'g')).json()["id"].get<std::int64_t>();
    const auto url = get("/api/v1/drive/files/" + std::to_string(id) + "/download-url").json()["url"].get<std::string>();

    std::vector<std::unique_ptr<RawClient>> stalled;
    for (int i = 0; i < 4; ++i) {
        stalled.push_back(std::make_unique<RawClient>(server_->port()));
        // Half a request body, then silence.
        stalled.back()->send("POST /api/v1/drive/folders HTTP/1.1\r\nHost: x\r\nContent-Length: 100\r\n\r\n{\"folder");
        // A download nobody reads.
        stalled.push_back(std::make_unique<RawClient>(server_->port()));
        stalled.back()->send("GET " + url.substr(server_->baseURL().size()) + " HTTP/1.1\r\nHost: x\r\n\r\n");
        // Not HTTP at all.
        stalled.push_back(std::make_unique<RawClient>(server_->port()));
        static constexpr char notHttp[] = "\x16\x03\x01\x02\x00garbage\r\n\r\n";
        stalled.back()->send(std::string(notHttp, sizeof notHttp - 1));
    }
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(get("/api/v1/drive/quota").status, 200);
    }
    EXPECT_EQ(post("/api/v1/drive/folders", {{"folder_name", "encore"}}).status, 200);
    stalled.clear();
    EXPECT_EQ(download(id).size(), 8u << 20);
}

TEST_F(Robustness, TwoHundredIdleConnectionsLeaveWorkersForARealRequest) {
    std::vector<std::unique_ptr<RawClient>> idle;
    for (int i = 0; i < 200; ++i) idle.push_back(std::make_unique<RawClient>(server_->port()));
    EXPECT_EQ(get("/api/v1/drive/quota").status, 200);
}

TEST_F(Robustness, AClientTricklingItsHeadersIsDropped) {
    server_->stop();
    connections_.headTimeout = 200ms;
    connections_.readTimeout = 60s;  // longer than the client's patience: only the head timeout can act
    startServer({});
    RawClient slow(server_->port());
    slow.send("GET /api/v1/drive/quota HTTP/1.1\r\nHost: x\r\n");
    EXPECT_EQ(slow.receiveUntilClosed(), "");
}

TEST_F(Robustness, RequestsBeyondTheLimitsAreAnsweredWithoutWaitingForTheirBody) {
    std::string manyHeaders;
    for (int i = 0; i < 150; ++i) manyHeaders += "X-Header-" + std::to_string(i) + ": v\r\n";
    std::string chunkedBody;
    for (int i = 0; i < 20; ++i) chunkedBody += "100000\r\n" + std::string(1 << 20, 'c') + "\r\n";
    chunkedBody += "0\r\n\r\n";
    const struct {
        const char* what;
        std::string request;
        const char* status;
    } cases[] = {
        {"announced body over the limit",
         "POST /api/v1/drive/upload/file HTTP/1.1\r\nHost: x\r\nContent-Length: 1000000000\r\n\r\n", "413"},
        {"the same asking to continue",
         "PUT /storage/uploads/0123456789abcdef0123456789abcdef/1 HTTP/1.1\r\nHost: x\r\n"
         "Content-Length: 1000000000\r\nExpect: 100-continue\r\n\r\n", "413"},
        {"unreadable length", "POST /_admin/seed HTTP/1.1\r\nHost: x\r\nContent-Length: 12abc\r\n\r\n", "400"},
        {"too many header lines", "GET /api/v1/drive/quota HTTP/1.1\r\nHost: x\r\n" + manyHeaders + "\r\n", "431"},
        {"chunked body over the limit",
         "POST /_admin/seed HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n" + chunkedBody, "400"},
        {"no length at all", "POST /_admin/reset HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", "200"},
    };
    for (const auto& c : cases) {
        RawClient client(server_->port());
        client.send(c.request);
        const auto answer = client.receiveUntilClosed();
        ASSERT_TRUE(answer) << c.what << ": still open";
        EXPECT_EQ(answer->substr(0, 12), std::string("HTTP/1.1 ") + c.status) << c.what << ": " << *answer;
        EXPECT_EQ(occurrences(*answer, "HTTP/1.1 "), 1u) << c.what;
    }
}

TEST_F(Robustness, ABodyLeftUnreadIsNeverTakenForTheNextRequest) {
    ASSERT_EQ(admin("/_admin/faults", {{"method", "POST"}, {"path_prefix", "/api/v1/drive/folders"},
                                       {"kind", "status"}, {"status", 503}}).status, 200);
    // More than a read buffer of requests, hidden in the body.
    std::string hidden;
    for (int i = 0; i < 200; ++i) hidden += "GET /api/v1/drive/quota HTTP/1.1\r\nHost: x\r\n\r\n";
    RawClient client(server_->port());
    client.send("POST /api/v1/drive/folders HTTP/1.1\r\nHost: x\r\nContent-Length: " +
                std::to_string(hidden.size()) + "\r\n\r\n" + hidden);
    const auto answer = client.receiveUntilClosed();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->substr(0, 12), "HTTP/1.1 503");
    EXPECT_EQ(occurrences(*answer, "HTTP/1.1 "), 1u) << *answer;
}

TEST_F(Robustness, APortInUseIsRefusedAndAServerStopsRightAfterItsStart) {
    DevServer second;
    EXPECT_THROW(second.start(server_->port()), std::runtime_error);
    DevServerOptions small;
    small.threads = 4;
    for (int i = 0; i < 20; ++i) {
        DevServer quick(small);
        quick.start(0);
        quick.stop();
    }
}

}  // namespace
}  // namespace cadrio::devserver
