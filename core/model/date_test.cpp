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

TEST(DateTest, FractionsAreCutTowardsZero) {
    EXPECT_EQ(unixSecondsTruncated(dateFromUnixSeconds(1700000000.9)), 1700000000);
    EXPECT_EQ(unixSecondsTruncated(dateFromUnixSeconds(-1.5)), -1);
    EXPECT_DOUBLE_EQ(unixSeconds(dateFromUnixSeconds(-1.5)), -1.5);
}

TEST(DateTest, ReferenceSecondsRoundTripWithFraction) {
    const Date date = dateFromUnixSeconds(std::int64_t{1709644020});  // 2024-03-05 13:07 UTC
    EXPECT_DOUBLE_EQ(referenceDateSeconds(date), 731336820);
    EXPECT_EQ(dateFromReferenceSeconds(731336820), date);
    const Date precise = dateFromReferenceSeconds(731336820.123456);
    EXPECT_NEAR(referenceDateSeconds(precise), 731336820.123456, 1e-6);
    EXPECT_EQ(dateFromReferenceSeconds(-1e300), Date::min());
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
