#include "platform/host/content_cache.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/support/temporary_directory.hpp"

namespace cadrio::host {
namespace {

namespace fs = std::filesystem;

/// Only the content records; the cache needs nothing else.
class RecordsOnlyReplica final : public Replica {
  public:
    std::map<Inode, MaterialisedContent> records;

    bool wasRebuilt() const override { return false; }
    std::optional<ReplicaEntry> entry(Inode) const override { return std::nullopt; }
    std::optional<ReplicaEntry> entry(const fileprovider::ItemIdentifier&) const override {
        return std::nullopt;
    }
    std::optional<ReplicaEntry> child(Inode, std::string_view) const override {
        return std::nullopt;
    }
    std::vector<ReplicaEntry> children(Inode, Inode, std::size_t) const override { return {}; }
    Inode inodeOf(const fileprovider::ItemIdentifier&) override { return 0; }
    std::optional<fileprovider::SyncAnchor> anchor() const override { return std::nullopt; }
    std::vector<KernelNotice> apply(std::span<const fileprovider::ItemPtr>) override { return {}; }
    std::vector<KernelNotice> applyChanges(std::span<const fileprovider::ItemIdentifier>,
                                           std::span<const fileprovider::ItemPtr>,
                                           const fileprovider::SyncAnchor&) override {
        return {};
    }
    void beginRelisting() override {}
    std::vector<KernelNotice> finishRelisting(
        const std::optional<fileprovider::SyncAnchor>&) override {
        return {};
    }
    std::vector<KernelNotice> replaceChildren(Inode,
                                              std::span<const fileprovider::ItemPtr>) override {
        return {};
    }

    std::optional<MaterialisedContent> materialised(Inode inode) const override {
        const auto found = records.find(inode);
        if (found == records.end()) return std::nullopt;
        return found->second;
    }
    void recordMaterialised(const MaterialisedContent& content) override {
        records[content.inode] = content;
    }
    void forgetMaterialised(Inode inode) override { records.erase(inode); }
    std::vector<MaterialisedContent> materialisedByAge() const override {
        std::vector<MaterialisedContent> all;
        for (const auto& [inode, content] : records) all.push_back(content);
        std::stable_sort(all.begin(), all.end(),
                         [](const auto& a, const auto& b) { return a.lastUsed < b.lastUsed; });
        return all;
    }
};

void writeFile(const fs::path& path, std::size_t bytes) {
    std::ofstream(path) << std::string(bytes, 'x');
}

class ContentCacheTest : public ::testing::Test {
  protected:
    fs::path fetched(std::size_t bytes) {
        const fs::path path = cache->temporaryDirectory() / ("fetch-" + std::to_string(++fetches));
        writeFile(path, bytes);
        return path;
    }
    void adopt(Inode inode, std::size_t bytes, const std::string& version = "v1") {
        clock.advance(std::chrono::seconds(1));
        cache->adopt(inode, fetched(bytes), version);
    }
    std::set<Inode> cached() const {
        std::set<Inode> inodes;
        for (const auto& [inode, content] : replica.records) {
            if (fs::exists(directory.path() / "cache" / std::to_string(inode)))
                inodes.insert(inode);
        }
        return inodes;
    }

    TemporaryDirectory directory;
    RecordsOnlyReplica replica;
    VirtualClock clock;
    std::unique_ptr<ContentCache> cache;
    int fetches = 0;
};

TEST_F(ContentCacheTest, EvictsLeastRecentlyUsedContentsNoOneHolds) {
    struct Step {
        enum { adopt, lookup, hold, release } kind;
        Inode inode;
        std::size_t bytes = 0;
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
        std::set<Inode> remaining;
    };
    // Limit 100 bytes throughout.
    const Case cases[] = {
        {"oldest goes first",
         {{Step::adopt, 2, 40}, {Step::adopt, 3, 40}, {Step::adopt, 4, 40}},
         {3, 4}},
        {"a lookup makes it recent",
         {{Step::adopt, 2, 40}, {Step::adopt, 3, 40}, {Step::lookup, 2}, {Step::adopt, 4, 40}},
         {2, 4}},
        {"held is skipped",
         {{Step::adopt, 2, 40}, {Step::hold, 2}, {Step::adopt, 3, 40}, {Step::adopt, 4, 40}},
         {2, 4}},
        {"held stays even over the limit",
         {{Step::hold, 2}, {Step::adopt, 2, 90}, {Step::hold, 3}, {Step::adopt, 3, 90}},
         {2, 3}},
        {"the last release evicts",
         {{Step::hold, 2},
          {Step::hold, 2},
          {Step::adopt, 2, 90},
          {Step::hold, 3},
          {Step::adopt, 3, 90},
          {Step::release, 2},
          {Step::release, 2}},
         {3}},
        {"an adoption keeps its own content", {{Step::adopt, 2, 40}, {Step::adopt, 3, 150}}, {3}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        replica.records.clear();
        fs::remove_all(directory.path() / "cache");
        cache = std::make_unique<ContentCache>(directory.path() / "cache", replica, clock, 100);
        for (const Step& step : c.steps) {
            switch (step.kind) {
                case Step::adopt:
                    adopt(step.inode, step.bytes);
                    break;
                case Step::lookup:
                    clock.advance(std::chrono::seconds(1));
                    ASSERT_TRUE(cache->lookup(step.inode, "v1"));
                    break;
                case Step::hold:
                    cache->hold(step.inode);
                    break;
                case Step::release:
                    cache->release(step.inode);
                    break;
            }
        }
        EXPECT_EQ(cached(), c.remaining);
        std::int64_t expectedBytes = 0;
        for (const auto& [inode, content] : replica.records) expectedBytes += content.size;
        EXPECT_EQ(cache->usedBytes(), expectedBytes);
        EXPECT_EQ(replica.records.size(), c.remaining.size());
    }
}

TEST_F(ContentCacheTest, AChangedVersionDropsTheStaleCopy) {
    cache = std::make_unique<ContentCache>(directory.path() / "cache", replica, clock);
    adopt(7, 10, "v1");
    ASSERT_EQ(cache->lookup(7, "v1"), directory.path() / "cache" / "7");
    EXPECT_EQ(cache->lookup(7, "v2"), std::nullopt);
    EXPECT_FALSE(fs::exists(directory.path() / "cache" / "7"));
    EXPECT_EQ(cache->lookup(7, "v1"), std::nullopt);
    EXPECT_EQ(cache->usedBytes(), 0);

    adopt(7, 10, "v2");
    adopt(7, 25, "v3");  // replaces, counted once
    EXPECT_EQ(cache->usedBytes(), 25);
    EXPECT_EQ(replica.records.at(7).contentVersion, "v3");
    cache->drop(7);
    EXPECT_EQ(cache->usedBytes(), 0);
    EXPECT_TRUE(replica.records.empty());
}

TEST_F(ContentCacheTest, StartUpForgetsWhatFilesAndRecordsDoNotBothHold) {
    const fs::path folder = directory.path() / "cache";
    fs::create_directories(folder / "tmp");
    writeFile(folder / "3", 30);         // recorded, size corrected
    writeFile(folder / "4", 10);         // no record
    writeFile(folder / "03", 10);        // not a name of ours
    writeFile(folder / "tmp" / "x", 5);  // an interrupted fetch
    replica.records[3] = {3, "v", 12, clock.wallNow()};
    replica.records[5] = {5, "v", 12, clock.wallNow()};  // file gone

    cache = std::make_unique<ContentCache>(folder, replica, clock);

    std::set<std::string> names;
    for (const auto& file : fs::directory_iterator(folder))
        names.insert(file.path().filename().string());
    EXPECT_EQ(names, (std::set<std::string>{"3", "tmp"}));
    EXPECT_TRUE(fs::is_empty(folder / "tmp"));
    ASSERT_EQ(replica.records.size(), 1u);
    EXPECT_EQ(replica.records.at(3).size, 30);
    EXPECT_EQ(cache->usedBytes(), 30);
    EXPECT_EQ(cache->lookup(3, "v"), folder / "3");
}

TEST_F(ContentCacheTest, AFailedAdoptionLeavesNothingBehind) {
    cache = std::make_unique<ContentCache>(directory.path() / "cache", replica, clock);
    const fs::path notAFile = cache->temporaryDirectory() / "folder";
    fs::create_directory(notAFile);
    EXPECT_THROW(cache->adopt(9, notAFile, "v"), fs::filesystem_error);
    EXPECT_FALSE(fs::exists(directory.path() / "cache" / "9"));
    EXPECT_TRUE(replica.records.empty());
    EXPECT_EQ(cache->usedBytes(), 0);
}

}  // namespace
}  // namespace cadrio::host
