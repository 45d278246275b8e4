#include <gtest/gtest.h>

#include "core/http/api_client.hpp"
#include "core/http/testing/drive_error_of.hpp"
#include "core/http/testing/scripted_transport.hpp"

#include <system_error>

namespace cadrio {
namespace {

using namespace std::chrono_literals;
using testing::driveErrorOf;
using testing::ScriptedTransport;

struct Fixture {
    std::shared_ptr<ScriptedTransport> transport = std::make_shared<ScriptedTransport>();
    std::shared_ptr<InMemorySessionStore> store = std::make_shared<InMemorySessionStore>();
    std::shared_ptr<InMemoryTrustedDeviceStore> devices = std::make_shared<InMemoryTrustedDeviceStore>();
    VirtualClock clock;
    ApiClient client{DriveConfiguration("https://drive.test/api/v1", 3, 400ms, 60), transport, store,
                     devices, clock};

    nlohmann::json sentBody(std::size_t index = 0) const {
        return nlohmann::json::parse(transport->requests().at(index).body);
    }
};

const TwoFactorChallenge kChallenge{"Typed@Cadrio.test", {"totp", "recovery"}, {}, "pending", "pw"};

TEST(SignIn, ChallengeLifetimeIsBounded) {
    const std::pair<const char*, std::chrono::seconds> cases[] = {
        {"120", 120s},
        {"10000000000", 24h},  // would overflow the expiry instant
        {"-5", 0s},
    };
    for (const auto& [expiresIn, lifetime] : cases) {
        Fixture f;
        f.clock.setWallTime(VirtualClock::kDefaultWallStart + 1000h);
        f.transport->enqueue(200, std::string(R"({"two_factor_required":true,"pending_token":"p","expires_in":)") +
                                      expiresIn + "}");
        const LoginOutcome outcome = f.client.login("me@cadrio.test", "pw");
        ASSERT_TRUE(outcome.challenge()) << expiresIn;
        EXPECT_EQ(outcome.challenge()->expiresAt, VirtualClock::kDefaultWallStart + 1000h + lifetime)
            << expiresIn;
    }
}

TEST(SignIn, OnlyDriveAndKeychainErrorsLeaveTheSignIn) {
    struct Case {
        const char* name;
        std::string password;
        std::function<void(ScriptedTransport&)> answer;
        std::size_t sent;
    };
    const Case cases[] = {
        {"a password that is not UTF-8", "p\xFFw", [](ScriptedTransport&) {}, 0},
        {"a transport failing its own way", "pw",
         [](ScriptedTransport& t) { t.enqueueError(std::system_error(std::make_error_code(std::errc::io_error))); },
         1},
    };
    for (const auto& c : cases) {
        Fixture f;
        c.answer(*f.transport);
        const DriveError error = driveErrorOf([&] { f.client.login("me@cadrio.test", c.password); });
        EXPECT_EQ(error.kind(), DriveError::Kind::transport) << c.name;
        EXPECT_EQ(error.errorDescription().find(c.password), std::string::npos) << c.name;
        EXPECT_EQ(f.transport->requests().size(), c.sent) << c.name;
    }
}

TEST(SignIn, TrustedDeviceTokenIsFoundWhateverTheCaseTyped) {
    Fixture f;
    f.devices->save("device-token", "me@cadrio.test");
    f.transport->enqueue(200, R"({"access_token":"t"})");
    f.client.login("ME@Cadrio.TEST", "pw");
    EXPECT_EQ(f.sentBody()["trusted_device_token"], "device-token");
    EXPECT_EQ(f.sentBody()["email"], "ME@Cadrio.TEST");
}

TEST(SignIn, VerificationSendsTheTrimmedCodeAndStoresTheResults) {
    Fixture f;
    f.transport->enqueue(200, R"({"access_token":"t","trusted_device_token":"dev"})");
    const DriveSession session =
        f.client.verifyTwoFactor(kChallenge, TwoFactorMethod::totp,
                                 "\xC2\xA0 123 456\n\xE2\x80\xA8\xE3\x80\x80", true, "Poste");
    EXPECT_EQ(session, (DriveSession{"Typed@Cadrio.test", "t", "pw"}));
    EXPECT_EQ(f.store->load(), session);
    EXPECT_EQ(f.devices->token("typed@cadrio.test"), "dev");
    EXPECT_EQ(f.sentBody(), (nlohmann::json{{"pending_token", "pending"},
                                            {"method", "totp"},
                                            {"code", "123 456"},
                                            {"remember_device", true},
                                            {"device_label", "Poste"}}));
    EXPECT_EQ(f.transport->requests()[0].url, "https://drive.test/api/v1/auth/2fa/verify");
}

TEST(SignIn, VerificationEdgeAnswers) {
    Fixture f;
    f.transport->enqueue(200, R"({"access_token":"t","email":"server@cadrio.test","trusted_device_token":""})");
    const auto session = f.client.verifyTwoFactor(kChallenge, TwoFactorMethod::recovery, "R", false, "P");
    EXPECT_EQ(session.account, "server@cadrio.test");
    EXPECT_FALSE(f.devices->token("typed@cadrio.test"));

    const std::pair<int, DriveError> refusals[] = {
        {401, DriveError::twoFactorInvalidCode()},
        {410, DriveError::twoFactorExpired()},
    };
    for (const auto& [status, expected] : refusals) {
        f.transport->enqueue(status);
        EXPECT_EQ(driveErrorOf([&] { f.client.verifyTwoFactor(kChallenge, TwoFactorMethod::totp, "1", false, "P"); }),
                  expected)
            << status;
    }
    EXPECT_EQ(f.client.currentAccessToken(), "t");
}

}  // namespace
}  // namespace cadrio
