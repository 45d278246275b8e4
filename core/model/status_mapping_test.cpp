#include "core/model/status_mapping.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace cadrio {
namespace {

struct MappingCase {
    int status;
    std::optional<std::string> conflictHeader;
    DriveError expected;
};

TEST(StatusMappingTest, GenericMappingTable) {
    const std::string body = "détail";
    const std::vector<MappingCase> cases = {
        {401, std::nullopt, DriveError::notAuthenticated()},
        {403, std::nullopt, DriveError::notAuthenticated()},
        {404, std::nullopt, DriveError::notFound()},
        {409, "archived", DriveError::archived()},
        {409, " Archived", DriveError::archived()},
        {409, " \tREINFORCED\t ", DriveError::reinforced()},
        {409, "key_in_use", DriveError::http(409, body)},
        {409, std::nullopt, DriveError::versionConflict()},
        {409, "", DriveError::versionConflict()},
        {409, "archived\n", DriveError::versionConflict()},
        {409, "something-else", DriveError::versionConflict()},
        {413, std::nullopt, DriveError::payloadTooLarge()},
        {423, std::nullopt, DriveError::locked()},
        {507, std::nullopt, DriveError::insufficientQuota()},
        {429, std::nullopt, DriveError::http(429, body)},
        {410, std::nullopt, DriveError::http(410, body)},
        {500, std::nullopt, DriveError::http(500, body)},
        {302, std::nullopt, DriveError::http(302, body)},
        {101, std::nullopt, DriveError::http(101, body)},
        {404, "archived", DriveError::notFound()},
    };
    for (const MappingCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.status) + " " + c.conflictHeader.value_or("<none>"));
        EXPECT_EQ(statusError(c.status, body, c.conflictHeader), c.expected);
    }
    EXPECT_FALSE(statusError(409, body, "key_in_use").isRetryable());
    EXPECT_FALSE(statusError(429, body).isRetryable());
    EXPECT_TRUE(statusError(502, body).isRetryable());
}

TEST(StatusMappingTest, SignInAndSecondFactorMappings) {
    const std::string unsupported = R"({"error":"two_factor_client_unsupported"})";
    EXPECT_EQ(authStatusError(429, ""), DriveError::tooManyAttempts());
    EXPECT_EQ(authStatusError(403, unsupported), DriveError::twoFactorClientUnsupported());
    EXPECT_EQ(authStatusError(403, "\xFF\xFEtwo_factor_client_unsupported\xC3"),
              DriveError::twoFactorClientUnsupported());
    EXPECT_EQ(authStatusError(403, "forbidden"), DriveError::notAuthenticated());
    EXPECT_EQ(authStatusError(401, unsupported), DriveError::notAuthenticated());
    EXPECT_EQ(authStatusError(500, "x"), DriveError::http(500, "x"));

    EXPECT_EQ(twoFactorStatusError(429, ""), DriveError::tooManyAttempts());
    EXPECT_EQ(twoFactorStatusError(410, ""), DriveError::twoFactorExpired());
    EXPECT_EQ(twoFactorStatusError(401, ""), DriveError::twoFactorInvalidCode());
    EXPECT_EQ(twoFactorStatusError(403, ""), DriveError::notAuthenticated());
    EXPECT_EQ(twoFactorStatusError(400, "bad"), DriveError::http(400, "bad"));
}

TEST(StatusMappingTest, ChangeFeedTurnsGoneIntoCursorExpired) {
    EXPECT_EQ(changeFeedError(DriveError::http(410, "gone")), DriveError::cursorExpired());
    EXPECT_EQ(changeFeedError(DriveError::http(404, "")), DriveError::http(404, ""));
    EXPECT_EQ(changeFeedError(DriveError::transport("x")), DriveError::transport("x"));
}

TEST(StatusMappingTest, ExcerptKeepsValidUtf8PrefixesOnly) {
    const std::string ascii(600, 'a');
    EXPECT_EQ(bodyExcerpt(ascii), std::string(500, 'a'));
    EXPECT_EQ(bodyExcerpt(ascii, kStorageBodyExcerptLimit), std::string(300, 'a'));
    EXPECT_EQ(bodyExcerpt("court"), "court");

    // The 500th byte is the first half of "é".
    const std::string cut = std::string(499, 'a') + "é" + "zz";
    EXPECT_EQ(bodyExcerpt(cut), "");
    const std::string whole = std::string(498, 'a') + "é" + "zz";
    EXPECT_EQ(bodyExcerpt(whole), std::string(498, 'a') + "é");
    EXPECT_EQ(statusError(500, cut), DriveError::http(500, ""));
    EXPECT_EQ(bodyExcerpt(std::string("\x89PNG\r\n\x1a\n", 8)), "");
}

}  // namespace
}  // namespace cadrio
