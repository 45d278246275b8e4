// Sign-in against the local drive server, over real HTTP with libcurl.

#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>

#include "core/http/api_client.hpp"
#include "core/http/curl_transport.hpp"
#include "core/http/testing/drive_error_of.hpp"
#include "devserver/dev_server.hpp"
#include "devserver/totp.hpp"

namespace cadrio {
namespace {

using namespace std::chrono_literals;
using testing::driveErrorOf;

/// The authenticator code of the demo account at `at`; the server's own
/// TOTP is checked against the published vectors in its tests.
std::string totpCode(std::chrono::system_clock::time_point at) {
    return devserver::totp::codeAt(*devserver::totp::decodeBase32("JBSWY3DPEHPK3PXP"),
                                   std::chrono::duration_cast<std::chrono::seconds>(at.time_since_epoch()).count());
}

class SignInAgainstServer : public ::testing::Test {
protected:
    void SetUp() override {
        clock_.setAutoAdvance(true);  // back-offs pass at once
        server_.seed("demo");
        server_.start(0);
        client_ = makeClient();
    }
    void TearDown() override { server_.stop(); }

    std::unique_ptr<ApiClient> makeClient() {
        return std::make_unique<ApiClient>(
            DriveConfiguration(server_.baseURL() + "/api/v1", 3, 10ms, 10),
            std::make_shared<CurlTransport>(), store_, devices_, clock_);
    }

    void admin(const std::string& path, const std::string& body = "{}") {
        httplib::Client http("127.0.0.1", server_.port());
        const auto result = http.Post(path, body, "application/json");
        ASSERT_TRUE(result);
        ASSERT_EQ(result->status, 200) << path << " " << result->body;
    }

    TwoFactorChallenge challengeFor(const std::string& email) {
        const LoginOutcome outcome = client_->login(email, "cadrio-demo");
        EXPECT_FALSE(outcome.isSignedIn());
        return outcome.challenge() ? *outcome.challenge() : TwoFactorChallenge{};
    }

    /// Server and client read one calendar time, which no test leaves to today.
    static devserver::DevServerOptions serverOptions(const Clock& clock) {
        devserver::DevServerOptions options;
        options.clock = [&clock] { return clock.wallNow(); };
        return options;
    }

    VirtualClock clock_;
    devserver::DevServer server_{serverOptions(clock_)};
    std::shared_ptr<InMemorySessionStore> store_ = std::make_shared<InMemorySessionStore>();
    std::shared_ptr<InMemoryTrustedDeviceStore> devices_ = std::make_shared<InMemoryTrustedDeviceStore>();
    std::unique_ptr<ApiClient> client_;
};

TEST_F(SignInAgainstServer, PasswordSignInOpensTheDrive) {
    const LoginOutcome outcome = client_->login("demo@cadrio.test", "cadrio-demo");
    ASSERT_TRUE(outcome.isSignedIn());
    EXPECT_EQ(outcome.session()->account, "demo@cadrio.test");
    EXPECT_EQ(store_->load(), *outcome.session());
    EXPECT_EQ(client_->request("/drive/quota", "GET", std::nullopt, Idempotency::idempotent).status, 200);
}

TEST_F(SignInAgainstServer, AuthenticatorCodeCompletesTheSignIn) {
    const TwoFactorChallenge challenge = challengeFor("2fa@cadrio.test");
    EXPECT_EQ(challenge.methods, (std::vector<std::string>{"totp", "recovery"}));
    EXPECT_GT(challenge.expiresAt, clock_.wallNow());

    EXPECT_EQ(driveErrorOf([&] {
                  client_->verifyTwoFactor(challenge, TwoFactorMethod::totp, "000000x", false, "Poste");
              }),
              DriveError::twoFactorInvalidCode());
    const std::string code = totpCode(clock_.wallNow());
    const DriveSession session =
        client_->verifyTwoFactor(challenge, TwoFactorMethod::totp, " " + code + "\n", false, "Poste");
    EXPECT_EQ(session.account, "2fa@cadrio.test");
    EXPECT_EQ(client_->request("/drive/quota", "GET", std::nullopt, Idempotency::idempotent).status, 200);
}

TEST_F(SignInAgainstServer, RecoveryCodesWorkOnce) {
    client_->verifyTwoFactor(challengeFor("2fa@cadrio.test"), TwoFactorMethod::recovery, "RECOV-0003",
                             false, "Poste");
    const TwoFactorChallenge again = challengeFor("2fa@cadrio.test");
    EXPECT_EQ(driveErrorOf([&] {
                  client_->verifyTwoFactor(again, TwoFactorMethod::recovery, "RECOV-0003", false, "Poste");
              }),
              DriveError::twoFactorInvalidCode());
}

TEST_F(SignInAgainstServer, TrustedDeviceSkipsTheSecondFactorNextTime) {
    const std::string code = totpCode(clock_.wallNow());
    client_->verifyTwoFactor(challengeFor("2fa@cadrio.test"), TwoFactorMethod::totp, code, true, "Poste");
    ASSERT_TRUE(devices_->token("2fa@cadrio.test"));

    auto fresh = makeClient();
    const LoginOutcome outcome = fresh->login("2FA@CADRIO.TEST", "cadrio-demo");
    EXPECT_TRUE(outcome.isSignedIn());
}

TEST_F(SignInAgainstServer, ExpiredChallengeAsksToSignInAgain) {
    const TwoFactorChallenge challenge = challengeFor("2fa@cadrio.test");
    admin("/_admin/auth/expire-pending-tokens");
    const std::string code = totpCode(clock_.wallNow());
    EXPECT_EQ(driveErrorOf([&] { client_->verifyTwoFactor(challenge, TwoFactorMethod::totp, code, false, "P"); }),
              DriveError::twoFactorExpired());
}

TEST_F(SignInAgainstServer, ExpiredTokenIsRenewedSilently) {
    ASSERT_TRUE(client_->login("demo@cadrio.test", "cadrio-demo").isSignedIn());
    const auto before = client_->currentAccessToken();
    admin("/_admin/auth/expire-access-tokens", R"({"email":"demo@cadrio.test"})");
    EXPECT_EQ(client_->request("/drive/quota", "GET", std::nullopt, Idempotency::idempotent).status, 200);
    EXPECT_NE(client_->currentAccessToken(), before);
    EXPECT_EQ(store_->load()->accessToken, client_->currentAccessToken());
}

TEST_F(SignInAgainstServer, ChangedPasswordSignsOut) {
    ASSERT_TRUE(client_->login("demo@cadrio.test", "cadrio-demo").isSignedIn());
    admin("/_admin/auth/password", R"({"email":"demo@cadrio.test","password":"changed"})");
    admin("/_admin/auth/expire-access-tokens");
    EXPECT_EQ(driveErrorOf([&] { client_->request("/drive/quota", "GET", std::nullopt, Idempotency::idempotent); }),
              DriveError::notAuthenticated());
    EXPECT_FALSE(client_->isAuthenticated());
    EXPECT_FALSE(store_->load());
}

}  // namespace
}  // namespace cadrio
