#include "devserver/totp.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace cadrio::devserver::totp {
namespace {

std::vector<std::uint8_t> bytes(std::string_view s) { return {s.begin(), s.end()}; }

// The published SHA-1 vectors, eight digits.
TEST(Totp, MatchesThePublishedSha1Vectors) {
    const auto key = bytes("12345678901234567890");
    const struct {
        std::int64_t time;
        const char* code;
    } vectors[] = {
        {59, "94287082"},         {1111111109, "07081804"}, {1111111111, "14050471"},
        {1234567890, "89005924"}, {2000000000, "69279037"}, {20000000000, "65353130"},
    };
    for (const auto& v : vectors) {
        EXPECT_EQ(codeAt(key, v.time, 8), v.code) << "at " << v.time;
        // Six digits are the last six of the same truncated value.
        EXPECT_EQ(codeAt(key, v.time), std::string(v.code).substr(2)) << "at " << v.time;
    }
}

TEST(Totp, DecodesBase32) {
    const struct {
        const char* text;
        std::optional<std::string> decoded;
    } cases[] = {
        {"JBSWY3DPEHPK3PXP", std::string("Hello!\xDE\xAD\xBE\xEF")},
        {"JBSW Y3DP-EHPK 3PXP", std::string("Hello!\xDE\xAD\xBE\xEF")},
        {"MZXW6===", std::string("foo")},
        {"", std::string()},
        {"MZXW1", std::nullopt},   // '1' is not in the alphabet
        {"M", std::nullopt},       // five bits cannot form a byte
        {"MZ", std::nullopt},      // leftover bits must be zero
        {"MZ=XW", std::nullopt},   // padding only at the end
    };
    for (const auto& c : cases) {
        const auto decoded = decodeBase32(c.text);
        if (!c.decoded) {
            EXPECT_FALSE(decoded.has_value()) << c.text;
            continue;
        }
        ASSERT_TRUE(decoded.has_value()) << c.text;
        EXPECT_EQ(std::string(decoded->begin(), decoded->end()), *c.decoded) << c.text;
    }
}

TEST(Totp, AcceptsOneStepOfDriftEitherSideAndOnlyWellFormedCodes) {
    const auto key = *decodeBase32("JBSWY3DPEHPK3PXP");
    const std::int64_t now = 1'700'000'010;  // 10 s into its step
    const std::string good = codeAt(key, now);
    const struct {
        const char* name;
        std::string code;
        bool accepted;
    } cases[] = {
        {"now", good, true},
        {"later in the same step", codeAt(key, now + 19), true},
        {"one step before", codeAt(key, now - 30), true},
        {"one step after", codeAt(key, now + 30), true},
        {"two steps before", codeAt(key, now - 60), false},
        {"two steps after", codeAt(key, now + 60), false},
        {"empty", "", false},
        {"a digit short", good.substr(1), false},
        {"a digit more", good + "0", false},
        {"padded with a space", " " + good.substr(1), false},
        {"eight digits", codeAt(key, now, 8), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(verify(key, c.code, now), c.accepted) << c.name << " '" << c.code << "'";
    }
}

}  // namespace
}  // namespace cadrio::devserver::totp
