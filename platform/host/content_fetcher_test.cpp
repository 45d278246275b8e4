#include "platform/host/content_fetcher.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <future>
#include <mutex>
#include <string>
#include <vector>

#include "core/support/temporary_directory.hpp"

namespace cadrio::host {
namespace {

using fileprovider::Error;
using fileprovider::ItemIdentifier;
using fileprovider::ItemPtr;
using fileprovider::Progress;
using Completion = fileprovider::ReplicatedExtension::FetchContentsCompletion;

/// Records each fetch and lets the test answer it when it chooses.
class FetchingExtension final : public fileprovider::ReplicatedExtension {
public:
    struct Call {
        std::shared_ptr<Progress> progress;
        Completion completion;
    };

    std::shared_ptr<Progress> item(const ItemIdentifier&, const fileprovider::Request&, ItemCompletion) override {
        return Progress::create();
    }
    std::shared_ptr<fileprovider::Enumerator> enumerator(const ItemIdentifier&, const fileprovider::Request&) override {
        throw fileprovider::ErrorException(Error::noSuchItem());
    }
    std::shared_ptr<Progress> fetchContents(const ItemIdentifier&, const std::optional<fileprovider::ItemVersion>&,
                                            const fileprovider::Request&, Completion completion) override {
        if (throws) throw std::runtime_error("broken plug-in");
        auto progress = Progress::create(100);
        std::lock_guard lock(mutex);
        calls.push_back({progress, std::move(completion)});
        called.notify_all();
        return progress;
    }

    Call waitForCall(std::size_t index) {
        std::unique_lock lock(mutex);
        called.wait(lock, [&] { return calls.size() > index; });
        return calls[index];
    }
    std::size_t callCount() {
        std::lock_guard lock(mutex);
        return calls.size();
    }

    bool throws = false;
    std::mutex mutex;
    std::condition_variable called;
    std::vector<Call> calls;
};

class ContentFetcherTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto item = std::make_shared<fileprovider::BasicItem>();
        item->identifier = ItemIdentifier("f:7");
        item->name = "Rapport.pdf";
        item->size = 5;
        item->version = {"c1", "m1"};
        replica->apply(std::vector<ItemPtr>{item});
        file = *replica->entry(ItemIdentifier("f:7"));
    }

    std::future<ContentFetcher::Result> fetchAsync(std::stop_token stop = {}) {
        return std::async(std::launch::async, [this, stop] { return fetcher.fetch(file, stop); });
    }
    /// Answers `call` as the plug-in would, with a file in the temporary
    /// directory holding `bytes` and the item at content version "c2".
    void answerWithFile(const FetchingExtension::Call& call, const std::string& bytes) {
        const auto path = cache.temporaryDirectory() / ("fetched-" + std::to_string(++answers));
        std::ofstream(path, std::ios::binary) << bytes;
        auto item = std::make_shared<fileprovider::BasicItem>();
        item->identifier = file.identifier;
        item->name = file.name;
        item->size = static_cast<std::int64_t>(bytes.size());
        item->version = {"c2", "m1"};
        call.completion(path, item, std::nullopt);
    }
    static std::string bytesOf(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    struct DroppingSink final : NoticeSink {
        void post(std::vector<KernelNotice>) override {}
    } notices;
    VirtualClock clock;
    TemporaryDirectory directory{"content-fetcher"};
    std::unique_ptr<Replica> replica = Replica::open(":memory:");
    ContentCache cache{directory / "cache", *replica, clock};
    std::shared_ptr<FetchingExtension> extension = std::make_shared<FetchingExtension>();
    ContentFetcher fetcher{extension, *replica, cache, notices, clock, std::chrono::minutes(10)};
    ReplicaEntry file;
    int answers = 0;
};

TEST_F(ContentFetcherTest, OpensOfOneFileShareOneFetchAndTheAnswersVersion) {
    auto first = fetchAsync();
    auto second = fetchAsync();
    const auto call = extension->waitForCall(0);
    ASSERT_TRUE(clock.waitForSleepers(2));
    answerWithFile(call, "hello");

    for (auto* waiting : {&first, &second}) {
        const ContentFetcher::Result result = waiting->get();
        ASSERT_EQ(result.error, 0);
        EXPECT_EQ(bytesOf(result.path), "hello");
        EXPECT_EQ(result.contentVersion, "c2");
    }
    EXPECT_EQ(extension->callCount(), 1u);
    EXPECT_EQ(replica->entry(file.inode)->version.contentVersion, "c2");
    EXPECT_TRUE(cache.lookup(file.inode, "c2").has_value());
    EXPECT_TRUE(fetcher.progress().finished);
}

TEST_F(ContentFetcherTest, AnAnswerOlderThanAChangeAppliedMeanwhileServesItsBytesButLeavesTheItem) {
    // A rename made here went up while the download ran: the item the
    // plug-in answers with still has the old name and must not bring it back.
    auto waiting = fetchAsync();
    const auto call = extension->waitForCall(0);
    auto renamed = std::make_shared<fileprovider::BasicItem>();
    renamed->identifier = file.identifier;
    renamed->name = "Rapport final.pdf";
    renamed->size = 5;
    renamed->version = {"c1", "m2"};
    replica->apply(std::vector<ItemPtr>{renamed});
    answerWithFile(call, "hello");

    const ContentFetcher::Result result = waiting.get();
    ASSERT_EQ(result.error, 0);
    EXPECT_EQ(bytesOf(result.path), "hello");
    EXPECT_EQ(replica->entry(file.inode)->name, "Rapport final.pdf");
}

TEST_F(ContentFetcherTest, AnInterruptedOpenLeavesAndTheLastOneCancels) {
    std::stop_source firstStop, secondStop;
    auto first = fetchAsync(firstStop.get_token());
    auto second = fetchAsync(secondStop.get_token());
    const auto call = extension->waitForCall(0);
    ASSERT_TRUE(clock.waitForSleepers(2));

    firstStop.request_stop();
    EXPECT_EQ(first.get().error, EINTR);
    EXPECT_FALSE(call.progress->isCancelled()) << "another open still waits for these contents";

    secondStop.request_stop();
    EXPECT_EQ(second.get().error, EINTR);
    EXPECT_TRUE(call.progress->isCancelled());
    call.completion(std::nullopt, nullptr, Error::userCancelled());

    // The next open starts afresh.
    auto third = fetchAsync();
    answerWithFile(extension->waitForCall(1), "again");
    EXPECT_EQ(bytesOf(third.get().path), "again");
}

TEST_F(ContentFetcherTest, AFetchWithoutProgressForTheTimeOutFailsWithEIO) {
    auto waiting = fetchAsync();
    const auto call = extension->waitForCall(0);
    ASSERT_TRUE(clock.waitForSleepers(1));

    // Progress within the limit keeps it alive for another full period.
    call.progress->setCompletedUnitCount(40);
    clock.advance(std::chrono::minutes(10));
    ASSERT_TRUE(clock.waitForSleepers(1));
    EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
    EXPECT_EQ(fetcher.progress(), (TransferProgress{5, 2, false}));

    clock.advance(std::chrono::minutes(10));
    EXPECT_EQ(waiting.get().error, EIO);
    EXPECT_TRUE(call.progress->isCancelled());
    // A late answer is taken into the cache but answers nobody twice.
    answerWithFile(call, "late");
    call.completion(std::nullopt, nullptr, Error::serverUnreachable());
}

TEST_F(ContentFetcherTest, PluginFailuresBecomeTheErrnoOfTheirCode) {
    const std::vector<std::pair<std::optional<Error>, int>> cases{
        {Error::noSuchItem(), ENOENT},
        {Error::notAuthenticated(), EACCES},
        {Error::insufficientQuota(), EDQUOT},
        {Error::serverUnreachable(), EIO},
        {Error::cocoa(fileprovider::CocoaErrorCode::fileWriteNoPermission), EPERM},
        {Error::posix(ENOSPC), ENOSPC},
        {Error{"some.other.domain", 12, "?"}, EIO},
        {std::nullopt, EIO},  // neither a file nor an error
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        auto waiting = fetchAsync();
        extension->waitForCall(i).completion(std::nullopt, nullptr, cases[i].first);
        EXPECT_EQ(waiting.get().error, cases[i].second) << "case " << i;
    }
    extension->throws = true;
    EXPECT_EQ(fetcher.fetch(file, {}).error, EIO);
}

TEST_F(ContentFetcherTest, ShutdownReleasesWaitersAndDropsLaterAnswers) {
    auto waiting = fetchAsync();
    const auto call = extension->waitForCall(0);
    ASSERT_TRUE(clock.waitForSleepers(1));
    fetcher.shutdown();
    EXPECT_EQ(waiting.get().error, EIO);
    EXPECT_TRUE(call.progress->isCancelled());
    answerWithFile(call, "too late");
    EXPECT_FALSE(cache.lookup(file.inode, "c2"));
    EXPECT_TRUE(std::filesystem::is_empty(cache.temporaryDirectory()));
    EXPECT_EQ(fetcher.fetch(file, {}).error, EIO);
}

}  // namespace
}  // namespace cadrio::host
