#include "platform/log/log_format.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <limits>
#include <string>
#include <system_error>
#include <vector>

namespace cadrio::log {
namespace {

// Checked when the tests compile; a mismatch in production code fails the
// build the same way.
static_assert(detail::placeholderCount("plain") == 0);
static_assert(detail::placeholderCount("{} et {}") == 2);
static_assert(detail::placeholderCount("{{}} {}") == 1);
static_assert(detail::placeholderCount("{{") == 0);
static_assert(detail::placeholderCount("{") == -1);
static_assert(detail::placeholderCount("}") == -1);
static_assert(detail::placeholderCount("{x}") == -1);
static_assert(detail::placeholderCount("{}}") == -1);

TEST(LogFormat, Substitution) {
    struct Case {
        const char* format;
        std::vector<std::string> values;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"Élément {} téléchargé ({} octets)", {"f:42", "1024"}, "Élément f:42 téléchargé (1024 octets)"},
        {"{{}} littéral, {} valeur", {"v"}, "{} littéral, v valeur"},
        {"valeur {} contenant {}", {"{}", "}}"}, "valeur {} contenant }}"},  // values are not reparsed
        {"manque {} et {}", {"un"}, "manque un et {}"},
        {"trop {}", {"un", "deux"}, "trop un"},
        {"accolade seule { et }", {}, "accolade seule { et }"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        EXPECT_EQ(substitute(c.format, c.values), c.message);
    }
}

TEST(LogFormat, ValueTexts) {
    const char* nullText = nullptr;
    const std::string email = "lea@example.org";
    EXPECT_EQ(valueText(privateValue(email)), "<private>");
    EXPECT_EQ(valueText(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808");
    EXPECT_EQ(valueText(std::uint8_t{7}), "7");  // a number, not a character
    EXPECT_EQ(valueText(nullText), "(null)");
    EXPECT_EQ(valueText(std::make_error_code(std::errc::no_such_file_or_directory)), "generic:2");
}

}  // namespace
}  // namespace cadrio::log
