#pragma once
// How a fileprovider::Error crosses the session bus: a named D-Bus error
// whose name says what happened (for callers that only branch on the name)
// and whose message carries the whole error as
//
//     <domain>:<code>: <description>
//
// e.g. "NSFileProviderErrorDomain:-1005: The item does not exist." so that a
// caller can rebuild the very Error the host saw. The names are listed in
// docs/host-contract.md.

#include <systemd/sd-bus.h>

#include <string>
#include <string_view>

#include "platform/fileprovider/error.hpp"

namespace cadrio::host {

inline constexpr std::string_view kBusErrorPrefix = "zelvano.cadrio.FileProviderHost.Error.";

/// The D-Bus error name of `error`: a name per known file-provider and
/// Cocoa code, "...Error.Posix" for every errno value, "...Error.Failed"
/// for anything else.
std::string busErrorName(const fileprovider::Error& error);

/// "<domain>:<code>: <description>", made valid UTF-8.
std::string busErrorMessage(const fileprovider::Error& error);

/// The Error carried by a D-Bus error message; a message of another form
/// (an error the bus itself raised) gives kForeignErrorDomain, code 0 and
/// the message as description.
fileprovider::Error errorFromBusMessage(std::string_view message);

/// Fills `target` with busErrorName / busErrorMessage of `error` and
/// returns the negative errno value a method handler returns with it.
int setBusError(sd_bus_error* target, const fileprovider::Error& error);

}  // namespace cadrio::host
