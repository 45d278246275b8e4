#include "fileprovider/error_mapping.hpp"

#include <gtest/gtest.h>

#include <stdexcept>

#include "core/support/cancellation.hpp"

namespace cadrio {
namespace {

using fileprovider::Error;

TEST(MapErrorTest, CarriedErrorsCancellationsAndTheRest) {
    const Error framework = Error::excludedFromSync();
    EXPECT_EQ(mapError(std::make_exception_ptr(fileprovider::ErrorException(framework))), framework);
    EXPECT_EQ(mapError(std::make_exception_ptr(CancellationError())), Error::userCancelled());
    EXPECT_EQ(mapError(std::make_exception_ptr(std::runtime_error("boom"))),
              fileprovider::errorFromException(std::make_exception_ptr(std::runtime_error("boom"))));
}

}  // namespace
}  // namespace cadrio
