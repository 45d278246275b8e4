#include "core/events/utf8_decoding.hpp"

#include <gtest/gtest.h>

namespace cadrio {
namespace {

const std::string R(kReplacementCharacter);

TEST(UTF8Decoding, ValidTextIsKeptAndEachMaximalInvalidSubpartIsReplacedOnce) {
    struct Case {
        const char* name;
        std::string bytes;
        std::string decoded;
    };
    const Case cases[] = {
        {"ASCII", "plain text", "plain text"},
        {"empty", "", ""},
        {"two, three and four bytes", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {"highest code point", "\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},
        {"lone continuation byte", "a\x80z", "a" + R + "z"},
        {"bytes never used", "\xC0\xC1\xF5\xFF", R + R + R + R},
        {"truncated at the end", "a\xE2\x82", "a" + R},
        {"truncated before ASCII", "\xF0\x9F\x98z", R + "z"},
        {"truncated before another lead byte", "\xE2\x82\xC3\xA9", R + "\xC3\xA9"},
        {"overlong three-byte form", "\xE0\x80\xAF", R + R + R},
        {"surrogate", "\xED\xA0\x80", R + R + R},
        {"above U+10FFFF", "\xF4\x90\x80\x80", R + R + R + R},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(decodedUTF8(c.bytes), c.decoded);
    }
}

}  // namespace
}  // namespace cadrio
