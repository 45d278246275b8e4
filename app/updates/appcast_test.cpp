#include "app/updates/appcast.hpp"

#include <gtest/gtest.h>

#include "app/updates/version_order.hpp"

namespace cadrio::app {
namespace {

std::string feed(const std::string& items) {
    return R"(<?xml version="1.0"?><rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle"><channel><title>c</title>)" +
           items + "</channel></rss>";
}

TEST(Appcast, ItemsAreReadFromElementsOrTheEnclosureAndIncompleteOnesLeftOut) {
    const auto appcast = parseAppcast(feed(R"xml(
      <item><title>A</title><sparkle:version>2.0.7</sparkle:version>
        <sparkle:shortVersionString> 2.0 </sparkle:shortVersionString>
        <sparkle:releaseNotesLink>https://e.test/2.0</sparkle:releaseNotesLink>
        <enclosure url="https://e.test/a.tar.gz" length="1234"/></item>
      <item><enclosure url="https://e.test/b.tar.gz" sparkle:version="1.9"/></item>
      <item><sparkle:shortVersionString>3.0</sparkle:shortVersionString><enclosure url="https://e.test/c"/></item>
      <item><sparkle:version>4.0</sparkle:version></item>
      <item><sparkle:version>5.0</sparkle:version><enclosure url="javascript:alert(1)"/></item>
      <item><sparkle:version>6.0</sparkle:version><enclosure url="https://e.test/f" length="-1"/></item>
      <item><version>7.0</version><enclosure url="https://e.test/g"/></item>)xml"));

    ASSERT_EQ(appcast.items.size(), 2u);
    EXPECT_EQ(appcast.items[0], (AppcastItem{"A", "2.0.7", "2.0", "https://e.test/2.0", "https://e.test/a.tar.gz", 1234}));
    EXPECT_EQ(appcast.items[1].shortVersion, "1.9");
    EXPECT_EQ(appcast.items[1].pageURL(), "https://e.test/b.tar.gz");
    EXPECT_EQ(appcast.rejectedItems, 5u);
    EXPECT_EQ(appcast.newest()->version, "2.0.7");
}

TEST(Appcast, DocumentsThatAreNotAFeedAreRefused) {
    for (const std::string& document : {
             std::string("<rss><channel><item>"),                      // cut short
             std::string("not xml at all"),                            //
             std::string("<feed><entry/></feed>"),                     // not RSS
             std::string("<rss version=\"2.0\"></rss>"),               // no channel
             std::string("<!DOCTYPE rss [<!ENTITY a \"aaaa\">]><rss><channel/></rss>"),
         }) {
        EXPECT_THROW(parseAppcast(document), AppcastError) << document;
    }
    EXPECT_TRUE(parseAppcast(feed("")).items.empty());
    EXPECT_EQ(parseAppcast(feed("")).newest(), nullptr);
}

TEST(VersionOrder, SegmentsCompareInTurnNumbersByValue) {
    struct Case {
        const char* left;
        const char* right;
        int expected;  // sign of left - right
    };
    for (const Case& c : std::initializer_list<Case>{
             {"1.10", "1.9", 1},           {"0.1.0", "0.1.0", 0},
             {"1.2", "1.2.0", 0},          {"1.2.1", "1.2", 1},
             {"2.0b1", "2.0", -1},         {"2.0b2", "2.0b10", -1},
             {"2.0-rc.1", "2.0-beta.3", 1}, {"2.0", "1.99999999999999999999", 1},
             {"01.002", "1.2", 0},         {"1.0.1", "1.0a", 1},
             {"0.2.0 (41)", "0.2.0 (40)", 1}, {"", "0", 0},
         }) {
        const auto order = compareVersions(c.left, c.right);
        EXPECT_EQ((order > 0) - (order < 0), c.expected) << c.left << " vs " << c.right;
        const auto back = compareVersions(c.right, c.left);
        EXPECT_EQ((back > 0) - (back < 0), -c.expected) << c.right << " vs " << c.left;
    }
}

}  // namespace
}  // namespace cadrio::app
