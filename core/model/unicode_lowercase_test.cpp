#include "core/model/unicode_lowercase.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace cadrio {
namespace {

TEST(UnicodeLowercase, LowersEveryLetterAndKeepsWhatHasNoLowerCase) {
    struct Case {
        std::string text;
        std::string lowered;
    };
    const std::vector<Case> cases = {
        {"ÉLODIE@Exemple.FR", "élodie@exemple.fr"},
        {"Ωmega@x", "ωmega@x"},
        {"ПАВЕЛ@почта.РФ", "павел@почта.рф"},
        {"Straße", "straße"},               // lower-casing, not case folding
        {"ǅ", "ǆ"},                          // title case letter
        {"Ⱥ", "ⱥ"},                          // two bytes become three
        {"İstanbul", "i\xCC\x87stanbul"},    // one letter becomes two code points
        {"𐐀", "𐐨"},                         // outside the first plane
        {"日本", "日本"},
        {"", ""},
        {"A\xFF" "B\xC3", "a\xFF" "b\xC3"},  // invalid bytes kept, letters around them lowered
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(unicodeLowercased(c.text), c.lowered);
    }
}

}  // namespace
}  // namespace cadrio
