#include "core/model/domain_summary.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/support/temporary_directory.hpp"

namespace cadrio {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using std::chrono::nanoseconds;
using std::chrono::seconds;

// 2024-03-05 13:07:00 UTC, 731336820 s after 2001-01-01.
const Date kMarch5 = Date(seconds(kReferenceDateOffsetSeconds + 731336820));

DomainSummary sample() {
    DomainSummary summary;
    summary.archivedFileIDs = {4012, -3, 9007199254740993};  // the last is not exact as a double
    summary.recordConflict("Rapport.pdf", "Rapport (conflit Linux 2024-03-05 14h07).pdf", kMarch5);
    summary.recordConflict("Budget.ods", "Budget (conflit Linux 2024-03-05 14h08).ods", kMarch5 + milliseconds(60500));
    return summary;
}

TEST(DomainSummary, KeepsTheTenNewestConflictsNewestFirst) {
    DomainSummary summary;
    for (int i = 1; i <= 11; ++i) {
        summary.recordConflict("n" + std::to_string(i), "c" + std::to_string(i), kMarch5 + seconds(i));
    }
    ASSERT_EQ(summary.conflicts.size(), 10u);
    EXPECT_EQ(summary.conflicts.front().originalName, "n11");
    EXPECT_EQ(summary.conflicts.back().originalName, "n2");
}

TEST(DomainSummary, DecodesTolerantlyAndStrictly) {
    DomainSummary empty;
    DomainSummary example;
    example.archivedFileIDs = {4012};
    example.recordConflict("Rapport.pdf", "Rapport (conflit Linux 2024-03-05 14h07).pdf", kMarch5);
    const std::string exampleConflict =
        R"({"originalName":"Rapport.pdf","copyName":"Rapport (conflit Linux 2024-03-05 14h07).pdf","date":731336820})";
    const std::string full = R"({"archivedFileIDs":[4012],"conflicts":[)" + exampleConflict + "]}";

    struct Case {
        const char* name;
        std::string bytes;
        std::optional<DomainSummary> expected;
    };
    const std::vector<Case> cases = {
        {"example", full, example},
        {"keys in another order, unknown keys ignored",
         R"({"extra":{"x":[1]},"conflicts":[{"date":731336820,"copyName":"Rapport (conflit Linux 2024-03-05 14h07).pdf","originalName":"Rapport.pdf","more":1}],"archivedFileIDs":[4012,4012]})",
         example},
        {"empty object", "{}", empty},
        {"empty text", "", std::nullopt},
        {"half-written", full.substr(0, full.size() / 2), std::nullopt},
        {"conflict without date", R"({"conflicts":[{"originalName":"a","copyName":"b"}]})", std::nullopt},
        {"date as text", R"({"conflicts":[{"originalName":"a","copyName":"b","date":"1"}]})", std::nullopt},
        {"conflicts not an array", R"({"conflicts":{}})", std::nullopt},
        {"fractional id", R"({"archivedFileIDs":[1.5]})", std::nullopt},
        {"id beyond 64 bits", R"({"archivedFileIDs":[9223372036854775808]})", std::nullopt},
        {"array at the top", "[]", std::nullopt},
        {"trailing garbage", "{}x", std::nullopt},
        {"invalid UTF-8", "{\"conflicts\":[{\"originalName\":\"\xff\",\"copyName\":\"b\",\"date\":1}]}", std::nullopt},
        {"nested too deep under an unknown key",
         R"({"archivedFileIDs":[1],"extra":)" + std::string(100000, '[') + std::string(100000, ']') + "}",
         std::nullopt},
        {"over the file size", "{}" + std::string(DomainSummary::kMaxFileBytes, ' '), std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(DomainSummary::decoded(c.bytes), c.expected);
    }
}

TEST(DomainSummary, DecodingDropsConflictsBeyondTen) {
    nlohmann::json conflicts = nlohmann::json::array();
    for (int i = 0; i < 12; ++i) conflicts.push_back({{"originalName", std::to_string(i)}, {"copyName", "c"}, {"date", i}});
    const auto summary = DomainSummary::decoded(nlohmann::json{{"conflicts", conflicts}}.dump());
    ASSERT_TRUE(summary);
    ASSERT_EQ(summary->conflicts.size(), 10u);
    EXPECT_EQ(summary->conflicts.front().originalName, "0");
    EXPECT_EQ(summary->conflicts.back().originalName, "9");
}

TEST(DomainSummary, SaveThenLoadGivesAnEqualSummary) {
    const TemporaryDirectory dir("summary");
    const fs::path path = dir / "summary-a.json";
    const DomainSummary original = sample();
    original.save(path);
    EXPECT_EQ(DomainSummary::load(path), original);
    EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(DomainSummary::load(dir / "missing.json"), std::nullopt);
    EXPECT_EQ(DomainSummary::load(std::nullopt), std::nullopt);

    // Nanoseconds do not survive a double of ~7e8 seconds; microseconds do.
    DomainSummary precise;
    precise.recordConflict("a", "b", kMarch5 + nanoseconds(123456789));
    precise.save(path);
    const auto loaded = DomainSummary::load(path);
    ASSERT_TRUE(loaded);
    const auto drift = loaded->conflicts.at(0).date - precise.conflicts.at(0).date;
    EXPECT_LT(std::chrono::abs(drift), std::chrono::microseconds(1));
}

TEST(DomainSummary, InvalidUTF8NamesAreSavedWithReplacementCharacters) {
    const TemporaryDirectory dir("summary");
    DomainSummary summary;
    summary.recordConflict("caf\xe9.txt", "caf\xe9 (conflit Linux 2024-03-05 14h07).txt", kMarch5);
    summary.save(dir / "s.json");
    const auto loaded = DomainSummary::load(dir / "s.json");
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->conflicts.at(0).originalName, "caf\xef\xbf\xbd.txt");
}

}  // namespace
}  // namespace cadrio
