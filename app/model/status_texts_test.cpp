#include "app/model/status_texts.hpp"

#include <gtest/gtest.h>

#include <limits>

namespace cadrio::app {
namespace {

TEST(StatusTexts, GigabytesInFrenchNotation) {
    const struct {
        double megabytes;
        int digits;
        const char* text;
    } cases[] = {
        {1536, 1, "1,5\u00A0Go"},
        {0, 0, "0\u00A0Go"},
        {1075, 1, "1,0\u00A0Go"},                // 1.0498...: rounded, not cut
        {1024.0 * 1500, 0, "1\u202F500\u00A0Go"},  // thousands grouped
        {-1, 1, "0,0\u00A0Go"},
        {std::numeric_limits<double>::quiet_NaN(), 0, "0\u00A0Go"},
    };
    for (const auto& c : cases) EXPECT_EQ(gigabytesText(c.megabytes, c.digits), c.text) << c.megabytes;
}

}  // namespace
}  // namespace cadrio::app
