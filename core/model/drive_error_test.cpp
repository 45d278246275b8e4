#include "core/model/drive_error.hpp"

#include <gtest/gtest.h>

#include <string>

namespace cadrio {
namespace {

TEST(DriveErrorTest, WhetherTheRequestWentOutIsNotPartOfTheValue) {
    const DriveError unsent = DriveError::transportBeforeSending("refused");
    EXPECT_TRUE(unsent.requestNeverSent());
    EXPECT_FALSE(DriveError::transport("refused").requestNeverSent());
    EXPECT_EQ(unsent, DriveError::transport("refused"));
    EXPECT_EQ(unsent.errorDescription(), DriveError::transport("refused").errorDescription());
    const DriveError copy = unsent;
    EXPECT_TRUE(copy.requestNeverSent());
}

TEST(DriveErrorTest, EqualityComparesCaseAndPayload) {
    EXPECT_EQ(DriveError::http(404, ""), DriveError::http(404, ""));
    EXPECT_NE(DriveError::http(404, ""), DriveError::notFound());
    EXPECT_NE(DriveError::http(500, "a"), DriveError::http(500, "b"));
    EXPECT_NE(DriveError::transport("a"), DriveError::decoding("a"));
    EXPECT_EQ(DriveError::locked(), DriveError::of(DriveError::Kind::locked));
}

}  // namespace
}  // namespace cadrio
