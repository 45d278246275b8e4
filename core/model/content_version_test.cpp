#include "core/model/content_version.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

namespace cadrio {
namespace {

using std::chrono::milliseconds;

DriveFile file(std::int64_t size, std::optional<std::int64_t> uploadTimestamp, std::optional<std::string> hash,
               Date modifiedAt = {}) {
    DriveFile record;
    record.id = 1;
    record.name = "Rapport.pdf";
    record.size = size;
    record.uploadTimestamp = uploadTimestamp;
    record.contentHash = std::move(hash);
    record.modifiedAt = modifiedAt;
    return record;
}

Date unix(std::int64_t milliseconds_) { return Date(milliseconds(milliseconds_)); }

TEST(ContentVersion, TokenForms) {
    struct Case {
        const char* name;
        DriveFile file;
        const char* token;
    };
    const std::vector<Case> cases = {
        {"upload form wins over the hash", file(12, 1700000000, "9f86"), "u:1700000000:12"},
        {"hash form", file(12, std::nullopt, "9f86"), "h:9f86"},
        {"metadata form cuts the fraction", file(12, std::nullopt, std::nullopt, unix(1700000000900)),
         "m:12:1700000000"},
        {"metadata form cuts towards zero before 1970", file(0, std::nullopt, std::nullopt, unix(-1500)), "m:0:-1"},
        {"negative numbers", file(-5, -7, std::nullopt), "u:-7:-5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ContentVersion::token(c.file), c.token);
    }
}

TEST(ContentVersion, PreconditionFromToken) {
    const ReplacePrecondition none{};
    struct Case {
        const char* token;
        ReplacePrecondition expected;
    };
    const std::vector<Case> cases = {
        {"u:1700000000:12", {.ifContentHash = std::nullopt, .ifDateUpload = 1700000000}},
        {"u:+42:12", {.ifContentHash = std::nullopt, .ifDateUpload = 42}},
        {"u:1700000000", {.ifContentHash = std::nullopt, .ifDateUpload = 1700000000}},
        {"h:9f86", {.ifContentHash = "9f86", .ifDateUpload = std::nullopt}},
        {"h::9f86", {.ifContentHash = "9f86", .ifDateUpload = std::nullopt}},  // empty pieces dropped
        {"m:12:1700000000", none},
        {"u:abc:1", none},
        {"u:+-1:1", none},
        {"u:9223372036854775808:1", none},  // one past the 64-bit range
        {"h:", none},
        {"", none},
        {"H:9f86", none},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.token);
        EXPECT_EQ(ContentVersion::precondition(c.token), c.expected);
    }
}

}  // namespace
}  // namespace cadrio
