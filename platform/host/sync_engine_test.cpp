#include "platform/host/sync_engine.hpp"

#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <map>
#include <set>
#include <mutex>

namespace cadrio::host {
namespace {

using namespace std::chrono_literals;
using fileprovider::BasicItem;
using fileprovider::ChangeObserver;
using fileprovider::EnumerationObserver;
using fileprovider::Error;
using fileprovider::ItemIdentifier;
using fileprovider::ItemPtr;
using fileprovider::SyncAnchor;

ItemPtr item(const std::string& id, const std::string& parent = "") {
    auto made = std::make_shared<BasicItem>();
    made->identifier = ItemIdentifier(id);
    made->parent = parent.empty() ? ItemIdentifier::rootContainer() : ItemIdentifier(parent);
    made->name = id.substr(2);
    if (id.starts_with("d:")) made->type = types::ContentType::folder();
    made->version = {"c", "m"};
    return made;
}

/// A plug-in whose answers the test scripts. Change and folder calls are
/// answered by the scripted handler; `hold` keeps the observers so the test
/// answers them itself (or never).
class FakePlugin final : public fileprovider::ReplicatedExtension {
  public:
    std::vector<std::vector<ItemPtr>> workingSet;
    std::map<std::string, std::vector<ItemPtr>> folders;
    SyncAnchor currentAnchor{"v3:5"};
    std::function<void(const std::shared_ptr<ChangeObserver>&, const SyncAnchor&)> changes;
    bool throwOnEnumerator = false;
    bool holdFolders = false;
    std::set<std::string> goneFolders;

    std::shared_ptr<fileprovider::Progress> item(const ItemIdentifier&,
                                                 const fileprovider::Request&,
                                                 ItemCompletion completion) override {
        completion(nullptr, Error::noSuchItem());
        return fileprovider::Progress::create();
    }

    std::shared_ptr<fileprovider::Enumerator> enumerator(const ItemIdentifier& container,
                                                         const fileprovider::Request&) override;

    int changeCalls() {
        std::lock_guard lock(mutex);
        return changeCalls_;
    }
    /// Waits (bounded in real time) for the n-th change call and returns its observer.
    std::shared_ptr<ChangeObserver> heldChange(int n) {
        std::unique_lock lock(mutex);
        arrived.wait_for(lock, 10s, [&] { return static_cast<int>(heldChanges.size()) >= n; });
        return static_cast<int>(heldChanges.size()) >= n ? heldChanges[n - 1] : nullptr;
    }

    std::mutex mutex;
    std::condition_variable arrived;
    int changeCalls_ = 0;
    std::vector<std::shared_ptr<ChangeObserver>> heldChanges;
};

class FakeEnumerator final : public fileprovider::Enumerator {
  public:
    FakeEnumerator(FakePlugin& plugin, ItemIdentifier container)
        : plugin_(plugin), container_(std::move(container)) {}
    void invalidate() override {}
    void enumerateItems(std::shared_ptr<EnumerationObserver> observer,
                        fileprovider::Page) override {
        if (!container_.isWorkingSet()) {
            if (plugin_.holdFolders) return;
            if (plugin_.goneFolders.contains(container_.rawValue()))
                return observer->finishEnumeratingWithError(Error::noSuchItem());
            observer->didEnumerate(plugin_.folders[container_.rawValue()]);
            return observer->finishEnumerating(std::nullopt);
        }
        for (const auto& slice : plugin_.workingSet) observer->didEnumerate(slice);
        observer->finishEnumerating(std::nullopt);
    }
    void enumerateChanges(std::shared_ptr<ChangeObserver> observer, SyncAnchor anchor) override {
        {
            std::lock_guard lock(plugin_.mutex);
            ++plugin_.changeCalls_;
            if (!plugin_.changes) {
                plugin_.heldChanges.push_back(observer);
                plugin_.arrived.notify_all();
                return;
            }
        }
        plugin_.changes(observer, anchor);
    }
    void currentSyncAnchor(std::function<void(std::optional<SyncAnchor>)> completion) override {
        completion(plugin_.currentAnchor);
    }

  private:
    FakePlugin& plugin_;
    ItemIdentifier container_;
};

std::shared_ptr<fileprovider::Enumerator> FakePlugin::enumerator(const ItemIdentifier& container,
                                                                 const fileprovider::Request&) {
    if (throwOnEnumerator) throw std::runtime_error("boom");
    return std::make_shared<FakeEnumerator>(*this, container);
}

class CountingSink final : public NoticeSink {
  public:
    void post(std::vector<KernelNotice> notices) override {
        std::lock_guard lock(mutex_);
        count_ += notices.size();
    }
    std::size_t count() {
        std::lock_guard lock(mutex_);
        return count_;
    }

  private:
    std::mutex mutex_;
    std::size_t count_ = 0;
};

class SyncEngineTest : public ::testing::Test {
  protected:
    void waitIdle() {
        std::promise<void> idle;
        engine_->whenIdle([&] { idle.set_value(); });
        ASSERT_EQ(idle.get_future().wait_for(10s), std::future_status::ready);
    }
    void startWithAnchor(const std::string& anchor) {
        replica_->applyChanges({}, std::vector{item("f:old")}, SyncAnchor{anchor});
        engine_->start();
    }
    std::optional<std::string> anchor() {
        const auto found = replica_->anchor();
        return found ? std::optional(found->bytes) : std::nullopt;
    }
    bool has(const std::string& id) { return replica_->entry(ItemIdentifier(id)).has_value(); }

    VirtualClock clock_;
    std::shared_ptr<FakePlugin> plugin_ = std::make_shared<FakePlugin>();
    std::unique_ptr<Replica> replica_ = Replica::open(":memory:");
    CountingSink sink_;
    std::unique_ptr<SyncEngine> engine_ =
        std::make_unique<SyncEngine>(plugin_, *replica_, sink_, clock_, SyncEngine::Options{10s});
};

TEST_F(SyncEngineTest, SignalsDuringAnEnumerationCoalesceIntoOneFollowUp) {
    startWithAnchor("v3:1");
    const auto first = plugin_->heldChange(1);
    ASSERT_TRUE(first);
    for (int i = 0; i < 5; ++i) engine_->signal();
    EXPECT_FALSE(engine_->isIdle());
    first->finishEnumeratingChanges({"v3:2"}, false);
    const auto second = plugin_->heldChange(2);
    ASSERT_TRUE(second);
    second->finishEnumeratingChanges({"v3:3"}, false);
    waitIdle();
    EXPECT_EQ(plugin_->changeCalls(), 2);
    EXPECT_EQ(anchor(), "v3:3");
}

TEST_F(SyncEngineTest, PluginFaultsKeepTheReplicaAndTheEngineGoing) {
    struct Case {
        const char* name;
        std::function<void(FakePlugin&)> fault;
        std::string anchorAfter;
    };
    const Case cases[] = {
        {"enumerator throws", [](FakePlugin& p) { p.throwOnEnumerator = true; }, "v3:1"},
        {"enumeration throws",
         [](FakePlugin& p) {
             p.changes = [](auto&, auto&) {
                 throw fileprovider::ErrorException(Error::serverUnreachable());
             };
         },
         "v3:1"},
        {"answers twice",
         [](FakePlugin& p) {
             p.changes = [](const std::shared_ptr<ChangeObserver>& observer, const SyncAnchor&) {
                 observer->didUpdate({});
                 observer->finishEnumeratingChanges({"v3:2"}, false);
                 observer->didDeleteItems({ItemIdentifier("f:old")});
                 observer->finishEnumeratingChanges({"v3:9"}, false);
             };
         },
         "v3:2"},
        {"never answers", [](FakePlugin&) {}, "v3:1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        engine_.reset();
        plugin_ = std::make_shared<FakePlugin>();
        replica_ = Replica::open(":memory:");
        engine_ = std::make_unique<SyncEngine>(plugin_, *replica_, sink_, clock_,
                                               SyncEngine::Options{10s});
        c.fault(*plugin_);
        startWithAnchor("v3:1");
        if (std::string(c.name) == "never answers") {
            ASSERT_TRUE(plugin_->heldChange(1));
            ASSERT_TRUE(clock_.waitForSleepers(1));
            clock_.advance(10s);
            waitIdle();
            plugin_->heldChange(1)->finishEnumeratingChanges({"v3:late"}, false);
        }
        waitIdle();
        EXPECT_TRUE(has("f:old"));
        EXPECT_EQ(anchor(), c.anchorAfter);
        // The engine still serves the next signal.
        plugin_->throwOnEnumerator = false;
        plugin_->changes = [](const std::shared_ptr<ChangeObserver>& observer, const SyncAnchor&) {
            observer->finishEnumeratingChanges({"v3:next"}, false);
        };
        engine_->signal();
        waitIdle();
        EXPECT_EQ(anchor(), "v3:next");
    }
}

TEST_F(SyncEngineTest, FoldersAreListedOnDemandWithinTheDeadline) {
    replica_->apply(std::vector{item("d:1"), item("d:2"), item("f:gone", "d:1")});
    const Inode folder = replica_->inodeOf(ItemIdentifier("d:1"));
    plugin_->folders["d:1"] = {item("f:a", "d:1"), item("f:b", "d:1")};
    EXPECT_EQ(engine_->listFolder(folder, clock_.now() + 5s), std::nullopt);
    EXPECT_EQ(replica_->children(folder, 0, 10).size(), 2u);
    EXPECT_TRUE(replica_->entry(folder)->childrenListed);
    EXPECT_EQ(engine_->listFolder(replica_->inodeOf(ItemIdentifier("f:a")), clock_.now() + 5s),
              Error::noSuchItem());

    plugin_->holdFolders = true;
    const Inode silent = replica_->inodeOf(ItemIdentifier("d:2"));
    auto waiting = std::async(std::launch::async,
                              [&] { return engine_->listFolder(silent, clock_.now() + 2s); });
    ASSERT_TRUE(clock_.waitForSleepers(2));  // the caller and the listing's own timeout
    clock_.advance(2s);
    const auto error = waiting.get();
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->is(fileprovider::FileProviderErrorCode::serverUnreachable));
    clock_.advance(10s);
    waitIdle();
    EXPECT_FALSE(replica_->entry(silent)->childrenListed);
}

TEST_F(SyncEngineTest, AFolderTheDriveNoLongerHasGoesWhenItsListingSaysSoKeepingWhatWaitsInIt) {
    // Its deletion came in no change page: nothing else would ever take it.
    replica_->apply(std::vector{item("d:3"), item("f:c", "d:3"), item("d:4")});
    const Inode kept = replica_->createLocal(replica_->inodeOf(ItemIdentifier("d:4")), "new", false, {}, true).inode;
    plugin_->goneFolders = {"d:3", "d:4"};
    for (const char* id : {"d:3", "d:4"})
        EXPECT_EQ(engine_->listFolder(replica_->inodeOf(ItemIdentifier(id)), clock_.now() + 5s), Error::noSuchItem());
    EXPECT_FALSE(has("d:3"));
    EXPECT_FALSE(has("f:c"));
    ASSERT_TRUE(replica_->entry(kept));
    EXPECT_TRUE(replica_->entry(replica_->entry(kept)->parentInode)) << "its folder stays, to be made again";
}

}  // namespace
}  // namespace cadrio::host
