#pragma once

// The one place that turns a failure into the text the user reads.

#include <exception>
#include <string>

namespace cadrio::app {

/// DriveError's French message, KeychainError's and DomainError's
/// description, any other exception's what(); a fixed text for the rest.
std::string errorText(const std::exception_ptr& error);

}  // namespace cadrio::app
