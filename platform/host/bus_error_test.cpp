#include "platform/host/bus_error.hpp"

#include <gtest/gtest.h>

#include "platform/host/bus_text.hpp"

namespace cadrio::host {
namespace {

using fileprovider::Error;

TEST(BusErrorTest, MessagesGiveBackTheErrorTheyCarry) {
    const Error cases[] = {
        Error::noSuchItem(),
        Error{"NSFileProviderErrorDomain", -2005, "answer: undecodable: body"},
        Error{"NSPOSIXErrorDomain", 2, ""},
        Error{"cadrio.exception", 0, "a:1: looks like a header"},
    };
    for (const Error& error : cases) {
        EXPECT_EQ(errorFromBusMessage(busErrorMessage(error)), error) << busErrorMessage(error);
    }
}

TEST(BusErrorTest, MessagesOfAnotherFormAreForeign) {
    for (const std::string_view message :
         {"Connection timed out", "nocode: text", ":12: no domain", "d:1x: text"}) {
        const Error error = errorFromBusMessage(message);
        EXPECT_EQ(error.domain, fileprovider::kForeignErrorDomain) << message;
        EXPECT_EQ(error.description, message);
    }
}

TEST(BusTextTest, IllFormedSequencesBecomeOneReplacementEach) {
    struct Case {
        std::string_view in;
        std::string_view out;
    };
    const Case cases[] = {
        {"Élodie €", "Élodie €"},
        {"a\xFF"
         "b",
         "a\xEF\xBF\xBD"
         "b"},
        {"cut \xE2\x82", "cut \xEF\xBF\xBD"},                                      // truncated: one
        {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},                  // surrogate
        {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},                                  // overlong
        {"\xF4\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // above U+10FFFF
        {std::string_view("a\0b", 3),
         "a\xEF\xBF\xBD"
         "b"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(toBusString(c.in), c.out) << c.in;
        EXPECT_EQ(isBusString(c.in), c.in == c.out) << c.in;
    }
}

}  // namespace
}  // namespace cadrio::host
