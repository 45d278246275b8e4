#pragma once
// The DriveError a call throws, for tests. Header-only; never linked into
// the programs.

#include <gtest/gtest.h>

#include "core/model/drive_error.hpp"

namespace cadrio::testing {

/// The DriveError that `f` throws; a test failure when it throws none.
template <class F>
DriveError driveErrorOf(F&& f) {
    try {
        f();
    } catch (const DriveError& error) {
        return error;
    }
    ADD_FAILURE() << "no DriveError thrown";
    return DriveError::http(0, "none thrown");
}

}  // namespace cadrio::testing
