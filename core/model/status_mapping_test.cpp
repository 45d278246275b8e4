#include "core/model/status_mapping.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace cadrio {
namespace {

TEST(StatusMappingTest, ConflictHeaderIsReadTrimmedAndFolded) {
    const std::string body = "détail";
    const std::pair<std::optional<std::string>, DriveError> cases[] = {
        {" Archived", DriveError::archived()},
        {" \tREINFORCED\t ", DriveError::reinforced()},
        {"key_in_use", DriveError::http(409, body)},  // left to the caller, with its body
        {"archived\n", DriveError::versionConflict()},
        {std::nullopt, DriveError::versionConflict()},
    };
    for (const auto& [header, expected] : cases) {
        EXPECT_EQ(statusError(409, body, header), expected) << header.value_or("<none>");
    }
    EXPECT_EQ(statusError(404, body, "archived"), DriveError::notFound());
    EXPECT_EQ(statusError(307, body), DriveError::http(307, body));  // redirections are not followed
}

TEST(StatusMappingTest, SignInMappingsFallBackOnTheGenericOne) {
    // The marker is found among bytes that are not UTF-8, and only on a 403.
    EXPECT_EQ(authStatusError(403, "\xFF\xFEtwo_factor_client_unsupported\xC3"),
              DriveError::twoFactorClientUnsupported());
    EXPECT_EQ(authStatusError(401, R"({"error":"two_factor_client_unsupported"})"),
              DriveError::notAuthenticated());
    EXPECT_EQ(twoFactorStatusError(409, "", "archived"), DriveError::archived());
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
