#include "platform/host/thumbnail_prefetcher.hpp"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "core/support/temporary_directory.hpp"
#include "platform/host/thumbnail_testing.hpp"

namespace cadrio::host {
namespace {

namespace fs = std::filesystem;
using fileprovider::ItemIdentifier;

/// Answers thumbnail requests from `previews` at once, or never when
/// `silent`; records every batch it was asked for.
class PreviewExtension final : public fileprovider::ReplicatedExtension {
  public:
    std::map<std::string, std::string> previews;
    bool silent = false;
    bool failing = false;
    std::vector<std::vector<std::string>> batches;
    std::shared_ptr<fileprovider::Progress> lastProgress;

    std::shared_ptr<fileprovider::Progress> item(const ItemIdentifier&,
                                                 const fileprovider::Request&,
                                                 ItemCompletion) override {
        ADD_FAILURE() << "no item lookups expected";
        return fileprovider::Progress::create();
    }
    std::shared_ptr<fileprovider::Enumerator> enumerator(const ItemIdentifier&,
                                                         const fileprovider::Request&) override {
        throw fileprovider::ErrorException(fileprovider::Error::noSuchItem());
    }
    std::shared_ptr<fileprovider::Progress> fetchContents(
        const ItemIdentifier&, const std::optional<fileprovider::ItemVersion>&,
        const fileprovider::Request&, FetchContentsCompletion) override {
        ADD_FAILURE() << "contents must never be fetched";
        return fileprovider::Progress::create();
    }
    std::shared_ptr<fileprovider::Progress> fetchThumbnails(
        std::vector<ItemIdentifier> identifiers, fileprovider::ThumbnailSize,
        PerThumbnailCompletion perThumbnail, ThumbnailsCompletion completion) override {
        auto& batch = batches.emplace_back();
        for (const auto& identifier : identifiers) batch.push_back(identifier.rawValue());
        lastProgress = fileprovider::Progress::create();
        if (silent) return lastProgress;
        if (failing) {
            for (const auto& identifier : identifiers)
                perThumbnail(identifier, std::nullopt, std::nullopt);
            completion(fileprovider::Error::serverUnreachable());
            return lastProgress;
        }
        for (const auto& identifier : identifiers) {
            const auto preview = previews.find(identifier.rawValue());
            perThumbnail(identifier,
                         preview == previews.end() ? std::nullopt : std::optional(preview->second),
                         std::nullopt);
        }
        completion(std::nullopt);
        return lastProgress;
    }
};

ListedFile listed(const std::string& name, const std::string& contentVersion = "v1",
                  bool isFolder = false) {
    ListedFile file;
    file.entry.identifier = ItemIdentifier("id-" + name);
    file.entry.isFolder = isFolder;
    file.entry.size = 100;
    file.entry.modified = fileprovider::Date(std::chrono::seconds(1700000000));
    file.entry.version.contentVersion = contentVersion;
    file.path = "/mnt/Cadrio/Photos/" + name;
    return file;
}

class ThumbnailPrefetcherTest : public ::testing::Test {
  protected:
    TemporaryDirectory directory;
    ThumbnailCache cache{directory / "thumbnails"};
    VirtualClock clock;
    std::shared_ptr<PreviewExtension> extension = std::make_shared<PreviewExtension>();
};

TEST_F(ThumbnailPrefetcherTest, AsksInBatchesAndOnlyForWhatIsNotCurrent) {
    const std::string image = testing::encodedImage("jpeg", 300, 200);
    std::vector<ListedFile> folder;
    for (int i = 0; i < 70; ++i) {
        folder.push_back(listed("photo" + std::to_string(i) + ".jpg"));
        if (i != 5) extension->previews["id-photo" + std::to_string(i) + ".jpg"] = image;
    }
    folder.push_back(listed("Sous-dossier", "", true));
    ThumbnailPrefetcher prefetcher(extension, cache, clock);

    prefetcher.folderListed(folder);
    prefetcher.waitUntilIdle();
    ASSERT_EQ(extension->batches.size(), 3u);
    EXPECT_EQ(extension->batches[0].size(), 32u);
    EXPECT_EQ(extension->batches[2].size(), 6u);
    EXPECT_TRUE(cache.isCurrent(folder[0].path, {1700000000, 100, "v1"}));
    EXPECT_FALSE(fs::exists(cache.thumbnailOf(folder[5].path, ThumbnailCache::Flavour::normal)));

    // A failed request's empty answers prove nothing: the thumbnail stays
    // and is asked for again.
    folder[3].entry.version.contentVersion = "v2";
    extension->failing = true;
    prefetcher.folderListed({folder[3]});
    prefetcher.waitUntilIdle();
    EXPECT_TRUE(fs::exists(cache.thumbnailOf(folder[3].path, ThumbnailCache::Flavour::large)));
    extension->failing = false;
    folder[3].entry.version.contentVersion = "v1";
    ASSERT_EQ(extension->batches.size(), 4u);

    // Listed again: the written ones are current, the one without preview
    // is known; only the file whose content changed is asked for again.
    folder[7].entry.version.contentVersion = "v2";
    extension->previews.erase("id-photo7.jpg");
    prefetcher.folderListed(folder);
    prefetcher.waitUntilIdle();
    ASSERT_EQ(extension->batches.size(), 5u);
    EXPECT_EQ(extension->batches[4], std::vector<std::string>{"id-photo7.jpg"});
    EXPECT_FALSE(fs::exists(cache.thumbnailOf(folder[7].path, ThumbnailCache::Flavour::large)));
}

TEST_F(ThumbnailPrefetcherTest, KeepsOnlyTheNewestFilesBeyondItsBound) {
    extension->silent = true;
    ThumbnailPrefetcher prefetcher(
        extension, cache, clock,
        {.batchSize = 2, .maxQueued = 3, .requestTimeout = std::chrono::seconds(30)});
    prefetcher.folderListed({listed("a"), listed("b")});
    ASSERT_TRUE(clock.waitForSleepers(1));  // a and b are asked for, c is dropped
    prefetcher.folderListed({listed("c"), listed("d"), listed("e"), listed("f")});
    for (int request = 0; request < 3; ++request) {
        ASSERT_TRUE(clock.waitForSleepers(1));
        EXPECT_FALSE(extension->lastProgress->isCancelled());
        clock.advance(std::chrono::seconds(30));  // each times out in turn
    }
    prefetcher.waitUntilIdle();
    ASSERT_EQ(extension->batches.size(), 3u);
    EXPECT_EQ(extension->batches[1], (std::vector<std::string>{"id-d", "id-e"}));
    EXPECT_EQ(extension->batches[2], std::vector<std::string>{"id-f"});
    EXPECT_TRUE(extension->lastProgress->isCancelled());
}

}  // namespace
}  // namespace cadrio::host
