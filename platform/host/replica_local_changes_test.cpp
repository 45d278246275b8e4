#include <gtest/gtest.h>

#include <filesystem>

#include "platform/host/replica.hpp"
#include "platform/host/sqlite_statement.hpp"

namespace cadrio::host {
namespace {

using fileprovider::BasicItem;
using fileprovider::ItemIdentifier;
using fileprovider::ItemPtr;
using LC = LocalChange;

const fileprovider::Date kNow{std::chrono::seconds(1000)};

ItemPtr served(const std::string& id, const std::string& name, const std::string& parent = "",
               const std::string& content = "c1") {
    auto made = std::make_shared<BasicItem>();
    made->identifier = ItemIdentifier(id);
    made->parent = parent.empty() ? ItemIdentifier::rootContainer() : ItemIdentifier(parent);
    made->name = name;
    if (id.starts_with("d:")) made->type = types::ContentType::folder();
    made->size = 3;
    made->version = {content, "m-" + name};
    return made;
}

struct Queue {
    std::unique_ptr<Replica> replica = Replica::open(":memory:");
    Inode synced(const std::string& id, const std::string& name) {
        replica->apply(std::vector{served(id, name)});
        return replica->entry(ItemIdentifier(id))->inode;
    }
    Inode created(const char* name, bool queued = true) {
        return replica->createLocal(kFuseRootInode, name, false, kNow, queued).inode;
    }
    std::optional<std::pair<LC, LC>> bits(Inode inode) const {
        const auto record = replica->pendingChange(inode);
        if (!record) return std::nullopt;
        return std::pair{record->queued, record->sending};
    }
    /// An editor's save of "a" while its last change is being sent: the
    /// original moved aside to "a~", a new "a" written. Returns both.
    std::pair<Inode, Inode> backupSavedWhileSent() {
        const Inode file = synced("f:1", "a");
        replica->recordContentChange(file, 5, kNow);
        replica->beginSending(file);
        replica->renameLocal(file, kFuseRootInode, "a~", true);
        return {file, created("a")};
    }
    std::string idOf(Inode inode) const {
        const auto found = replica->entry(inode);
        return found ? found->identifier.rawValue() : "<absent>";
    }
};

struct ReplicaQueueTest : ::testing::Test, Queue {};

TEST_F(ReplicaQueueTest, ChangesOfOneItemMergeIntoOneRecord) {
    using Steps = std::function<Inode(Queue&)>;
    struct Case {
        const char* label;
        Steps steps;
        std::optional<std::pair<LC, LC>> expected;
    };
    const Case cases[] = {
        {"created then removed unsent: nothing",
         [](Queue& q) {
             const Inode made = q.created("n");
             q.replica->recordContentChange(made, 5, kNow);
             q.replica->removeLocal(made);
             return made;
         },
         std::nullopt},
        {"created, written: one creation",
         [](Queue& q) {
             const Inode made = q.created("n");
             q.replica->recordContentChange(made, 5, kNow);
             q.replica->renameLocal(made, kFuseRootInode, "m", false);
             return made;
         },
         std::pair{LC::creation, LC::none}},
        {"written then removed: deletion only",
         [](Queue& q) {
             const Inode file = q.synced("f:1", "a");
             q.replica->recordContentChange(file, 5, kNow);
             q.replica->renameLocal(file, kFuseRootInode, "b", false);
             q.replica->removeLocal(file);
             return file;
         },
         std::pair{LC::deletion, LC::none}},
        {"renamed and back: nothing",
         [](Queue& q) {
             const Inode file = q.synced("f:1", "a");
             q.replica->renameLocal(file, kFuseRootInode, "b", false);
             q.replica->renameLocal(file, kFuseRootInode, "a", false);
             return file;
         },
         std::nullopt},
        {"written while sending: queued after the answer",
         [](Queue& q) {
             const Inode file = q.synced("f:1", "a");
             q.replica->recordContentChange(file, 5, kNow);
             EXPECT_TRUE(q.replica->beginSending(file));
             q.replica->recordContentChange(file, 6, kNow);
             EXPECT_FALSE(q.replica->beginSending(file));  // one send per item
             q.replica->finishSending(file, served("f:1", "a", "", "c2"));
             EXPECT_EQ(q.replica->pendingChange(file)->baseVersion.contentVersion, "c2");
             EXPECT_EQ(q.replica->entry(file)->size, 6);  // the local size stays
             return file;
         },
         std::pair{LC::contents, LC::none}},
        {"renamed while its creation is sent, and back",
         [](Queue& q) {
             const Inode made = q.created("n");
             q.replica->renameLocal(made, kFuseRootInode, "m", false);
             q.replica->beginSending(made);
             q.replica->renameLocal(made, kFuseRootInode, "n", false);
             return made;
         },
         std::pair{LC::filename, LC::creation}},
        {"written, then gone from the drive: created anew",
         [](Queue& q) {
             const Inode file = q.synced("f:1", "a");
             q.replica->recordContentChange(file, 5, kNow);
             q.replica->beginSending(file);
             q.replica->forgetRemoteItem(file);
             EXPECT_TRUE(isProvisional(ItemIdentifier(q.idOf(file))));
             return file;
         },
         std::pair{LC::creation, LC::none}},
        {"renamed, then gone from the drive: gone here too",
         [](Queue& q) {
             const Inode file = q.synced("f:1", "a");
             q.replica->renameLocal(file, kFuseRootInode, "b", false);
             q.replica->forgetRemoteItem(file);
             EXPECT_FALSE(q.replica->entry(file));
             return file;
         },
         std::nullopt},
        {"creation refused, removed meanwhile: nothing",
         [](Queue& q) {
             const Inode made = q.created("n");
             q.replica->beginSending(made);
             q.replica->removeLocal(made);
             q.replica->failSending(made, "quota");
             return made;
         },
         std::nullopt},
        {"saved by backup while the original is sent: its answer goes to the new file",
         [](Queue& q) {
             const auto [file, made] = q.backupSavedWhileSent();
             q.replica->removeLocal(file);
             EXPECT_EQ(q.idOf(made), "f:1");
             q.replica->finishSending(file, served("f:1", "a", "", "c2"));
             EXPECT_EQ(q.replica->pendingChange(made)->baseVersion.contentVersion, "c2");
             return made;
         },
         std::pair{LC::contents, LC::none}},
        {"saved by backup while the original is sent, which fails: the new file goes",
         [](Queue& q) {
             const auto [file, made] = q.backupSavedWhileSent();
             q.replica->failSending(file, std::nullopt);
             EXPECT_EQ(q.replica->beginSending(made)->item.identifier.rawValue(), "f:1");
             return made;
         },
         std::pair{LC::none, LC::contents}},
        {"saved twice while the original is sent, which fails: the last file goes",
         [](Queue& q) {
             const auto [file, made] = q.backupSavedWhileSent();
             const Inode again = q.created("a.tmp");
             q.replica->renameLocal(again, kFuseRootInode, "a", false);
             EXPECT_EQ(q.idOf(again), "f:1");
             q.replica->failSending(file, std::nullopt);
             return again;
         },
         std::pair{LC::contents, LC::none}},
        {"saved by a rename over the original while it is sent: its answer goes to the new file",
         [](Queue& q) {
             const Inode file = q.synced("f:1", "a");
             q.replica->recordContentChange(file, 5, kNow);
             q.replica->beginSending(file);
             const Inode made = q.created("a.tmp");
             q.replica->renameLocal(made, kFuseRootInode, "a", false);
             EXPECT_EQ(q.idOf(made), "f:1");
             q.replica->finishSending(file, served("f:1", "a", "", "c2"));
             EXPECT_EQ(q.replica->pendingChange(made)->baseVersion.contentVersion, "c2");
             return made;
         },
         std::pair{LC::contents, LC::none}},
        {"renamed here, then saved by backup: the new file is it, renamed",
         [](Queue& q) {
             const Inode file = q.synced("f:1", "a");
             q.replica->renameLocal(file, kFuseRootInode, "b", false);
             q.replica->renameLocal(file, kFuseRootInode, "b~", true);
             const Inode made = q.created("b");
             q.replica->removeLocal(file);
             EXPECT_EQ(q.idOf(made), "f:1");
             return made;
         },
         std::pair{LC::contents | LC::filename, LC::none}},
        {"renamed here, removed, written anew under the new name: the new file is it",
         [](Queue& q) {
             const Inode file = q.synced("f:1", "a");
             q.replica->renameLocal(file, kFuseRootInode, "b", false);
             q.replica->removeLocal(file);
             const Inode made = q.created("b");
             EXPECT_EQ(q.idOf(made), "f:1");
             return made;
         },
         std::pair{LC::contents | LC::filename, LC::none}},
        {"answered after a change page deleted it: gone here too",
         [](Queue& q) {
             const Inode made = q.created("n");
             q.replica->beginSending(made);
             q.replica->applyChanges(std::vector{ItemIdentifier("f:9")}, {}, {"a2"});
             q.replica->finishSending(made, served("f:9", "n"));
             EXPECT_FALSE(q.replica->entry(made));
             return made;
         },
         std::nullopt},
        {"answered after a change page deleted it, written meanwhile: created anew",
         [](Queue& q) {
             const Inode made = q.created("n");
             q.replica->beginSending(made);
             q.replica->recordContentChange(made, 4, kNow);
             q.replica->applyChanges(std::vector{ItemIdentifier("f:9")}, {}, {"a2"});
             q.replica->finishSending(made, served("f:9", "n"));
             EXPECT_TRUE(isProvisional(ItemIdentifier(q.idOf(made))));
             return made;
         },
         std::pair{LC::creation, LC::none}},
        {"refused, then changed: tried again",
         [](Queue& q) {
             const Inode file = q.synced("f:1", "a");
             q.replica->renameLocal(file, kFuseRootInode, "b", false);
             q.replica->beginSending(file);
             q.replica->failSending(file, "quota");
             EXPECT_FALSE(q.replica->beginSending(file));
             q.replica->recordContentChange(file, 1, kNow);
             EXPECT_FALSE(q.replica->pendingChange(file)->refusal);
             return file;
         },
         std::pair{LC::filename | LC::contents, LC::none}},
    };
    for (const Case& c : cases) {
        Queue q;
        const Inode inode = c.steps(q);
        EXPECT_EQ(q.bits(inode), c.expected) << c.label;
    }
}

TEST_F(ReplicaQueueTest, ProvisionalIdentifiersGiveWayAndInodesStay) {
    const Inode folder = replica->createLocal(kFuseRootInode, "D", true, kNow, true).inode;
    const Inode file = replica->createLocal(folder, "x", false, kNow, true).inode;
    EXPECT_TRUE(isProvisional(ItemIdentifier(idOf(folder))));
    EXPECT_FALSE(replica->beginSending(file));  // its parent is not on the drive yet
    EXPECT_EQ(replica->pendingChanges().front().inode, folder);
    ASSERT_TRUE(replica->beginSending(folder));
    // A listing brings the new folder in before the answer: not shown twice.
    replica->apply(std::vector{served("d:9", "D"), served("f:5", "y", "d:9")});
    EXPECT_EQ(replica->children(kFuseRootInode, 0, 10).size(), 1u);
    replica->finishSending(folder, served("d:9", "D"));
    EXPECT_EQ(replica->entry(ItemIdentifier("d:9"))->inode, folder);
    EXPECT_EQ(replica->children(folder, 0, 10).size(), 2u) << "what the listing had inside comes along";
    const auto outgoing = replica->beginSending(file);
    ASSERT_TRUE(outgoing);
    EXPECT_EQ(outgoing->item.parent.rawValue(), "d:9");
    EXPECT_EQ(replica->children(kFuseRootInode, 0, 10).size(), 1u);
}

TEST_F(ReplicaQueueTest, AListingOfAnotherDevicesFileOfTheSameNameShowsOnceTheAnswerNamesAnother) {
    const Inode made = created("n");
    replica->beginSending(made);
    replica->apply(std::vector{served("f:8", "n")});
    EXPECT_EQ(replica->children(kFuseRootInode, 0, 10).size(), 1u);
    replica->finishSending(made, served("f:9", "n"));
    EXPECT_EQ(replica->children(kFuseRootInode, 0, 10).size(), 2u);
    EXPECT_TRUE(replica->entry(ItemIdentifier("f:8")));
}

TEST_F(ReplicaQueueTest, AnItemListedBeforeItsAnswerKeepsWhereTheListingSawIt) {
    synced("d:2", "B");
    for (const bool writtenMeanwhile : {false, true}) {
        const std::string id = writtenMeanwhile ? "f:10" : "f:9";
        const Inode made = created(writtenMeanwhile ? "w" : "n");
        replica->beginSending(made);
        if (writtenMeanwhile) replica->recordContentChange(made, 5, kNow);
        // Another device moved and edited it before the answer came in.
        replica->apply(std::vector{served(id, "n", "d:2", "c2")});
        replica->finishSending(made, served(id, "n"));
        const auto entry = replica->entry(made);
        ASSERT_TRUE(entry);
        EXPECT_EQ(entry->parentIdentifier.rawValue(), "d:2");
        EXPECT_EQ(entry->version.contentVersion, "c2");
        // Bytes written here on top of the sent ones do not know of the
        // other device's edit: they must meet it as a conflict.
        if (writtenMeanwhile) {
            EXPECT_EQ(replica->pendingChange(made)->baseVersion.contentVersion, "c1");
        }
    }
    EXPECT_EQ(replica->children(kFuseRootInode, 0, 10).size(), 1u) << "B alone, both files in it";
}

TEST_F(ReplicaQueueTest, AListedCopyTheUserChangedIsNotMergedAway) {
    synced("d:2", "B");
    const Inode made = created("n");
    replica->beginSending(made);
    replica->apply(std::vector{served("f:9", "n", "d:2")});
    const Inode listed = replica->entry(ItemIdentifier("f:9"))->inode;
    replica->recordContentChange(listed, 7, kNow);
    replica->finishSending(made, served("f:9", "n"));
    EXPECT_EQ(idOf(made), "f:9");
    EXPECT_EQ(replica->entry(listed)->size, 7);
    EXPECT_EQ(bits(listed), (std::pair{LC::creation, LC::none}));
}

TEST_F(ReplicaQueueTest, AFolderIsDeletedOnlyOnceWhatWasMovedOutOfItOrDeletedHasGone) {
    for (const bool moved : {true, false}) {
        replica = Replica::open(":memory:");
        replica->apply(std::vector{served("d:1", "D"), served("f:2", "a", "d:1")});
        const Inode folder = replica->entry(ItemIdentifier("d:1"))->inode;
        const Inode file = replica->entry(ItemIdentifier("f:2"))->inode;
        if (moved) {
            replica->renameLocal(file, kFuseRootInode, "a", false);
        } else {
            replica->removeLocal(file);
        }
        replica->removeLocal(folder);
        EXPECT_FALSE(replica->beginSending(folder)) << "D is not empty on the drive yet";
        ASSERT_TRUE(replica->beginSending(file));
        replica->finishSending(file, moved ? served("f:2", "a") : nullptr);
        EXPECT_TRUE(replica->beginSending(folder));
    }
}

TEST_F(ReplicaQueueTest, AnAnswerNamingAFolderTheDriveDeletedLeavesTheItemWhereItIsHere) {
    replica->apply(std::vector{served("d:1", "D"), served("f:2", "a", "d:1")});
    const Inode folder = replica->entry(ItemIdentifier("d:1"))->inode;
    const Inode file = replica->entry(ItemIdentifier("f:2"))->inode;
    replica->recordContentChange(file, 5, kNow);
    ASSERT_TRUE(replica->beginSending(file));
    // Another device trashes D while the contents are on their way: D stays
    // for the file, as a folder to create again.
    const std::vector<ItemIdentifier> deleted{ItemIdentifier("d:1")};
    replica->applyChanges(deleted, {}, fileprovider::SyncAnchor{"v3:2"});
    replica->finishSending(file, served("f:2", "a", "d:1", "c2"));
    EXPECT_EQ(replica->entry(file)->parentInode, folder);
    EXPECT_TRUE(replica->entry(folder));
}

TEST_F(ReplicaQueueTest, ACreationWhoseAnswerWasLostGoesAgainUnderItsFirstNameThenTheRename) {
    replica->apply(std::vector{served("d:1", "D")});
    const Inode folder = replica->entry(ItemIdentifier("d:1"))->inode;
    const Inode made = replica->createLocal(kFuseRootInode, "a", false, kNow, true).inode;
    ASSERT_TRUE(replica->beginSending(made));
    replica->failSending(made, std::nullopt);
    replica->renameLocal(made, folder, "b", false);
    const auto again = replica->beginSending(made);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->item.name, "a") << "where the plug-in finds the lost attempt";
    EXPECT_EQ(again->item.parent, ItemIdentifier::rootContainer());
    replica->apply(std::vector{served("f:9", "a")});
    EXPECT_FALSE(replica->child(kFuseRootInode, "a")) << "the attempt listed while it goes again is not shown";
    replica->finishSending(made, served("f:9", "a"));
    EXPECT_EQ(replica->entry(made)->name, "b");
    const auto move = replica->beginSending(made);
    ASSERT_TRUE(move);
    EXPECT_EQ(move->change.sending, LC::filename | LC::parent);
    EXPECT_EQ(move->item.name, "b");
    EXPECT_EQ(move->item.parent, ItemIdentifier("d:1"));
}

TEST_F(ReplicaQueueTest, ACreationWhoseAnswerWasLostAndThatWasRemovedHereDeletesWhatItLeftOnTheDrive) {
    // Renamed and removed here after the answer was lost, or while the
    // attempt was still on its way (an editor's save over it).
    enum class Listed { beforeRemoval, afterRemoval, never };
    for (const bool whileOnItsWay : {false, true})
    for (const Listed listed : {Listed::beforeRemoval, Listed::afterRemoval, Listed::never}) {
        SCOPED_TRACE(testing::Message() << "on its way " << whileOnItsWay << ", listed " << int(listed));
        replica = Replica::open(":memory:");
        const Inode made = replica->createLocal(kFuseRootInode, "a", false, kNow, true).inode;
        ASSERT_TRUE(replica->beginSending(made));
        if (!whileOnItsWay) replica->failSending(made, std::nullopt);
        replica->renameLocal(made, kFuseRootInode, "b", false);
        if (listed == Listed::beforeRemoval) replica->apply(std::vector{served("f:9", "a")});
        replica->removeLocal(made);
        if (listed == Listed::afterRemoval) replica->apply(std::vector{served("f:9", "a")});
        if (whileOnItsWay) replica->failSending(made, std::nullopt);
        EXPECT_FALSE(replica->child(kFuseRootInode, "a")) << "the lost attempt is not shown";
        const auto deletion = replica->beginSending(made);
        if (listed == Listed::never) {
            EXPECT_FALSE(deletion);
            EXPECT_EQ(replica->pendingCount(), 0u);
            continue;
        }
        ASSERT_TRUE(deletion);
        EXPECT_EQ(deletion->change.sending, LC::deletion);
        EXPECT_EQ(deletion->item.identifier, ItemIdentifier("f:9"));
    }
}

TEST_F(ReplicaQueueTest, ASaveOverACreationWhoseAnswerWasLostGoesInItsStead) {
    // Deleted, what the attempt left would take another device's edit of
    // it to the trash: the saved file is that creation, then a new version.
    const Inode made = created("a");
    ASSERT_TRUE(replica->beginSending(made));
    replica->failSending(made, std::nullopt);
    const Inode saved = replica->createLocal(kFuseRootInode, ".goutputstream-1", false, kNow, false).inode;
    replica->renameLocal(saved, kFuseRootInode, "a", false);
    EXPECT_FALSE(replica->entry(made));
    EXPECT_FALSE(replica->pendingChange(made));
    const auto again = replica->beginSending(saved);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->change.sending, LC::creation);
    EXPECT_TRUE(again->change.mayAlreadyExist);
    replica->finishSending(saved, served("f:9", "a"));
    EXPECT_EQ(bits(saved), (std::pair{LC::contents, LC::none}));
    EXPECT_EQ(idOf(saved), "f:9");
}

TEST_F(ReplicaQueueTest, ARenameOverAFileOfTheDriveWaitsForItsDeletion) {
    const Inode a = synced("f:a", "a.txt");
    const Inode b = synced("f:b", "b.txt");
    replica->renameLocal(a, kFuseRootInode, "b.txt", false);
    EXPECT_FALSE(replica->beginSending(a)) << "b.txt still holds the name on the drive";
    ASSERT_TRUE(replica->beginSending(b));
    replica->finishSending(b, nullptr);
    EXPECT_TRUE(replica->beginSending(a));
}

TEST_F(ReplicaQueueTest, EnumerationsLeaveChangedAndLocalItemsAlone) {
    replica->apply(std::vector{served("d:1", "D"), served("f:2", "kept", "d:1"),
                               served("f:3", "gone", "d:1")});
    const Inode kept = replica->entry(ItemIdentifier("f:2"))->inode;
    replica->renameLocal(kept, kFuseRootInode, "renamed", false);
    const Inode scratch = replica->createLocal(kFuseRootInode, "x.swp", false, kNow, false).inode;
    replica->apply(std::vector{served("f:2", "server name", "d:1", "c9")});
    EXPECT_EQ(replica->entry(kept)->name, "renamed");
    replica->beginRelisting();
    replica->finishRelisting(fileprovider::SyncAnchor{"a"});
    EXPECT_TRUE(replica->entry(kept));
    EXPECT_TRUE(replica->entry(scratch));

    replica->apply(std::vector{served("d:4", "E"), served("f:5", "f", "d:4")});
    const Inode e = replica->entry(ItemIdentifier("d:4"))->inode;
    const Inode f = replica->entry(ItemIdentifier("f:5"))->inode;
    replica->recordContentChange(f, 1, kNow);
    const std::vector<ItemIdentifier> deleted{ItemIdentifier("d:4")};
    replica->applyChanges(deleted, {}, {"b"});
    EXPECT_TRUE(replica->entry(e));  // still holds a changed file
    EXPECT_TRUE(replica->entry(f));
    // ... and goes up to the drive again, so that the file has a place there.
    EXPECT_EQ(idOf(e).rfind("cadrio-local:", 0), 0u);
    EXPECT_EQ(bits(e), (std::pair{LC::creation, LC::none}));
    EXPECT_EQ(replica->entry(f)->parentIdentifier.rawValue(), idOf(e));
    EXPECT_EQ(replica->takeRequeued(), std::vector<Inode>{e}) << "the uploader must hear of it";
    EXPECT_TRUE(replica->takeRequeued().empty());
}

struct ReplicaQueueFileTest : ::testing::Test {
    std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("queue-" + std::to_string(::getpid()) + ".db");
    void TearDown() override {
        for (const char* suffix : {"", "-wal", "-shm"})
            std::filesystem::remove(path.string() + suffix);
    }
};

TEST_F(ReplicaQueueFileTest, ARestartResendsAndAnOlderReplicaIsUpgraded) {
    Inode made = 0;
    {
        auto replica = Replica::open(path);
        replica->apply(std::vector{served("f:1", "a")});
        made = replica->createLocal(kFuseRootInode, "n", false, kNow, true).inode;
        replica->beginSending(made);
    }
    {
        auto replica = Replica::open(path);
        EXPECT_EQ(replica->resumeSending(kNow, std::chrono::seconds(10)), std::vector{made});
        const auto record = replica->pendingChange(made);
        ASSERT_TRUE(record);
        EXPECT_EQ(record->queued, LC::creation);
        EXPECT_TRUE(record->mayAlreadyExist);
    }
    // Stopped again while it waited for the first host's request to land:
    // the next start waits too, until the window is over.
    for (const auto& [after, stillInDoubt] : {std::pair{3, true}, std::pair{12, false}}) {
        auto replica = Replica::open(path);
        EXPECT_EQ(replica->resumeSending(kNow + std::chrono::seconds(after), std::chrono::seconds(10)).size(),
                  stillInDoubt ? 1u : 0u)
            << after << " s later";
    }
    {
        // The previous layout keeps its queue.
        sqlite::Connection older(path.string());
        older.execute(
            "ALTER TABLE pending DROP COLUMN aside_name; ALTER TABLE pending DROP COLUMN "
            "aside_parent; PRAGMA user_version = 2;");
    }
    EXPECT_EQ(Replica::open(path)->pendingCount(), 1u);
    {
        sqlite::Connection older(path.string());
        older.execute(
            "DROP TABLE pending; PRAGMA user_version = 1;");
    }
    auto replica = Replica::open(path);
    EXPECT_FALSE(replica->wasRebuilt());
    EXPECT_TRUE(replica->entry(ItemIdentifier("f:1")));
    EXPECT_EQ(replica->pendingCount(), 0u);
    replica->renameLocal(replica->entry(ItemIdentifier("f:1"))->inode, kFuseRootInode, "b", false);
    EXPECT_EQ(replica->pendingCount(), 1u);
}

}  // namespace
}  // namespace cadrio::host
