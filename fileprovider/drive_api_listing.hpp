#pragma once
// The listing operations of the typed drive API behind the DriveListing
// interface. Holds only the shared DriveAPI; safe from any thread.

#include <memory>

#include "core/api/drive_api.hpp"
#include "fileprovider/drive_listing.hpp"

namespace cadrio {

class DriveAPIListing final : public DriveListing {
public:
    /// Throws std::invalid_argument for a null API.
    explicit DriveAPIListing(std::shared_ptr<const DriveAPI> api);

    DriveChanges changes(std::int64_t since, std::stop_token stop) override;
    std::vector<DriveFolder> folders(std::optional<std::int64_t> in, std::stop_token stop) override;
    std::vector<DriveFile> files(std::optional<std::int64_t> in, std::stop_token stop) override;

private:
    std::shared_ptr<const DriveAPI> api_;
};

}  // namespace cadrio
