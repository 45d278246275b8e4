#include "core/model/utf8_text.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace cadrio {
namespace {

const std::string R(kReplacementCharacter);

// Valid exactly when decoding changes nothing, so one table checks both.
TEST(Utf8Text, ValidTextIsKeptAndEachMaximalInvalidSubpartIsReplacedOnce) {
    struct Case {
        const char* name;
        std::string bytes;
        std::string decoded;
    };
    const std::vector<Case> cases = {
        {"ASCII", "plain text", "plain text"},
        {"empty", "", ""},
        {"NUL is a character", std::string("a\0b", 3), std::string("a\0b", 3)},
        {"two, three and four bytes", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {"highest code point", "\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},
        {"lone continuation byte", "a\x80z", "a" + R + "z"},
        {"bytes never used", "\xC0\xC1\xF5\xFF", R + R + R + R},
        {"overlong two-byte form", "\xC0\xAF", R + R},
        {"truncated at the end", "a\xE2\x82", "a" + R},
        {"truncated before ASCII", "\xF0\x9F\x98z", R + "z"},
        {"truncated before another lead byte", "\xE2\x82\xC3\xA9", R + "\xC3\xA9"},
        {"bad second continuation", "\xE2\x28\xA1", R + "(" + R},
        {"overlong three-byte form", "\xE0\x80\xAF", R + R + R},
        {"overlong four-byte form", "\xF0\x80\x80\xAF", R + R + R + R},
        {"surrogate", "\xED\xA0\x80", R + R + R},
        {"last surrogate", "\xED\xBF\xBF", R + R + R},
        {"above U+10FFFF", "\xF4\x90\x80\x80", R + R + R + R},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(decodedUTF8(c.bytes), c.decoded);
        EXPECT_EQ(isValidUtf8(c.bytes), c.bytes == c.decoded);
    }
}

TEST(Utf8Text, UnitsCarryTheirCodePoints) {
    struct Case {
        std::string bytes;
        Utf8Unit unit;
    };
    const std::vector<Case> cases = {
        {"", {0, 0, false}},
        {"Az", {U'A', 1, true}},
        {"\xC3\x89x", {0xC9, 2, true}},
        {"\xE2\x82\xAC", {0x20AC, 3, true}},
        {"\xF4\x8F\xBF\xBF", {0x10FFFF, 4, true}},
        {"\xF0\x9F\x98", {0xFFFD, 3, false}},
        {"\xED\xA0\x80", {0xFFFD, 1, false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.bytes));
        const Utf8Unit unit = leadingUtf8Unit(c.bytes);
        EXPECT_EQ(unit.codePoint, c.unit.codePoint);
        EXPECT_EQ(unit.length, c.unit.length);
        EXPECT_EQ(unit.valid, c.unit.valid);
    }
}

}  // namespace
}  // namespace cadrio
