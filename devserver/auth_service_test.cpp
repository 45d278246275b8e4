#include "devserver/auth_service.hpp"

#include <gtest/gtest.h>

#include <stdexcept>

namespace cadrio::devserver {
namespace {

TEST(AuthService, ReadsOnlyWellFormedBearerHeaders) {
    AuthService auth;
    auth.addAccount({"Demo@Cadrio.test", "pw", {}, "", {}});
    const std::string token = auth.issueAccessToken("demo@cadrio.test");
    const struct {
        std::string header;
        bool accepted;
    } cases[] = {
        {"Bearer " + token, true},
        {"bearer " + token, true},
        {"  BEARER\t" + token + "  ", true},
        {token, false},
        {"Bearer", false},
        {"Bearer ", false},
        {"Bearer" + token, false},
        {"Basic " + token, false},
        {"Bearer " + token + " extra", false},
        {"Bearer " + token.substr(1), false},
        {"Bearer " + token + "0", false},
        {"", false},
    };
    for (const auto& c : cases) {
        const auto account = auth.accountForAuthorization(c.header);
        EXPECT_EQ(account.has_value(), c.accepted) << "'" << c.header << "'";
        if (account) {
            EXPECT_EQ(*account, "demo@cadrio.test");
        }
    }
}

TEST(AuthService, RefusesUnusableAccountsKeysTheRestByLowerCaseAddressAndResetForgetsAll) {
    AuthService auth;
    const AccountSpec bad[] = {
        {"", "pw", {}, "", {}},
        {"a@b.c", "pw", {"totp"}, "", {}},
        {"a@b.c", "pw", {"totp"}, "NOT-BASE32!", {}},
    };
    for (const auto& profile : bad) {
        EXPECT_THROW(auth.addAccount(profile), std::invalid_argument) << profile.email << profile.totpSecretBase32;
    }
    EXPECT_TRUE(auth.accounts().empty());
    EXPECT_THROW(auth.issueAccessToken("a@b.c"), std::invalid_argument);

    auth.addAccount({"Demo@Cadrio.test", "one", {}, "", {}});
    auth.addAccount({"DEMO@cadrio.TEST", "two", {}, "", {}});  // replaces
    EXPECT_EQ(auth.accounts(), std::vector<std::string>{"demo@cadrio.test"});
    EXPECT_EQ(auth.account("demo@CADRIO.test")->password, "two");

    const std::string token = auth.issueAccessToken("demo@cadrio.test");
    auth.reset();
    EXPECT_TRUE(auth.accounts().empty());
    EXPECT_FALSE(auth.accountForAuthorization("Bearer " + token));
}

}  // namespace
}  // namespace cadrio::devserver
