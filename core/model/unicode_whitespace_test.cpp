#include "core/model/unicode_whitespace.hpp"

#include <gtest/gtest.h>

#include <string>

namespace cadrio {
namespace {

TEST(UnicodeWhitespace, TrimsEveryWhiteSpaceCodePointAtBothEndsOnly) {
    const std::pair<std::string, std::string> cases[] = {
        {" 123 456\n", "123 456"},
        {"\xC2\xA0" "123456\xC2\xA0", "123456"},            // no-break space
        {"\xE2\x80\xA8" "12\xE2\x80\xAF" "34\xE3\x80\x80", "12\xE2\x80\xAF" "34"},  // U+2028, U+202F inside, U+3000
        {"\xC2\x85\t\xE1\x9A\x80" "R\xE2\x80\x8A\xE2\x81\x9F", "R"},  // U+0085, U+1680, U+200A, U+205F
        {"\xE2\x80\x8B" "1\xE2\x80\x8B", "\xE2\x80\x8B" "1\xE2\x80\x8B"},  // zero-width space is not white space
        {"\xC2\xA0\xC2\xA0", ""},
        {"", ""},
        {"\xA0" "1 ", "\xA0" "1"},                          // a lone continuation byte stays
        {" 1\xC2", "1\xC2"},                                // a cut sequence stays
        {"\xC0\xA0" "1", "\xC0\xA0" "1"},                   // overlong form of U+0020 is not white space
    };
    for (const auto& [input, expected] : cases) {
        EXPECT_EQ(trimmedUnicodeWhitespace(input), expected) << ::testing::PrintToString(input);
    }
}

}  // namespace
}  // namespace cadrio
