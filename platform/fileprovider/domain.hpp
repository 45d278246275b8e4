#pragma once
// A domain: one mounted drive, named by an identifier that its plug-in keys
// its local state by, and shown to the user under its display name.

#include <string>

namespace cadrio::fileprovider {

struct Domain {
    std::string identifier;
    std::string displayName;
    /// False when the user switched the domain off; the host then neither
    /// mounts it nor starts its plug-in.
    bool userEnabled = true;

    bool operator==(const Domain&) const = default;
};

}  // namespace cadrio::fileprovider
