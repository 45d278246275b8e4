#pragma once
// The one conversion of every failure the plug-in hands to the host. Drive
// errors become the file-provider codes the host acts on (retry later,
// re-list, sign in, give up); errors that already carry a framework error
// pass through; a cancelled task is "user cancelled"; anything else is
// wrapped as it is (see fileprovider::errorFromException).

#include <exception>
#include <string>

#include "core/model/drive_error.hpp"
#include "platform/fileprovider/error.hpp"

namespace cadrio {

/// The table of drive errors: codes of the file-provider domain with the
/// code's standard text, except `reinforced`, which is write-no-permission
/// (513) carrying the drive error's French message.
fileprovider::Error mapError(const DriveError& error);

/// Any failure, as caught.
fileprovider::Error mapError(std::exception_ptr error);

/// The text a log line gives for a failure: the drive error's message, or
/// what() of any other exception.
std::string describeError(std::exception_ptr error);

}  // namespace cadrio
