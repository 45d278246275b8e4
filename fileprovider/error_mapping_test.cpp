#include "fileprovider/error_mapping.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "core/support/cancellation.hpp"

namespace cadrio {
namespace {

using fileprovider::Error;

TEST(MapErrorTest, OtherFailuresKeepTheirOwnError) {
    const Error framework = Error::excludedFromSync();
    EXPECT_EQ(mapError(std::make_exception_ptr(fileprovider::ErrorException(framework))), framework);

    const auto missing = std::make_exception_ptr(std::filesystem::filesystem_error(
        "cannot stat", "/nowhere", std::make_error_code(std::errc::no_such_file_or_directory)));
    EXPECT_EQ(mapError(missing).domain, fileprovider::kPosixErrorDomain);
    EXPECT_EQ(mapError(missing).code, ENOENT);

    EXPECT_EQ(mapError(std::make_exception_ptr(CancellationError())), Error::userCancelled());

    const Error foreign = mapError(std::make_exception_ptr(std::runtime_error("boom")));
    EXPECT_EQ(foreign.domain, fileprovider::kForeignErrorDomain);
    EXPECT_EQ(foreign.description, "boom");
}

}  // namespace
}  // namespace cadrio
