#include "platform/host/change_uploader.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <map>
#include <future>
#include <mutex>
#include <set>

#include "core/support/temporary_directory.hpp"

namespace cadrio::host {
namespace {

namespace fs = std::filesystem;
using fileprovider::BasicItem;
using fileprovider::Error;
using fileprovider::ItemFields;
using fileprovider::ItemIdentifier;
using fileprovider::ItemPtr;
using fileprovider::Progress;
using namespace std::chrono_literals;

/// A folder's listing, or the working set's: no change since any anchor.
struct Listing final : fileprovider::Enumerator {
    void invalidate() override {}
    void enumerateItems(std::shared_ptr<fileprovider::EnumerationObserver> observer, fileprovider::Page) override {
        observer->didEnumerate(items);
        observer->finishEnumerating(std::nullopt);
    }
    void enumerateChanges(std::shared_ptr<fileprovider::ChangeObserver> observer,
                          fileprovider::SyncAnchor anchor) override {
        observer->finishEnumeratingChanges(anchor, false);
    }
    std::vector<ItemPtr> items;
};

/// Records each creation, modification and deletion; the test answers them.
class UploadingExtension final : public fileprovider::ReplicatedExtension {
public:
    struct Call {
        enum Kind { create, modify, remove } kind;
        BasicItem item;
        ItemFields fields;
        std::string contents;  // the bytes handed over, read at call time
        bool mayAlreadyExist = false;
        Clock::TimePoint at;
        ItemChangeCompletion answer;
        DeleteCompletion answerDeletion;
        std::string baseContentVersion;  // of a modification
        bool recursive = false;          // of a deletion
    };

    explicit UploadingExtension(Clock& clock) : clock_(clock) {}

    std::shared_ptr<Progress> item(const ItemIdentifier& identifier, const fileprovider::Request&,
                                   ItemCompletion completion) override {
        ItemPtr known;
        bool unreachable = false;
        {
            std::lock_guard lock(mutex_);
            unreachable = unreachable_;
            if (const auto found = items_.find(identifier.rawValue()); found != items_.end()) known = found->second;
        }
        if (unreachable) {
            completion(nullptr, Error::serverUnreachable());
        } else {
            known ? completion(known, std::nullopt) : completion(nullptr, Error::noSuchItem());
        }
        return Progress::create();
    }
    std::shared_ptr<Progress> deleteItem(const ItemIdentifier& identifier, const fileprovider::ItemVersion&,
                                         fileprovider::DeleteItemOptions options, const fileprovider::Request&,
                                         DeleteCompletion completion) override {
        BasicItem item;
        item.identifier = identifier;
        Call call{Call::remove, item, ItemFields::none, "", false, clock_.now(), {}, std::move(completion), {}};
        call.recursive = contains(options, fileprovider::DeleteItemOptions::recursive);
        return record(std::move(call));
    }
    /// What item() answers for `identifier` from now on.
    void knows(ItemPtr item) {
        std::lock_guard lock(mutex_);
        items_[item->itemIdentifier().rawValue()] = std::move(item);
        unreachable_ = false;
        changesLost_ = false;
    }
    /// item() and folder listings fail until the next knows(); the working
    /// set too when `changesToo`.
    void loseTheDrive(bool changesToo = false) {
        std::lock_guard lock(mutex_);
        unreachable_ = true;
        changesLost_ = changesToo;
    }
    /// Folder listings hold what item() knows under them; changes are not
    /// kept.
    std::shared_ptr<fileprovider::Enumerator> enumerator(const ItemIdentifier& container,
                                                         const fileprovider::Request&) override {
        std::lock_guard lock(mutex_);
        if (container.isWorkingSet()) {
            if (changesLost_) throw fileprovider::ErrorException(Error::serverUnreachable());
            return std::make_shared<Listing>();
        }
        ++listings_;
        called_.notify_all();
        if (unreachable_) throw fileprovider::ErrorException(Error::serverUnreachable());
        auto listing = std::make_shared<Listing>();
        for (const auto& [identifier, item] : items_) {
            if (item->parentItemIdentifier() == container) listing->items.push_back(item);
        }
        return listing;
    }
    std::shared_ptr<Progress> createItem(ItemPtr item, ItemFields fields, const std::optional<fs::path>& contents,
                                         fileprovider::CreateItemOptions options, const fileprovider::Request&,
                                         ItemChangeCompletion completion) override {
        return record({Call::create, BasicItem::copyOf(*item), fields, read(contents),
                       contains(options, fileprovider::CreateItemOptions::mayAlreadyExist), clock_.now(),
                       std::move(completion), {}, {}});
    }
    std::shared_ptr<Progress> modifyItem(ItemPtr item, const fileprovider::ItemVersion& base, ItemFields fields,
                                         const std::optional<fs::path>& contents, fileprovider::ModifyItemOptions,
                                         const fileprovider::Request&, ItemChangeCompletion completion) override {
        return record({Call::modify, BasicItem::copyOf(*item), fields, read(contents), false, clock_.now(),
                       std::move(completion), {}, base.contentVersion});
    }

    Call waitForCall(std::size_t index) {
        std::unique_lock lock(mutex_);
        // Bounded in real time so that a fault fails the test instead of hanging it.
        if (!called_.wait_for(lock, 10s, [&] { return calls_.size() > index; })) {
            ADD_FAILURE() << "no call " << index;
            return {};
        }
        return calls_[index];
    }
    /// Waits (bounded in real time) for the count-th folder listing.
    bool waitForListing(std::size_t count) {
        std::unique_lock lock(mutex_);
        return called_.wait_for(lock, 10s, [&] { return listings_ >= count; });
    }
    std::size_t callCount() {
        std::lock_guard lock(mutex_);
        return calls_.size();
    }
    std::size_t listingCount() {
        std::lock_guard lock(mutex_);
        return listings_;
    }

private:
    static std::string read(const std::optional<fs::path>& file) {
        if (!file) return "<none>";
        std::ifstream in(*file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    std::shared_ptr<Progress> record(Call call) {
        std::lock_guard lock(mutex_);
        calls_.push_back(std::move(call));
        called_.notify_all();
        return Progress::create(100);
    }

    Clock& clock_;
    std::mutex mutex_;
    std::condition_variable called_;
    std::vector<Call> calls_;
    std::map<std::string, ItemPtr> items_;
    bool unreachable_ = false;
    bool changesLost_ = false;
    std::size_t listings_ = 0;
};

struct Refusals final : UploadObserver {
    void refused(const std::string& path, const Error& error) override {
        std::lock_guard lock(mutex);
        paths.push_back(path + ": " + std::to_string(error.code));
    }
    void pendingChanged(std::size_t) override {}
    std::mutex mutex;
    std::vector<std::string> paths;
};

struct DroppingSink final : NoticeSink {
    void post(std::vector<KernelNotice>) override {}
};

ItemPtr answerItem(const std::string& identifier, const std::string& name, const std::string& contentVersion,
                   const ItemIdentifier& parent = ItemIdentifier::rootContainer()) {
    auto item = std::make_shared<BasicItem>();
    item->identifier = ItemIdentifier(identifier);
    item->parent = parent;
    item->name = name;
    item->size = 0;
    item->version = {contentVersion, "m-" + contentVersion};
    return item;
}

ItemPtr folderAnswer(const std::string& identifier, const std::string& name) {
    auto item = std::make_shared<BasicItem>();
    item->identifier = ItemIdentifier(identifier);
    item->name = name;
    item->type = types::ContentType::folder();
    return item;
}

class ChangeUploaderTest : public ::testing::Test {
protected:
    ChangeUploaderTest() { replica->applyChanges({}, {}, fileprovider::SyncAnchor{"a0"}); }
    void TearDown() override { uploader.reset(); }

    void makeUploader(unsigned concurrency = 2, const std::vector<Inode>& leftInFlight = {}) {
        ChangeUploader::Options options;
        options.concurrency = concurrency;
        uploader = std::make_unique<ChangeUploader>(extension, *replica, copies, cache, engine, notices, refusals,
                                                    clock, options);
        uploader->start(leftInFlight);
    }
    /// A new file under `parent` whose writer wrote `bytes` and closed it.
    Inode newFile(Inode parent, const std::string& name, const std::string& bytes) {
        const Inode inode = replica->createLocal(parent, name, false, clock.wallNow(), true).inode;
        write(inode, bytes);
        return inode;
    }
    void write(Inode inode, const std::string& bytes) {
        std::ofstream(copies.beginWriting(inode, std::nullopt, true), std::ios::binary) << bytes;
        replica->recordContentChange(inode, static_cast<std::int64_t>(bytes.size()), clock.wallNow());
        copies.endWriting(inode);
        if (uploader) uploader->changed(inode);
    }
    /// f:1, its bytes cached, renamed here from a.txt to b.txt and due.
    void renameCachedFile() {
        makeUploader();
        replica->apply(std::vector{answerItem("f:1", "a.txt", "v1")});
        const Inode file = replica->entry(ItemIdentifier("f:1"))->inode;
        std::ofstream(cache.temporaryDirectory() / "fetched", std::ios::binary) << "cached";
        cache.adopt(file, cache.temporaryDirectory() / "fetched", "v1");
        replica->renameLocal(file, kFuseRootInode, "b.txt", false);
        uploader->changed(file);
        clock.advance(500ms);
    }
    /// The first send fails as if its answer were lost; the retry is due.
    void loseTheFirstAnswer() {
        extension->waitForCall(0).answer(nullptr, ItemFields::none, false, Error::serverUnreachable());
        waitIdle();
        ASSERT_TRUE(clock.waitForSleepers(1));
        clock.advance(1s);
    }
    void waitIdle() {
        std::promise<void> idle;
        uploader->whenIdle([&] { idle.set_value(); });
        ASSERT_EQ(idle.get_future().wait_for(10s), std::future_status::ready);
    }

    VirtualClock clock;
    TemporaryDirectory directory{"change-uploader"};
    std::unique_ptr<Replica> replica = Replica::open(":memory:");
    WorkingCopies copies{directory / "copies"};
    ContentCache cache{directory / "cache", *replica, clock};
    DroppingSink notices;
    Refusals refusals;
    std::shared_ptr<UploadingExtension> extension = std::make_shared<UploadingExtension>(clock);
    SyncEngine engine{extension, *replica, notices, clock};
    std::unique_ptr<ChangeUploader> uploader;
};

TEST_F(ChangeUploaderTest, ItemsGoConcurrentlyOldestFirstAndTenRewritesGoOnce) {
    makeUploader(2);
    const Inode a = newFile(kFuseRootInode, "a.txt", "a");
    const Inode b = newFile(kFuseRootInode, "b.txt", "b");
    const Inode c = newFile(kFuseRootInode, "c.txt", "c");
    for (int i = 0; i < 10; ++i) write(a, "a" + std::to_string(i));
    clock.advance(500ms);

    const auto first = extension->waitForCall(0);
    const auto second = extension->waitForCall(1);
    std::set<std::string> names{first.item.name, second.item.name};
    EXPECT_EQ(names, (std::set<std::string>{"a.txt", "b.txt"})) << "oldest records first, two at once";
    EXPECT_EQ(extension->callCount(), 2u);
    const auto& sentA = first.item.name == "a.txt" ? first : second;
    EXPECT_EQ(sentA.contents, "a9") << "the last bytes, once";
    EXPECT_TRUE(contains(sentA.fields, ItemFields::contents));

    first.answer(answerItem("id:" + first.item.name, first.item.name, "v1"), ItemFields::none, false, std::nullopt);
    const auto third = extension->waitForCall(2);
    EXPECT_EQ(third.item.name, "c.txt");
    second.answer(answerItem("id:b", "b.txt", "v1"), ItemFields::none, false, std::nullopt);
    third.answer(answerItem("id:c", "c.txt", "v1"), ItemFields::none, false, std::nullopt);
    waitIdle();
    EXPECT_EQ(extension->callCount(), 3u);
    EXPECT_EQ(replica->pendingCount(), 0u);
    EXPECT_FALSE(copies.localContents(b)) << "sent bytes become the cached contents";
    EXPECT_TRUE(cache.lookup(c, "v1"));
}

TEST_F(ChangeUploaderTest, AChildWaitsForItsFolderToBeCreated) {
    makeUploader();
    const Inode folder = replica->createLocal(kFuseRootInode, "Docs", true, clock.wallNow(), true).inode;
    uploader->changed(folder);
    newFile(folder, "note.txt", "n");
    uploader->changed(replica->child(folder, "note.txt")->inode);
    clock.advance(500ms);

    const auto creation = extension->waitForCall(0);
    EXPECT_EQ(creation.item.name, "Docs");
    creation.answer(answerItem("d:1", "Docs", ""), ItemFields::none, false, std::nullopt);
    const auto child = extension->waitForCall(1);
    EXPECT_EQ(child.item.name, "note.txt");
    EXPECT_EQ(child.item.parent, ItemIdentifier("d:1"));
}

TEST_F(ChangeUploaderTest, ACreationWhoseFolderLeftTheDriveCreatesTheFolderAgainFirst) {
    makeUploader();
    const Inode folder = replica->createLocal(kFuseRootInode, "Docs", true, clock.wallNow(), true).inode;
    uploader->changed(folder);
    clock.advance(500ms);
    extension->waitForCall(0).answer(answerItem("d:1", "Docs", ""), ItemFields::none, false, std::nullopt);
    newFile(folder, "note.txt", "n");
    clock.advance(500ms);

    // Another device trashed the folder meanwhile: no attempt again at once.
    const auto first = extension->waitForCall(1);
    EXPECT_EQ(first.item.name, "note.txt");
    first.answer(nullptr, ItemFields::none, false, Error::noSuchItem());
    ASSERT_TRUE(clock.waitForSleepers(1));
    EXPECT_EQ(extension->callCount(), 2u);
    // The working set brings the deletion; the folder goes up again first.
    const std::vector<ItemIdentifier> deleted{ItemIdentifier("d:1")};
    replica->applyChanges(deleted, {}, {"b"});
    clock.advance(1s);
    const auto again = extension->waitForCall(2);
    EXPECT_EQ(again.kind, UploadingExtension::Call::create);
    EXPECT_EQ(again.item.name, "Docs");
    again.answer(answerItem("d:2", "Docs", ""), ItemFields::none, false, std::nullopt);
    const auto child = extension->waitForCall(3);
    EXPECT_EQ(child.item.name, "note.txt");
    EXPECT_EQ(child.item.parent, ItemIdentifier("d:2"));
    EXPECT_EQ(child.contents, "n");
}

TEST_F(ChangeUploaderTest, AFolderDeletionThatFindsOnTheDriveWhatAnotherDevicePutThereBringsTheFolderBack) {
    makeUploader();
    const ItemPtr served = folderAnswer("d:1", "D");
    replica->apply(std::vector{served});
    const Inode folder = replica->entry(ItemIdentifier("d:1"))->inode;
    replica->removeLocal(folder);
    uploader->changed(folder);
    clock.advance(500ms);
    const auto deletion = extension->waitForCall(0);
    EXPECT_EQ(deletion.kind, UploadingExtension::Call::remove);
    EXPECT_FALSE(deletion.recursive) << "the trash would take along what nobody here has seen";
    extension->knows(served);
    deletion.answerDeletion(Error::posix(ENOTEMPTY));
    waitIdle();
    EXPECT_EQ(replica->pendingCount(), 0u);
    const std::optional<ReplicaEntry> back = replica->child(kFuseRootInode, "D");
    ASSERT_TRUE(back);
    EXPECT_EQ(back->inode, folder) << "what the drive holds in it lands under it";
}

TEST_F(ChangeUploaderTest, ARenameListedWhileAnEditWentUpIsNotUndoneByTheEditsAnswer) {
    makeUploader();
    replica->apply(std::vector{answerItem("f:1", "a.txt", "v1")});
    const Inode file = replica->entry(ItemIdentifier("f:1"))->inode;
    write(file, "edited");
    clock.advance(500ms);
    const auto edit = extension->waitForCall(0);
    const ItemPtr renamed = answerItem("f:1", "b.txt", "v1");
    replica->apply(std::vector{renamed});  // another device renamed it meanwhile
    extension->knows(answerItem("f:1", "b.txt", "v2"));
    edit.answer(answerItem("f:1", "a.txt", "v2"), ItemFields::none, false, std::nullopt);
    waitIdle();
    EXPECT_EQ(replica->entry(file)->name, "b.txt");
    EXPECT_EQ(replica->entry(file)->version.contentVersion, "v2");
}

TEST_F(ChangeUploaderTest, AFileRenamedHereThatTheDriveLostIsCreatedAgainFromTheCache) {
    renameCachedFile();
    extension->waitForCall(0).answer(nullptr, ItemFields::none, false, Error::noSuchItem());
    clock.advance(500ms);
    const auto again = extension->waitForCall(1);
    EXPECT_EQ(again.kind, UploadingExtension::Call::create);
    EXPECT_EQ(again.item.name, "b.txt");
    EXPECT_EQ(again.contents, "cached") << "another device trashed it, but the user had kept it by renaming it";
}

TEST_F(ChangeUploaderTest, ARenameThatMayHaveLandedBeforeTheDriveLostTheFileLetsItGo) {
    renameCachedFile();
    loseTheFirstAnswer();
    extension->waitForCall(1).answer(nullptr, ItemFields::none, false, Error::noSuchItem());
    waitIdle();
    clock.advance(10min);
    waitIdle();
    EXPECT_EQ(extension->callCount(), 2u) << "another device trashed it after the rename landed";
    EXPECT_FALSE(replica->child(kFuseRootInode, "b.txt"));
    EXPECT_EQ(replica->pendingCount(), 0u);
}

TEST_F(ChangeUploaderTest, AnEditThatMayHaveLandedBeforeTheDriveWithdrewTheFileLetsItGo) {
    makeUploader();
    replica->apply(std::vector{answerItem("f:1", "a.txt", "v1")});
    const Inode file = replica->entry(ItemIdentifier("f:1"))->inode;
    write(file, "edited");
    clock.advance(500ms);
    loseTheFirstAnswer();
    // The change page saying another device trashed it is not in yet.
    extension->waitForCall(1).answer(nullptr, ItemFields::none, false, Error::noSuchItem());
    waitIdle();
    ASSERT_TRUE(clock.waitForSleepers(1));
    clock.advance(2s);
    const auto again = extension->waitForCall(2);
    EXPECT_EQ(again.kind, UploadingExtension::Call::modify) << "made again, it would bring back what was trashed";
    // Now it is: the plug-in answers with what the first attempt left.
    again.answer(answerItem("f:1", "a.txt", "v2"), ItemFields::none, false, std::nullopt);
    waitIdle();
    EXPECT_FALSE(replica->entry(file));
    EXPECT_EQ(replica->pendingCount(), 0u);
}

TEST_F(ChangeUploaderTest, FailuresRetryOnTheScheduleAndRefusalsAreToldOnce) {
    makeUploader();
    const Inode file = newFile(kFuseRootInode, "a.txt", "a");
    clock.advance(500ms);
    std::size_t index = 0;
    for (const auto delay : {1s, 2s, 5s, 10s, 30s, 60s, 60s}) {
        const auto call = extension->waitForCall(index++);
        call.answer(nullptr, ItemFields::none, false, Error::serverUnreachable());
        waitIdle();
        EXPECT_EQ(copies.localContents(file).has_value(), true) << "the local copy stays readable";
        ASSERT_TRUE(clock.waitForSleepers(1)) << "the scheduler waits for the retry";
        const Clock::TimePoint failedAt = clock.now();
        clock.advance(delay - 1ms);
        clock.advance(1ms);
        EXPECT_EQ(extension->waitForCall(index).at, failedAt + delay);
    }
    extension->waitForCall(index).answer(nullptr, ItemFields::none, false, Error::insufficientQuota());
    waitIdle();
    clock.advance(10min);
    waitIdle();
    EXPECT_EQ(extension->callCount(), index + 1) << "a refusal is not retried";
    EXPECT_EQ(refusals.paths, std::vector<std::string>{"a.txt: -1003"});
    EXPECT_EQ(replica->pendingChange(file)->refusal.has_value(), true);
}

TEST_F(ChangeUploaderTest, PauseCancelsSendsAndHoldsTheQueueUntilResume) {
    makeUploader();
    newFile(kFuseRootInode, "a.txt", "abcd");
    clock.advance(500ms);
    const auto call = extension->waitForCall(0);
    EXPECT_FALSE(uploader->progress().finished);
    uploader->pause();
    call.answer(nullptr, ItemFields::none, false, Error::userCancelled());
    waitIdle();
    clock.advance(10min);
    waitIdle();
    EXPECT_EQ(extension->callCount(), 1u);
    EXPECT_TRUE(uploader->progress().finished);

    uploader->resume();
    EXPECT_EQ(extension->waitForCall(1).contents, "abcd") << "sent again, no back-off";
}

TEST_F(ChangeUploaderTest, BytesWrittenWhileASendEndsInAConflictCopyStayAndMeetTheSameConflict) {
    makeUploader();
    const Inode file = newFile(kFuseRootInode, "a.txt", "a1");
    clock.advance(500ms);
    extension->waitForCall(0).answer(answerItem("id:a", "a.txt", "v1"), ItemFields::none, false, std::nullopt);
    write(file, "a2");
    clock.advance(500ms);
    const auto edit = extension->waitForCall(1);
    write(file, "a3");
    // Another device's v2 came first: the plug-in kept "a2" as a copy.
    edit.answer(answerItem("id:a", "a.txt", "v2"), ItemFields::none, true, std::nullopt);
    ASSERT_TRUE(copies.localContents(file)) << "a3 is nowhere else";
    clock.advance(500ms);
    const auto again = extension->waitForCall(2);
    EXPECT_EQ(again.contents, "a3");
    EXPECT_EQ(again.baseContentVersion, "v1") << "a3 was written over v1 too, not over v2";
}

TEST_F(ChangeUploaderTest, ACreationWhoseAnswerWasLostGoesAgainWithItsFirstBytesThenTheNewerOnes) {
    makeUploader();
    const Inode file = newFile(kFuseRootInode, "a.txt", "a1");
    clock.advance(500ms);
    const auto first = extension->waitForCall(0);
    write(file, "a2");
    first.answer(nullptr, ItemFields::none, false, Error::serverUnreachable());
    waitIdle();
    write(file, "a3");  // between the attempts
    ASSERT_TRUE(clock.waitForSleepers(1));
    clock.advance(1s);
    const auto again = extension->waitForCall(1);
    EXPECT_TRUE(again.mayAlreadyExist);
    EXPECT_EQ(again.contents, "a1") << "the plug-in finds the lost attempt's file by these bytes";
    extension->knows(answerItem("id:a", "a.txt", "v1"));
    again.answer(answerItem("id:a", "a.txt", "v1"), ItemFields::none, false, std::nullopt);
    clock.advance(500ms);
    const auto edit = extension->waitForCall(2);
    EXPECT_EQ(edit.kind, UploadingExtension::Call::modify);
    EXPECT_EQ(edit.contents, "a3");
}

TEST_F(ChangeUploaderTest, ACreationInDoubtWaitsUntilTheChangesAndItsFolderCanBeRead) {
    makeUploader();
    newFile(kFuseRootInode, "a.txt", "a1");
    clock.advance(500ms);
    extension->waitForCall(0).answer(nullptr, ItemFields::none, false, Error::serverUnreachable());
    waitIdle();
    extension->loseTheDrive(true);
    ASSERT_TRUE(clock.waitForSleepers(1));
    clock.advance(1s);
    waitIdle();
    EXPECT_EQ(extension->listingCount(), 0u) << "another device may have moved the first attempt's file";
    extension->loseTheDrive();
    clock.advance(1min);
    ASSERT_TRUE(extension->waitForListing(1));
    waitIdle();
    EXPECT_EQ(extension->callCount(), 1u) << "unseen, the first attempt's file would get a twin";
    extension->knows(answerItem("id:other", "other.txt", "v1"));
    clock.advance(1min);
    EXPECT_TRUE(extension->waitForCall(1).mayAlreadyExist);
}

TEST_F(ChangeUploaderTest, ACreationInDoubtAnsweredWithAFileAnotherDeviceMovedJoinsItThere) {
    makeUploader();
    const ItemPtr folder = folderAnswer("d:1", "D");
    replica->apply(std::vector{folder});
    extension->knows(folder);
    const Inode file = newFile(kFuseRootInode, "a.txt", "a1");
    clock.advance(500ms);
    loseTheFirstAnswer();
    // The working set brought the first attempt's file where the other device put it.
    const ItemPtr moved = answerItem("id:a", "a.txt", "v1", ItemIdentifier("d:1"));
    replica->apply(std::vector{moved});
    extension->knows(moved);
    extension->waitForCall(1).answer(moved, ItemFields::none, false, std::nullopt);
    waitIdle();
    const Inode there = replica->entry(folder->itemIdentifier())->inode;
    ASSERT_TRUE(replica->child(there, "a.txt"));
    EXPECT_EQ(replica->child(there, "a.txt")->identifier, ItemIdentifier("id:a"));
    EXPECT_FALSE(replica->child(kFuseRootInode, "a.txt")) << "one file, where the other device moved it";
    EXPECT_FALSE(replica->pendingChange(file));
    EXPECT_EQ(extension->callCount(), 2u);
}

TEST_F(ChangeUploaderTest, ACreationInDoubtAnsweredWithAFileTheDriveWithdrewSinceGoesHere) {
    makeUploader();
    const Inode file = newFile(kFuseRootInode, "a.txt", "a1");
    clock.advance(500ms);
    extension->waitForCall(0).answer(nullptr, ItemFields::none, false, Error::serverUnreachable());
    waitIdle();
    ASSERT_TRUE(clock.waitForSleepers(1));
    clock.advance(1s);
    // Found among the files another device trashed: the plug-in holds it no longer.
    extension->waitForCall(1).answer(answerItem("id:a", "a.txt", "v1"), ItemFields::none, false, std::nullopt);
    waitIdle();
    EXPECT_FALSE(replica->entry(file));
    EXPECT_FALSE(replica->pendingChange(file));
}

TEST_F(ChangeUploaderTest, ACreationCutShortByAStopGoesAgainWithMayAlreadyExist) {
    const Inode file = newFile(kFuseRootInode, "a.txt", "a");
    ASSERT_TRUE(replica->beginSending(file));  // the host stopped while sending
    const Clock::TimePoint started = clock.now();
    makeUploader(2, replica->resumeSending(clock.wallNow(), 10s));
    ASSERT_TRUE(clock.waitForSleepers(1));
    clock.advance(10s);
    const auto call = extension->waitForCall(0);
    EXPECT_EQ(call.kind, UploadingExtension::Call::create);
    EXPECT_TRUE(call.mayAlreadyExist);
    EXPECT_EQ(call.contents, "a");
    EXPECT_GE(call.at - started, 10s) << "the stopped host's request may still land: looking at once would miss it";
}

TEST_F(ChangeUploaderTest, ANewFileWaitingForTheNameOfARemovedAttemptGoesOnceThatAttemptIsFoundNeverToHaveLanded) {
    const Inode attempt = newFile(kFuseRootInode, "a.txt", "a1");
    ASSERT_TRUE(replica->beginSending(attempt));  // the host stopped while sending
    const std::vector<Inode> interrupted = replica->resumeSending(clock.wallNow(), 10s);
    replica->removeLocal(attempt);
    newFile(kFuseRootInode, "a.txt", "a2");
    makeUploader(2, interrupted);
    ASSERT_TRUE(clock.waitForSleepers(1));
    clock.advance(10s);
    const auto call = extension->waitForCall(0);
    EXPECT_EQ(call.kind, UploadingExtension::Call::create);
    EXPECT_EQ(call.contents, "a2");
}

TEST_F(ChangeUploaderTest, ADeletionTheDriveRejectsBringsTheFileBackAsTheDriveHasIt) {
    replica->apply(std::vector<ItemPtr>{answerItem("f:1", "a.txt", "v1")});
    const Inode file = replica->entry(ItemIdentifier("f:1"))->inode;
    makeUploader();
    replica->removeLocal(file);
    uploader->changed(file);
    clock.advance(500ms);
    const auto call = extension->waitForCall(0);
    ASSERT_EQ(call.kind, UploadingExtension::Call::remove);
    extension->loseTheDrive();
    call.answerDeletion(Error::fileProvider(fileprovider::FileProviderErrorCode::deletionRejected));
    // Until the plug-in says what the drive holds, the record stays: ended
    // first, a stop before the file came back would lose it here.
    waitIdle();
    ASSERT_TRUE(clock.waitForSleepers(1));
    EXPECT_TRUE(replica->pendingChange(file));
    extension->knows(answerItem("f:1", "b.txt", "v2"));  // renamed and rewritten by another device
    clock.advance(1s);
    extension->waitForCall(1).answerDeletion(
        Error::fileProvider(fileprovider::FileProviderErrorCode::deletionRejected));
    waitIdle();
    const auto back = replica->entry(ItemIdentifier("f:1"));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->name, "b.txt");
    EXPECT_EQ(back->version.contentVersion, "v2");
    EXPECT_FALSE(replica->pendingChange(file));
}

}  // namespace
}  // namespace cadrio::host
