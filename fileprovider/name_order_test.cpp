#include "fileprovider/name_order.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace cadrio {
namespace {

// "é" composed (U+00E9) and decomposed (e + U+0301).
const std::string kComposed = "caf\xC3\xA9";
const std::string kDecomposed = "cafe\xCC\x81";

TEST(NameOrderTest, CanonicallyEquivalentNamesAreEqual) {
    EXPECT_TRUE(namesAreEquivalent(kComposed, kDecomposed));
    EXPECT_EQ(compareNames(kComposed, kDecomposed), 0);
    EXPECT_EQ(canonicalName(kDecomposed), kComposed);
    EXPECT_FALSE(namesAreEquivalent("cafe", kComposed));
    EXPECT_FALSE(namesAreEquivalent("Cafe", "cafe"));
}

TEST(NameOrderTest, OrdersByCodePointOfTheComposedForm) {
    struct Case {
        std::string before;
        std::string after;
    };
    const std::vector<Case> cases = {
        {"B", "a"},                    // upper case first
        {"a", "ab"},                   // prefix first
        {"cafe", kDecomposed},         // e < é even when é is spelt e + accent
        {"caff", kDecomposed},         // f before é (U+00E9) as a code point
        {"z", "\xC3\xA0"},             // à after every ASCII letter
        {"\xEF\xBF\xBD", "\xF0\x9F\x98\x80"},  // U+FFFD < U+1F600: 3-byte before 4-byte form
    };
    for (const Case& c : cases) {
        EXPECT_LT(compareNames(c.before, c.after), 0) << c.before << " / " << c.after;
        EXPECT_GT(compareNames(c.after, c.before), 0) << c.before << " / " << c.after;
    }
}

TEST(NameOrderTest, BytesThatAreNotUTF8CompareRawAndNeverFail) {
    const std::string broken = "a\xFF" "b";
    const std::string withNul("\xC3\xA9\0x", 4);
    EXPECT_EQ(canonicalName(broken), broken);
    EXPECT_EQ(canonicalName(withNul), withNul);
    EXPECT_FALSE(namesAreEquivalent(broken, "ab"));
    EXPECT_LT(compareNames("a", broken), 0);
}

TEST(NameOrderTest, SortIsStableAndNormalisesOnce) {
    struct Named {
        std::string name;
        int tag;
    };
    std::vector<Named> records = {{"b", 0}, {kDecomposed, 1}, {"B", 2}, {kComposed, 3}, {"a", 4}};
    sortByName(records);
    std::vector<int> tags;
    for (const Named& record : records) tags.push_back(record.tag);
    EXPECT_EQ(tags, (std::vector<int>{2, 4, 0, 1, 3}));
}

}  // namespace
}  // namespace cadrio
