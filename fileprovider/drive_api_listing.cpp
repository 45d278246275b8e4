#include "fileprovider/drive_api_listing.hpp"

#include <stdexcept>

namespace cadrio {

DriveAPIListing::DriveAPIListing(std::shared_ptr<const DriveAPI> api) : api_(std::move(api)) {
    if (!api_) throw std::invalid_argument("DriveAPIListing needs a drive API");
}

DriveChanges DriveAPIListing::changes(std::int64_t since, std::stop_token stop) {
    return api_->changes(since, std::move(stop));
}

std::vector<DriveFolder> DriveAPIListing::folders(std::optional<std::int64_t> in, std::stop_token stop) {
    return api_->folders(in, std::move(stop));
}

std::vector<DriveFile> DriveAPIListing::files(std::optional<std::int64_t> in, std::stop_token stop) {
    return api_->files(in, std::move(stop));
}

}  // namespace cadrio
