#pragma once
// What the client believes the server's current content of a file is; a
// content replacement carries it so that a change made elsewhere meanwhile is
// refused by the server instead of being overwritten.

#include <cstdint>
#include <optional>
#include <string>

namespace cadrio {

struct ReplacePrecondition {
    std::optional<std::string> ifContentHash;   // the content hash last seen
    std::optional<std::int64_t> ifDateUpload;   // the upload time last seen, seconds since 1970

    bool operator==(const ReplacePrecondition&) const = default;

    /// True when neither field is present: the replacement is unconditional.
    bool isUnconditional() const { return !ifContentHash && !ifDateUpload; }
};

}  // namespace cadrio
