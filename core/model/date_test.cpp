#include "core/model/date.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "core/model/storage_class.hpp"

namespace cadrio {
namespace {

TEST(DateTest, WireSecondsConvertAndSaturate) {
    EXPECT_EQ(unixSecondsTruncated(dateFromUnixSeconds(std::int64_t{1700000000})), 1700000000);
    EXPECT_EQ(dateFromUnixSeconds(INT64_MAX), Date::max());
    EXPECT_EQ(dateFromUnixSeconds(INT64_MIN), Date::min());
    EXPECT_EQ(dateFromUnixSeconds(1e300), Date::max());
    EXPECT_EQ(dateFromUnixSeconds(-INFINITY), Date::min());
    EXPECT_EQ(dateFromUnixSeconds(NAN), Date{});
    EXPECT_EQ(dateFromUnixSeconds(9.3e9), Date::max());
}

TEST(StorageClassTest, ServerValuesAreReadTolerantlyRawValuesExactly) {
    EXPECT_EQ(storageClassFromServerValue("  GLACIER\t"), StorageClass::glacier);
    EXPECT_EQ(storageClassFromServerValue("Restoring"), StorageClass::restoring);
    EXPECT_EQ(storageClassFromServerValue(std::nullopt), StorageClass::standard);
    EXPECT_EQ(storageClassFromServerValue("cold"), StorageClass::standard);
    EXPECT_EQ(storageClassFromServerValue("glacier\n"), StorageClass::standard);
    EXPECT_EQ(storageClassFromRawValue("Glacier"), std::nullopt);
}

}  // namespace
}  // namespace cadrio
