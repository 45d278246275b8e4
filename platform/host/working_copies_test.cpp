#include "platform/host/working_copies.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "core/support/temporary_directory.hpp"

namespace cadrio::host {
namespace {

namespace fs = std::filesystem;

std::string bytesOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}
void write(const fs::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

class WorkingCopiesTest : public ::testing::Test {
protected:
    TemporaryDirectory directory{"working-copies"};
    std::unique_ptr<WorkingCopies> copies = std::make_unique<WorkingCopies>(directory / "copies");
    static constexpr Inode kFile = 42;
};

TEST_F(WorkingCopiesTest, FirstWriterCopiesItsSourceOrStartsEmpty) {
    write(directory / "cached", "server bytes");
    struct Case {
        std::optional<fs::path> source;
        bool truncate;
        std::string expected;
    };
    const Case cases[] = {{directory / "cached", false, "server bytes"},
                          {directory / "cached", true, ""},
                          {std::nullopt, false, ""}};
    Inode inode = 1;
    for (const Case& c : cases) {
        const fs::path copy = copies->beginWriting(inode, c.source, c.truncate);
        EXPECT_EQ(bytesOf(copy), c.expected) << "inode " << inode;
        EXPECT_EQ(copies->localContents(inode), copy);
        ++inode;
    }
    EXPECT_EQ(bytesOf(directory / "cached"), "server bytes") << "the source is never written";
    EXPECT_THROW(copies->beginWriting(9, directory / "missing", false), fs::filesystem_error)
        << "an unreadable source must not become an empty file";
    EXPECT_FALSE(copies->isBeingWritten(9));
}

TEST_F(WorkingCopiesTest, FreezeWaitsForTheLastWriterAndLaterWritersCopyTheFrozenBytes) {
    const fs::path copy = copies->beginWriting(kFile, std::nullopt, false);
    copies->beginWriting(kFile, std::nullopt, false);
    write(copy, "v1");
    EXPECT_FALSE(copies->endWriting(kFile));
    EXPECT_FALSE(copies->freeze(kFile)) << "still written";
    EXPECT_TRUE(copies->endWriting(kFile));

    const auto frozen = copies->freeze(kFile);
    ASSERT_TRUE(frozen);
    EXPECT_EQ(copies->localContents(kFile), frozen);
    const fs::path next = copies->beginWriting(kFile, std::nullopt, false);
    EXPECT_EQ(bytesOf(next), "v1");
    write(next, "v2");
    EXPECT_EQ(bytesOf(*frozen), "v1") << "a write never changes bytes being sent";

    // The send failed: the newer working copy wins.
    copies->unfreeze(kFile);
    EXPECT_EQ(bytesOf(*copies->localContents(kFile)), "v2");
    EXPECT_FALSE(fs::exists(*frozen));
}

TEST_F(WorkingCopiesTest, UnfreezeWithoutNewerCopyBringsTheBytesBack) {
    write(copies->beginWriting(kFile, std::nullopt, false), "only");
    copies->endWriting(kFile);
    ASSERT_TRUE(copies->freeze(kFile));
    copies->unfreeze(kFile);
    EXPECT_EQ(bytesOf(*copies->localContents(kFile)), "only");
    EXPECT_FALSE(copies->freeze(7)) << "no local contents";
}

TEST_F(WorkingCopiesTest, RecoverKeepsTheNewestBytesLeftByACrash) {
    // 1: crash while sending, nothing newer; 2: crash while sending with a
    // newer working copy; 3: crash while a working copy was being filled;
    // 4: as 2, for a creation that may be on the drive already; 5: as 1,
    // for such a creation, written again after the restart.
    for (const Inode inode : {Inode{1}, Inode{2}, Inode{4}, Inode{5}}) {
        write(copies->beginWriting(inode, std::nullopt, false), inode == 1 ? "sending" : "old");
        copies->endWriting(inode);
        copies->freeze(inode);
    }
    for (const Inode inode : {Inode{2}, Inode{4}}) write(copies->beginWriting(inode, std::nullopt, false), "newer");
    write(directory / "copies" / "staged" / "3.new", "half");

    copies = std::make_unique<WorkingCopies>(directory / "copies");
    copies->recover({4, 5});
    write(copies->beginWriting(5, std::nullopt, false), "written after");
    copies->endWriting(5);
    EXPECT_EQ(bytesOf(*copies->localContents(1)), "sending");
    EXPECT_EQ(bytesOf(*copies->localContents(2)), "newer");
    EXPECT_FALSE(copies->localContents(3));
    EXPECT_EQ(bytesOf(*copies->localContents(4)), "newer");
    EXPECT_EQ(bytesOf(*copies->sentAgain(4)), "old");
    EXPECT_EQ(bytesOf(*copies->localContents(5)), "written after");
    EXPECT_EQ(bytesOf(*copies->sentAgain(5)), "old") << "the attempt goes again with its own bytes";
    EXPECT_EQ(std::distance(fs::directory_iterator(directory / "copies" / "uploading"), {}), 2);
    EXPECT_FALSE(fs::exists(directory / "copies" / "staged" / "3.new"));
}

TEST_F(WorkingCopiesTest, KeptSentBytesGoToTheFileThatTookTheirPlaceWithoutItsOwnCopy) {
    write(copies->beginWriting(1, std::nullopt, false), "first");
    copies->endWriting(1);
    ASSERT_TRUE(copies->freeze(1));
    copies->keepSent(1);
    write(copies->beginWriting(2, std::nullopt, false), "saved");
    copies->endWriting(2);
    copies->handOverSent(1, 2);
    copies->discard(1);
    EXPECT_EQ(bytesOf(*copies->localContents(2)), "saved");
    EXPECT_EQ(bytesOf(*copies->sentAgain(2)), "first");
}

TEST_F(WorkingCopiesTest, UploadedBytesBecomeTheCachedContents) {
    VirtualClock clock;
    std::unique_ptr<Replica> replica = Replica::open(":memory:");
    ContentCache cache(directory / "cache", *replica, clock);
    write(copies->beginWriting(kFile, std::nullopt, false), "sent");
    copies->endWriting(kFile);
    ASSERT_TRUE(copies->freeze(kFile));
    copies->uploaded(kFile, cache, "c9");
    EXPECT_FALSE(copies->localContents(kFile));
    const auto cached = cache.lookup(kFile, "c9");
    ASSERT_TRUE(cached);
    EXPECT_EQ(bytesOf(*cached), "sent");
}

TEST_F(WorkingCopiesTest, ACopyOfTheSentBytesThatNobodyChangedGoesWithThem) {
    // Opened for writing while its bytes are on their way, then closed:
    // left behind, the copy would hide every later version of the file.
    VirtualClock clock;
    std::unique_ptr<Replica> replica = Replica::open(":memory:");
    ContentCache cache(directory / "cache", *replica, clock);
    struct Case {
        bool changed;
        bool keptAsConflictCopy;
        bool stays;
    };
    const Case cases[] = {{false, false, false}, {true, false, true}, {false, true, false}, {true, true, true}};
    Inode inode = 1;
    for (const Case& c : cases) {
        write(copies->beginWriting(inode, std::nullopt, false), "sent");
        copies->endWriting(inode);
        ASSERT_TRUE(copies->freeze(inode));
        const fs::path copy = copies->beginWriting(inode, std::nullopt, false);
        if (c.changed) write(copy, "newer");
        copies->endWriting(inode, c.changed);
        const bool newer = c.keptAsConflictCopy ? copies->dropSent(inode) : c.stays;
        if (!c.keptAsConflictCopy) copies->uploaded(inode, cache, "v");
        EXPECT_EQ(newer, c.stays) << "inode " << inode;
        EXPECT_EQ(copies->localContents(inode).has_value(), c.stays) << "inode " << inode;
        ++inode;
    }
}

}  // namespace
}  // namespace cadrio::host
