#include "platform/host/domain_host.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>

#include "core/support/temporary_directory.hpp"

namespace cadrio::host {
namespace {

namespace fs = std::filesystem;
using fileprovider::Domain;
using fileprovider::Error;
using fileprovider::ErrorException;
using fileprovider::FileProviderErrorCode;

struct MountRecord {
    MountPaths paths;
    int signals = 0;
    bool unmounted = false;
    std::vector<std::function<void()>> stableWaiters;
    TransferProgress download, upload;
    std::size_t pending = 0;
    bool paused = false;
};

class FakeMount final : public DomainMount {
public:
    explicit FakeMount(MountRecord& record) : record_(record) {}
    ~FakeMount() override { record_.unmounted = true; }
    const fs::path& mountPoint() const override { return record_.paths.mountPoint; }
    fs::path temporaryDirectory() const override { return record_.paths.cacheDirectory / "scratch"; }
    void signalWorkingSet() override { ++record_.signals; }
    void whenStable(std::function<void()> done) override { record_.stableWaiters.push_back(std::move(done)); }
    TransferProgress downloadProgress() const override { return record_.download; }
    TransferProgress uploadProgress() const override { return record_.upload; }
    std::size_t pendingChangeCount() const override { return record_.pending; }
    void setUploadsPaused(bool paused) override { record_.paused = paused; }

private:
    MountRecord& record_;
};

class DomainHostTest : public ::testing::Test {
protected:
    DomainHostTest() { host.setDomainsChangedHandler([this] { ++changes; }); }

    std::unique_ptr<DomainMount> makeMount(const Domain& domain, const MountPaths& paths) {
        if (failing.count(domain.identifier)) throw std::runtime_error("no FUSE here");
        MountRecord& record = records[domain.identifier];
        record = MountRecord();
        record.paths = paths;
        return std::make_unique<FakeMount>(record);
    }
    bool mounted(const std::string& identifier) const {
        const auto found = records.find(identifier);
        return found != records.end() && !found->second.unmounted;
    }
    static FileProviderErrorCode codeOf(const std::function<void()>& call) {
        try {
            call();
        } catch (const ErrorException& e) {
            return static_cast<FileProviderErrorCode>(e.error().code);
        }
        return FileProviderErrorCode{0};
    }

    TemporaryDirectory home;
    HostDirectories directories = HostDirectories::resolve(home.path().c_str(), nullptr, nullptr);
    DomainRegistry registry{directories.data / "domains.json"};
    std::map<std::string, MountRecord> records;
    std::set<std::string> failing;
    bool elected = true;
    int changes = 0;
    DomainHost host{registry, [this](const Domain& d, const MountPaths& p) { return makeMount(d, p); },
                    [this] { return elected; }, DomainHost::Settings{directories, home / "Drive"}};
};

TEST_F(DomainHostTest, MountsEnabledDomainsUnderTheirRootsWhileThePlugInIsElected) {
    registry.add({"a@x", "A", true});
    registry.add({"off@x", "Off", true});
    registry.setUserEnabled("off@x", false);
    registry.add({"b@x", "B", true});
    elected = false;
    host.mountEnabledDomains();
    EXPECT_TRUE(records.empty());

    elected = true;
    host.mountEnabledDomains();
    EXPECT_EQ(records["a@x"].paths, (MountPaths{home / "Drive", directories.data / "a@x/replica.sqlite",
                                                directories.cache / "a@x"}));
    EXPECT_EQ(records["b@x"].paths.mountPoint, home / "Drive (b@x)");
    EXPECT_FALSE(records.count("off@x"));
    EXPECT_EQ(host.userVisibleRoot("off@x"), home / "Drive (off@x)");
    EXPECT_EQ(host.temporaryDirectory("a@x"), directories.cache / "a@x/scratch");

    elected = false;  // switched off while running: unmounted, still registered
    host.followElection();
    EXPECT_FALSE(mounted("a@x"));
    EXPECT_EQ(host.domains().size(), 3u);
    elected = true;
    host.followElection();
    EXPECT_TRUE(mounted("a@x"));
    EXPECT_TRUE(mounted("b@x"));

    // The first root freed goes to the next domain mounted.
    host.setUserEnabled("a@x", false);
    EXPECT_TRUE(records["a@x"].unmounted);
    host.setUserEnabled("off@x", true);
    EXPECT_EQ(records["off@x"].paths.mountPoint, home / "Drive");
    EXPECT_EQ(changes, 2);
}

TEST_F(DomainHostTest, RemoveUnmountsAndDeletesTheReplicaAndTheCache) {
    host.add({"a@x", "A", true});
    ASSERT_TRUE(mounted("a@x"));
    const MountPaths paths = records["a@x"].paths;
    std::ofstream(paths.replicaFile) << "db";
    std::ofstream(paths.cacheDirectory / "7") << "content";
    fs::create_directories(paths.mountPoint);

    host.add({"a@x", "A again", true});  // already registered and mounted: nothing remounts
    EXPECT_EQ(registry.find("a@x")->displayName, "A again");
    host.remove("a@x");
    EXPECT_TRUE(records["a@x"].unmounted);
    EXPECT_FALSE(fs::exists(paths.replicaFile.parent_path()));
    EXPECT_FALSE(fs::exists(paths.cacheDirectory));
    EXPECT_FALSE(fs::exists(paths.mountPoint));
    EXPECT_TRUE(registry.domains().empty());
    EXPECT_EQ(changes, 3);
}

TEST_F(DomainHostTest, UnknownDomainsAndBadIdentifiersAreRefused) {
    const std::vector<std::function<void()>> calls = {
        [&] { host.remove("nobody"); },
        [&] { host.setUserEnabled("nobody", true); },
        [&] { host.signalWorkingSet("nobody"); },
        [&] { host.userVisibleRoot("nobody"); },
        [&] { host.temporaryDirectory("nobody"); },
    };
    for (std::size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(codeOf(calls[i]), FileProviderErrorCode::noSuchItem) << i;
    }
    EXPECT_THROW(host.add({"../escape", "x", true}), ErrorException);
    EXPECT_TRUE(registry.domains().empty());
}

TEST_F(DomainHostTest, AFailedMountIsReportedAndLeavesTheOthersMounted) {
    registry.add({"bad@x", "Bad", true});
    registry.add({"good@x", "Good", true});
    failing.insert("bad@x");
    host.mountEnabledDomains();
    EXPECT_TRUE(mounted("good@x"));

    failing.insert("new@x");
    try {
        host.add({"new@x", "New", true});
        FAIL() << "no error";
    } catch (const ErrorException& e) {
        EXPECT_THAT(e.error().description, ::testing::HasSubstr("no FUSE here"));
    }
    EXPECT_TRUE(registry.find("new@x").has_value());  // registered, to be mounted at the next start
}

TEST_F(DomainHostTest, StabilisationIsAnsweredOnceAndNeverLeftPending) {
    host.add({"a@x", "A", true});
    host.add({"off@x", "Off", false});
    std::vector<std::optional<Error>> answers;
    const auto record = [&](std::optional<Error> e) { answers.push_back(std::move(e)); };

    host.waitForStabilization("nobody", record);
    host.waitForStabilization("off@x", record);
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_TRUE(answers[0]->is(FileProviderErrorCode::noSuchItem));
    EXPECT_TRUE(answers[1]->is(FileProviderErrorCode::cannotSynchronize));

    answers.clear();
    host.waitForStabilization("a@x", record);
    host.waitForStabilization("a@x", record);
    auto waiters = records["a@x"].stableWaiters;
    ASSERT_EQ(waiters.size(), 2u);
    waiters[0]();
    host.setUserEnabled("a@x", false);  // the second was still waiting
    waiters[0]();
    waiters[1]();  // a mount that answers after it was torn down is ignored
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_FALSE(answers[0].has_value());
    EXPECT_TRUE(answers[1]->is(FileProviderErrorCode::cannotSynchronize));
}

TEST_F(DomainHostTest, SignalsReachTheMountAndProgressSumsThem) {
    host.add({"a@x", "A", true});
    host.add({"b@x", "B", true});
    host.signalWorkingSet("a@x");
    EXPECT_EQ(records["a@x"].signals, 1);
    EXPECT_EQ(host.downloadProgress(), (TransferProgress{0, 0, true}));

    records["a@x"].download = {100, 40, false};
    records["b@x"].download = {50, 50, true};
    records["b@x"].upload = {10, 5, false};
    EXPECT_EQ(host.downloadProgress(), (TransferProgress{150, 90, false}));
    EXPECT_EQ(host.uploadProgress(), (TransferProgress{10, 5, false}));
}

TEST_F(DomainHostTest, SleepPausesEveryMountAndWakingSignalsThemEvenOnesMountedMeanwhile) {
    host.add({"a@x", "A", true});
    records["a@x"].pending = 3;
    EXPECT_EQ(host.transfers("a@x").pendingChanges, 3u);
    host.prepareForSleep(true);
    host.add({"b@x", "B", true});
    EXPECT_TRUE(records["a@x"].paused);
    EXPECT_TRUE(records["b@x"].paused);
    host.prepareForSleep(false);
    for (const char* identifier : {"a@x", "b@x"}) {
        EXPECT_FALSE(records[identifier].paused) << identifier;
        EXPECT_EQ(records[identifier].signals, 1) << identifier;
    }
}

}  // namespace
}  // namespace cadrio::host
