#include "devserver/dev_server_testing.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace cadrio::devserver {
namespace {

/// A raw connection to the server that sends what it is told and reads
/// nothing: a stalled or broken client.
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
    }
    ~RawClient() { ::close(fd_); }
    void send(const std::string& bytes) { ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size())); }

private:
    int fd_;
};

class Robustness : public testing::DevServerTest {};

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

}  // namespace
}  // namespace cadrio::devserver
