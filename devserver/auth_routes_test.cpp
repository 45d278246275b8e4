#include "devserver/auth_service.hpp"
#include "devserver/auth_test_server.hpp"
#include "devserver/totp.hpp"

#include <gtest/gtest.h>

namespace cadrio::devserver {
namespace {

using nlohmann::json;
using testing::JsonAnswer;
using testing::TestServer;
using testing::VirtualClock;

constexpr const char* kLogin = "/api/v1/auth/login-jmap";
constexpr const char* kVerify = "/api/v1/auth/2fa/verify";

class AuthRoutes : public ::testing::Test {
protected:
    AuthRoutes() : server_([this](httplib::Server& s) {
        auth_.registerRoutes(s);
        auth_.registerAdminRoutes(s);
    }) {
        auth_.setClock(clock_.function());
        auth_.addAccount({"demo@cadrio.test", "cadrio-demo", {}, "", {}});
        auth_.addAccount({"2fa@cadrio.test", "cadrio-demo", {"totp", "recovery"}, "JBSWY3DPEHPK3PXP",
                          {"RECOV-0001", "RECOV-0002", "RECOV-0003"}});
        auth_.addAccount({"passkey@cadrio.test", "cadrio-demo", {"webauthn"}, "", {}});
    }

    JsonAnswer post(const std::string& path, const json& body) { return testing::postJson(server_, path, body); }

    JsonAnswer login(const std::string& email, const std::string& password = "cadrio-demo",
                     json extra = json::object()) {
        extra["email"] = email;
        extra["password"] = password;
        if (!extra.contains("supports_2fa")) extra["supports_2fa"] = true;
        return post(kLogin, extra);
    }

    std::string pendingToken() {
        const auto answer = login("2fa@cadrio.test");
        EXPECT_EQ(answer.status, 200);
        return answer.body.value("pending_token", "");
    }

    std::string currentCode() {
        return totp::codeAt(*totp::decodeBase32("JBSWY3DPEHPK3PXP"), clock_.seconds());
    }

    JsonAnswer verify(const std::string& pending, const std::string& method, const std::string& code) {
        return post(kVerify, {{"pending_token", pending}, {"method", method}, {"code", code},
                              {"remember_device", false}, {"device_label", "poste de test"}});
    }

    VirtualClock clock_{1'700'000'000};
    AuthService auth_;
    TestServer server_;
};

TEST_F(AuthRoutes, RefusesWrongPasswordsAndUnknownAddressesAlike) {
    for (const auto& [email, password] : {std::pair{"demo@cadrio.test", "wrong"},
                                          std::pair{"demo@cadrio.test", "CADRIO-DEMO"},
                                          std::pair{"demo@cadrio.test", ""},
                                          std::pair{"nobody@cadrio.test", "cadrio-demo"}}) {
        const auto answer = login(email, password);
        EXPECT_EQ(answer.status, 401) << email << " / " << password;
        EXPECT_EQ(answer.body["error"], "invalid_credentials");
    }
}

TEST_F(AuthRoutes, MalformedBodiesGetA4xxWithAJsonError) {
    const struct {
        std::string body;
        int status;
    } cases[] = {
        {"", 400},
        {"not json", 400},
        {"[1,2]", 400},
        {R"({"email":"demo@cadrio.test"})", 400},
        {R"({"email":"demo@cadrio.test","password":42})", 400},
        {"{\"email\":\"\xff\xfe\",\"password\":\"x\"}", 400},  // invalid UTF-8
        {R"({"email":"demo@cadrio.test","password":")" + std::string(70'000, 'x') + "\"}", 413},
    };
    for (const auto& c : cases) {
        for (const char* path : {kLogin, kVerify}) {
            const auto answer = testing::postJson(server_, path, c.body);
            EXPECT_EQ(answer.status, c.status) << path << " " << c.body.substr(0, 60);
            EXPECT_TRUE(answer.body.contains("error")) << path << " " << c.body.substr(0, 60);
        }
    }
}

TEST_F(AuthRoutes, RepeatedFailuresLockTheAccountOut) {
    for (int i = 0; i < AuthService::kMaxFailedAttempts; ++i) {
        EXPECT_EQ(login("demo@cadrio.test", "wrong").status, 401) << i;
    }
    const auto locked = login("demo@cadrio.test");  // even the right password
    EXPECT_EQ(locked.status, 429);
    EXPECT_EQ(locked.body["error"], "too_many_attempts");
    EXPECT_EQ(locked.headers.find("Retry-After")->second, "300");
    EXPECT_EQ(login("2fa@cadrio.test").status, 200) << "other accounts are not affected";

    clock_.advance(AuthService::kLockout);
    EXPECT_EQ(login("demo@cadrio.test").status, 200);
}

// Wrong codes of either method leave the challenge open: once the lock is
// lifted the same pending token still verifies.
TEST_F(AuthRoutes, WrongCodesCountTowardsTheLockAndAdminLiftsIt) {
    const std::string pending = pendingToken();
    const std::string wrongCode = currentCode() == "000000" ? "111111" : "000000";
    for (int i = 0; i < AuthService::kMaxFailedAttempts; ++i) {
        const auto refused = i % 2 == 0 ? verify(pending, "totp", wrongCode) : verify(pending, "recovery", "RECOV-9999");
        EXPECT_EQ(refused.status, 401) << i;
        EXPECT_EQ(refused.body["error"], "invalid_code") << i;
    }
    EXPECT_EQ(verify(pending, "totp", currentCode()).status, 429);
    EXPECT_EQ(login("2fa@cadrio.test").status, 429);

    EXPECT_EQ(post("/_admin/auth/reset-rate-limit", {{"email", "2fa@cadrio.test"}}).status, 200);
    EXPECT_EQ(verify(pending, "totp", currentCode()).status, 200);
}

TEST_F(AuthRoutes, SuccessResetsTheFailureCount) {
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i + 1 < AuthService::kMaxFailedAttempts; ++i) {
            EXPECT_EQ(login("demo@cadrio.test", "wrong").status, 401);
        }
        EXPECT_EQ(login("demo@cadrio.test").status, 200) << round;
    }
}

TEST_F(AuthRoutes, ClientsWithoutSecondFactorSupportAreToldSo) {
    for (const char* email : {"2fa@cadrio.test", "passkey@cadrio.test"}) {
        for (const json& supports : {json(false), json("yes"), json()}) {
            json extra = {{"supports_2fa", supports}};
            const auto answer = login(email, "cadrio-demo", extra);
            EXPECT_EQ(answer.status, 403) << email << " " << supports;
            EXPECT_EQ(answer.body["error"], "two_factor_client_unsupported");
        }
    }
    // The password is checked first: a wrong one reveals nothing of the account.
    EXPECT_EQ(login("2fa@cadrio.test", "wrong", {{"supports_2fa", false}}).status, 401);
}

}  // namespace
}  // namespace cadrio::devserver
