#include "core/session/drive_session.hpp"

#include <gtest/gtest.h>

namespace cadrio {
namespace {

constexpr const char* kPassword = "s3cr3t-pa55";
constexpr const char* kToken = "tok-123456";

TEST(DriveSessionTest, RoundTripsEveryText) {
    for (const DriveSession& session : {
             DriveSession{"alice@example.com", kToken, kPassword},
             DriveSession{"élise@exemple.fr", "a\"b\\c\nd", "パスワード \t"},
             DriveSession{"", "", ""},
         }) {
        EXPECT_EQ(DriveSession::decoded(session.encoded()), session);
    }
    // The key spellings other processes read; an unknown key is ignored.
    EXPECT_EQ(DriveSession::decoded(R"({"account":"a","accessToken":"t","password":"p","v":2})"),
              (DriveSession{"a", "t", "p"}));
}

// Stored items that must not load; the reason never quotes the stored
// bytes, whatever spoils them.
TEST(DriveSessionTest, RefusesIncompleteOrDamagedItemsWithoutQuotingThem) {
    const std::string cases[] = {
        R"({"account":"a","accessToken":"tok-123456"})",
        R"({"accessToken":"tok-123456","password":"s3cr3t-pa55"})",
        R"({"account":"a","accessToken":"tok-123456","password":12})",
        R"({"account":"a","accessToken":"tok-123456","password":"s3cr3t-pa55)",
        "s3cr3t-pa55",
        std::string("{\"password\":\"s3cr3t\xff-pa55\"}"),
        R"(["s3cr3t-pa55"])",
        R"({"account":"a","accessToken":"tok-123456","password":"s3cr3t-pa55","x":)" + std::string(100000, '[') +
            std::string(100000, ']') + "}",
        R"({"account":"a","accessToken":"tok-123456","password":"s3cr3t-pa55"})" +
            std::string(DriveSession::kMaxStoredBytes, ' '),
    };
    for (const std::string& stored : cases) {
        try {
            DriveSession::decoded(stored);
            ADD_FAILURE() << "decoded: " << stored.substr(0, 100);
        } catch (const SessionDecodingError& error) {
            const std::string text = error.what();
            EXPECT_EQ(text.find("s3cr3t"), std::string::npos) << text;
            EXPECT_EQ(text.find("tok-"), std::string::npos) << text;
        }
    }
}

TEST(DriveSessionTest, RefusesToWriteTextThatIsNotUtf8WithoutQuotingIt) {
    const DriveSession session{"a", kToken, std::string("s3cr3t\xff", 7)};
    try {
        session.encoded();
        FAIL() << "encoded a password that is not UTF-8";
    } catch (const SessionEncodingError& error) {
        EXPECT_EQ(std::string(error.what()).find("s3cr3t"), std::string::npos);
    }
}

}  // namespace
}  // namespace cadrio
