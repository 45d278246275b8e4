#include "fileprovider/upload_progress.hpp"

#include "fileprovider/local_content.hpp"

namespace cadrio {
namespace {

std::int64_t uploadUnits(const std::optional<std::filesystem::path>& contents) {
    if (!contents) return 1;
    try {
        const std::optional<std::int64_t> size = localFileSize(*contents);
        return size && *size >= 1 ? *size : 1;
    } catch (const std::filesystem::filesystem_error&) {
        return 1;  // the upload itself will report the file system's error
    }
}

}  // namespace

std::shared_ptr<fileprovider::Progress> makeUploadProgress(const std::optional<std::filesystem::path>& contents) {
    auto progress = fileprovider::Progress::create(uploadUnits(contents));
    progress->setFileOperationKind(fileprovider::FileOperationKind::uploading);
    progress->setFileURL(contents);
    return progress;
}

std::function<void(std::int64_t bytesSent)> uploadProgressReporter(
    const std::shared_ptr<fileprovider::Progress>& progress) {
    return [weak = std::weak_ptr<fileprovider::Progress>(progress)](std::int64_t bytesSent) {
        if (const auto progress = weak.lock()) progress->setCompletedUnitCount(bytesSent);
    };
}

}  // namespace cadrio
