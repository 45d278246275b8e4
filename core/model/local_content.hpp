#pragma once
// A local file ready to be uploaded. The drive API refers to it as
// DriveAPI::LocalContent (an alias of this type); it lives in the model so
// that the hashing and naming code does not depend on the API.

#include <cstdint>
#include <filesystem>
#include <string>

namespace cadrio {

struct LocalContent {
    std::filesystem::path url;  // location of the local file
    std::int64_t size = 0;      // bytes
    std::string contentHash;    // as ContentHasher::sha256 gives it
    std::string contentType;    // MIME type; "application/octet-stream" when unknown

    bool operator==(const LocalContent&) const = default;
};

}  // namespace cadrio
