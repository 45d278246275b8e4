#include "platform/types/mime_globs.hpp"

#include <gtest/gtest.h>

namespace cadrio::types {
namespace {

// A slice of a real database, including its awkward corners: the same
// pattern with and without "cs", overlapping extensions, and a literal that
// is also reachable through a glob.
constexpr std::string_view kGlobs =
    "# This file was automatically generated\n"
    "80:text/html:*.html\n"
    "60:text/x-python:*.py\n"
    "55:application/x-sharedlib:*.so.[0-9]*\n"
    "50:application/gzip:*.gz\n"
    "50:application/x-compressed-tar:*.tar.gz\n"
    "50:text/x-c++src:*.C:cs\n"
    "50:text/x-csrc:*.c\n"
    "50:text/x-readme:readme*\n"
    "50:text/x-makefile:makefile\n"
    "50:text/x-makefile:Makefile:cs\n"
    "50:text/x-upper:*.UP\n"
    "50:application/x-core:core:cs\n"
    "50:text/vnd.trolltech.linguist:*.ts\n"
    "50:video/mp2t:*.ts\n"
    "40:application/x-trash:*~\n"
    "10:text/x-low:*.low\n"
    "90:text/x-high:*.low\n";

class GlobMatcherTest : public ::testing::Test {
protected:
    GlobMatcher matcher{parseGlobs2(kGlobs)};
};

TEST_F(GlobMatcherTest, MatchesFileNames) {
    struct Case {
        std::string_view name;
        std::optional<std::string> type;
    };
    const Case cases[] = {
        {"index.html", "text/html"},
        {"INDEX.HTML", "text/html"},               // case-insensitive rule, folded pass
        {"main.c", "text/x-csrc"},
        {"main.C", "text/x-c++src"},               // case-sensitive rule wins the exact pass
        {"archive.tar.gz", "application/x-compressed-tar"},  // same weight: the longer pattern
        {"libfoo.so.1", "application/x-sharedlib"},
        {"libfoo.so", std::nullopt},
        {"README.md", "text/x-readme"},            // other glob, folded
        {"Makefile", "text/x-makefile"},
        {"MAKEFILE", "text/x-makefile"},           // "makefile" is case-insensitive
        {"core", "application/x-core"},
        {"Core", std::nullopt},                     // "core" is case-sensitive only
        {"notes.txt~", "application/x-trash"},
        {"x.low", "text/x-high"},                  // higher weight beats file order
        {"clip.ts", "text/vnd.trolltech.linguist"},  // full tie: first in the file
        {"", std::nullopt},
        {".py", "text/x-python"},
        {"x.up", "text/x-upper"},  // a case-insensitive rule written in capitals
    };
    for (const auto& c : cases) {
        EXPECT_EQ(matcher.match(c.name), c.type) << c.name;
    }
}

TEST_F(GlobMatcherTest, MatchesExtensionsOnly) {
    EXPECT_EQ(matcher.matchExtension("py"), "text/x-python");
    EXPECT_EQ(matcher.matchExtension("C"), "text/x-c++src");
    EXPECT_EQ(matcher.matchExtension(""), std::nullopt);
    EXPECT_EQ(matcher.matchExtension("tar.gz"), std::nullopt);
    EXPECT_EQ(matcher.matchExtension("a/b"), std::nullopt);
    EXPECT_EQ(matcher.matchExtension("makefile"), std::nullopt);  // a literal name is no extension
}

TEST(ParseGlobs2Test, SkipsDamagedLinesAndKeepsTheRest) {
    const auto rules = parseGlobs2(
        "50:text/plain:*.txt\r\n"
        "garbage line\n"
        "abc:text/x-a:*.a\n"
        "500:text/x-b:*.b\n"
        "50:nonsense:*.n\n"
        "50:text/x-empty:\n"
        "0:text/x-c:__NOGLOBS__\n"
        "30:text/x-d:*.d:cs,other\n"
        "20:text/x-e:*.e:other\n"
        "\n");
    const std::vector<GlobRule> expected{
        {50, "text/plain", "*.txt", false},
        {30, "text/x-d", "*.d", true},
        {20, "text/x-e", "*.e", false},
    };
    EXPECT_EQ(rules, expected);
}

}  // namespace
}  // namespace cadrio::types
