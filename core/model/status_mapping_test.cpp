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

TEST(StatusMappingTest, Utf8ValidationFollowsTheWellFormedTable) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {"", true},
        {"plain", true},
        {"é", true},
        {"\xE2\x82\xAC", true},          // €
        {"\xF0\x9F\x98\x80", true},      // U+1F600
        {"\xF4\x8F\xBF\xBF", true},      // U+10FFFF
        {"\xC0\xAF", false},             // overlong "/"
        {"\xC1\xBF", false},             // overlong
        {"\xE0\x80\xAF", false},         // overlong, three bytes
        {"\xF0\x80\x80\xAF", false},     // overlong, four bytes
        {"\xED\xA0\x80", false},         // U+D800, a surrogate
        {"\xED\xBF\xBF", false},         // U+DFFF
        {"\xF4\x90\x80\x80", false},     // U+110000
        {"\xF5\x80\x80\x80", false},
        {"\xFF", false},
        {"\x80", false},                 // lone continuation
        {"\xC3", false},                 // truncated
        {"\xE2\x82", false},
        {"\xE2\x28\xA1", false},         // bad continuation
        {std::string("a\0b", 3), true},  // NUL is a valid character
    };
    for (const auto& [bytes, valid] : cases) {
        SCOPED_TRACE(testing::PrintToString(bytes));
        EXPECT_EQ(isValidUtf8(bytes), valid);
    }
}

}  // namespace
}  // namespace cadrio
