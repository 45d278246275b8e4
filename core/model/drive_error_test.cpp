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
}

}  // namespace
}  // namespace cadrio
