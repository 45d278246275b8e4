#include "core/model/drive_records.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "core/model/drive_error.hpp"

namespace cadrio {
namespace {

DriveFile fileWithThumbnails(std::optional<std::string> path) {
    DriveFile file;
    file.thumbnailPath = std::move(path);
    return file;
}

TEST(DriveRecordsTest, ThumbnailKeysAndPreference) {
    struct Case {
        std::optional<std::string> path;
        std::vector<std::string> keys;
        std::optional<std::string> preferred;
    };
    const std::vector<Case> cases = {
        {std::nullopt, {}, std::nullopt},
        {" \n\t", {}, std::nullopt},
        {"\xC2\xA0 abc.jpg\n", {"abc.jpg"}, "abc.jpg"},
        {R"(["a_1024x1024.png","",5,"a_256x256.png"])", {"a_1024x1024.png", "a_256x256.png"}, "a_256x256.png"},
        {R"( ["x_64x64.jpg","x_1024x1024.jpg"])", {"x_64x64.jpg", "x_1024x1024.jpg"}, "x_1024x1024.jpg"},
        {R"(["plain.jpg","b256x256.png"])", {"plain.jpg", "b256x256.png"}, "plain.jpg"},
        {R"(["a_256x256.png","b_256x256.png"])", {"a_256x256.png", "b_256x256.png"}, "a_256x256.png"},
        {R"([1,2])", {}, std::nullopt},
        {"[" + std::string(100000, '['), {}, std::nullopt},
        // Refused as a whole, not read up to the part that is too deep or too long.
        {R"(["a_256x256.png",)" + std::string(100000, '[') + std::string(100000, ']') + "]", {}, std::nullopt},
        {R"(["a_256x256.png")" + std::string(DriveFile::kMaxThumbnailPathBytes, ' ') + "]", {}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.value_or("<none>").substr(0, 40));
        const DriveFile file = fileWithThumbnails(c.path);
        EXPECT_EQ(file.thumbnailKeys(), c.keys);
        EXPECT_EQ(file.preferredThumbnailKey(), c.preferred);
    }
}

TEST(DriveRecordsTest, QuotaFractionStaysWithinZeroAndOne) {
    const std::vector<std::pair<DriveQuota, double>> cases = {
        {{256, 1024}, 0.25}, {{5, 0}, 0},        {{2048, 1024}, 1},  {{-5, 1024}, 0},
        {{1, -1}, 0},        {{NAN, 1024}, 0},   {{1, NAN}, 0},      {{INFINITY, INFINITY}, 0},
        {{0, INFINITY}, 0},  {{INFINITY, 1}, 1},
    };
    for (const auto& [quota, fraction] : cases) {
        EXPECT_EQ(quota.fraction(), fraction) << quota.usedMegabytes << "/" << quota.maxMegabytes;
    }
}

TEST(DriveRecordsTest, CheckReceivedComparesWithTheAnnouncedLength) {
    EXPECT_NO_THROW(DriveDownload::checkReceived(10, std::nullopt));
    EXPECT_NO_THROW(DriveDownload::checkReceived(10, 10));
    try {
        DriveDownload::checkReceived(10, 12);
        FAIL() << "accepted";
    } catch (const DriveError& error) {
        EXPECT_EQ(error, DriveError::transport("téléchargement incomplet : 10 octets reçus sur 12"));
    }
    EXPECT_THROW(DriveDownload::checkReceived(13, 12), DriveError);
}

}  // namespace
}  // namespace cadrio
