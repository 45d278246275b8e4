#include "core/support/hexadecimal.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace cadrio {
namespace {

TEST(Hexadecimal, TwoDigitsPerByteHighNibbleFirst) {
    struct Case {
        std::string bytes;
        HexDigits digits;
        const char* text;
    };
    const std::vector<Case> cases = {
        {"", HexDigits::lower, ""},
        {std::string("\x00\x0f\xf0\xff", 4), HexDigits::lower, "000ff0ff"},
        {"\xab\xcd\x19", HexDigits::upper, "ABCD19"},
        {"abc", HexDigits::lower, "616263"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(hexadecimal(c.bytes, c.digits), c.text);
    }
    std::string out = "\\x";
    const unsigned char bell = 0x07;
    appendHexadecimal(out, std::span(&bell, 1));
    EXPECT_EQ(out, "\\x07");
}

}  // namespace
}  // namespace cadrio
