#include "fileprovider/upload_progress.hpp"

#include <gtest/gtest.h>

#include <fstream>

#include "core/support/temporary_directory.hpp"

namespace cadrio {
namespace {

TEST(UploadProgress, CountsTheBytesSentOfAtLeastOneUnit) {
    TemporaryDirectory directory("upload-progress");
    std::ofstream(directory / "twelve", std::ios::binary) << "twelve bytes";
    std::ofstream(directory / "empty", std::ios::binary);
    for (const auto& [contents, total] : std::vector<std::pair<std::optional<std::filesystem::path>, std::int64_t>>{
             {directory / "twelve", 12}, {directory / "empty", 1}, {directory / "missing", 1}, {std::nullopt, 1}}) {
        const auto progress = makeUploadProgress(contents);
        EXPECT_EQ(progress->totalUnitCount(), total) << contents.value_or("none");
    }

    auto progress = makeUploadProgress(directory / "twelve");
    const auto report = uploadProgressReporter(progress);
    report(3);
    EXPECT_EQ(progress->completedUnitCount(), 3);
    const std::weak_ptr<fileprovider::Progress> watched = progress;
    progress.reset();
    EXPECT_TRUE(watched.expired());  // the upload does not keep the host's progress alive
    report(12);
}

}  // namespace
}  // namespace cadrio
