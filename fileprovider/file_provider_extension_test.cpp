#include "fileprovider/file_provider_extension.hpp"

#include <gtest/gtest.h>

#include <future>
#include <stdexcept>

#include "core/http/testing/scripted_transport.hpp"
#include "core/support/clock.hpp"
#include "core/support/temporary_directory.hpp"
#include "fileprovider/disk_item.hpp"
#include "fileprovider/testing/fake_drive_listing.hpp"
#include "fileprovider/testing/records.hpp"
#include "platform/fileprovider/testing/recording_observers.hpp"
#include "platform/log/log_sink.hpp"

namespace cadrio {
namespace {

using fileprovider::Error;
using fileprovider::ItemPtr;

class ThrowingSessionStore final : public SessionStoring {
public:
    std::optional<DriveSession> load() override { throw std::runtime_error("trousseau verrouillé"); }
    void save(const DriveSession&) override {}
    void clear() override {}
};

/// A secret store that answers only when the test lets it.
class BlockingSessionStore final : public SessionStoring {
public:
    std::optional<DriveSession> load() override {
        entered_.set_value();
        released_.wait();
        return DriveSession{"a@cadrio.test", "token", "pw"};
    }
    void save(const DriveSession&) override {}
    void clear() override {}

    void waitUntilLoading() { entering_.wait(); }
    void release() {
        if (!std::exchange(releasedOnce_, true)) release_.set_value();
    }

private:
    std::promise<void> entered_;
    std::shared_future<void> entering_ = entered_.get_future().share();
    std::promise<void> release_;
    std::shared_future<void> released_ = release_.get_future().share();
    bool releasedOnce_ = false;  // the test's thread only
};

class ExtensionTest : public ::testing::Test {
protected:
    std::unique_ptr<FileProviderExtension> makeExtension(std::shared_ptr<SessionStoring> sessions) {
        auto client = std::make_shared<ApiClient>(
            DriveConfiguration("https://drive.test/api/v1", 3, std::chrono::milliseconds(400), 60),
            std::make_shared<testing::ScriptedTransport>(), std::move(sessions),
            std::make_shared<InMemoryTrustedDeviceStore>(), clock_);
        FileProviderExtension::Parts parts{.client = client,
                                           .api = std::make_shared<const DriveAPI>(client),
                                           .listing = listing_,
                                           .store = store_};
        return std::make_unique<FileProviderExtension>(fileprovider::Domain{"a@cadrio.test", "a@cadrio.test"},
                                                       fileprovider::HostContext{}, std::move(parts),
                                                       log::Logger("zelvano.cadrio.sync", "fileprovider", sink_));
    }

    VirtualClock clock_;
    TemporaryDirectory directory_{"extension-test"};
    std::shared_ptr<ItemStore> store_ =
        std::make_shared<ItemStore>(ItemStore::Locations{directory_ / "store.json", directory_ / "summary.json"});
    std::shared_ptr<testing::FakeDriveListing> listing_ = std::make_shared<testing::FakeDriveListing>();
    std::shared_ptr<log::MemorySink> sink_ = std::make_shared<log::MemorySink>();
    std::unique_ptr<FileProviderExtension> extension_ =
        makeExtension(std::make_shared<InMemorySessionStore>(DriveSession{"a@cadrio.test", "token", "pw"}));
};

TEST_F(ExtensionTest, AMissingOrUnreadableSessionIsLoggedOnce) {
    struct Case {
        std::shared_ptr<SessionStoring> sessions;
        std::string message;
    };
    const std::vector<Case> cases = {
        {std::make_shared<InMemorySessionStore>(), "Aucune session dans le trousseau partagé : le domaine restera vide."},
        {std::make_shared<ThrowingSessionStore>(), "Session illisible : trousseau verrouillé"},
    };
    for (const Case& c : cases) {
        sink_->clear();
        auto extension = makeExtension(c.sessions);
        extension.reset();  // waits for the restoring task
        EXPECT_EQ(sink_->messages(), (std::vector<std::string>{c.message}));
    }
}

TEST_F(ExtensionTest, RequestsWaitForTheSessionBeingRestored) {
    enum class Then { restored, waitedTooLong, cancelled };
    struct Case {
        Then then;
        std::string answer;
    };
    const std::vector<Case> cases = {
        {Then::restored, "finishEnumerating(none)"},
        {Then::waitedTooLong, "finishWithError(NSFileProviderErrorDomain,-1000)"},
        {Then::cancelled, "finishWithError(NSCocoaErrorDomain,3072)"},
    };
    for (const Case& c : cases) {
        auto sessions = std::make_shared<BlockingSessionStore>();
        auto extension = makeExtension(sessions);
        listing_->onChanges = [client = extension->client()](std::int64_t, std::stop_token) {
            if (!client->isAuthenticated()) throw DriveError::notAuthenticated();
            return DriveChanges{};
        };
        sessions->waitUntilLoading();
        auto observer = std::make_shared<fileprovider::testing::RecordingEnumerationObserver>();
        extension->enumerator(fileprovider::ItemIdentifier("NSFileProviderWorkingSetContainerItemIdentifier"), {})
            ->enumerateItems(observer, fileprovider::Page::initialSortedByName());
        EXPECT_TRUE(clock_.waitForSleepers(1)) << "the request waits for the session";

        std::future<void> shutdown;
        switch (c.then) {
            case Then::restored: sessions->release(); break;
            case Then::waitedTooLong: clock_.advance(SessionRestore::kWaitLimit); break;
            case Then::cancelled:
                shutdown = std::async(std::launch::async, [&] { extension->tasks()->shutdown(); });
                break;
        }
        EXPECT_TRUE(observer->waitUntilFinished());
        sessions->release();
        if (shutdown.valid()) shutdown.get();
        EXPECT_EQ(observer->summaries(), (std::vector<std::string>{c.answer}));
        extension.reset();
    }
}

TEST_F(ExtensionTest, IdentifiersOutsideTheGrammarAreAnsweredAtOnce) {
    for (const std::string identifier : {"", "x:1", "NSFileProviderWorkingSetContainerItemIdentifier",
                                         "NSFileProviderTrashContainerItemIdentifier"}) {
        std::optional<Error> answered;
        int calls = 0;
        extension_->item(fileprovider::ItemIdentifier(identifier), {}, [&](ItemPtr item, std::optional<Error> error) {
            EXPECT_EQ(item, nullptr);
            answered = error;
            ++calls;
        });
        EXPECT_EQ(calls, 1) << identifier;  // before item() returned
        EXPECT_EQ(answered, Error::noSuchItem()) << identifier;
    }
}

TEST_F(ExtensionTest, NoEnumeratorForFilesOrUnknownContainers) {
    for (const std::string bad : {"f:12", "garbage", "", "NSFileProviderTrashContainerItemIdentifier"}) {
        try {
            extension_->enumerator(fileprovider::ItemIdentifier(bad), {});
            ADD_FAILURE() << bad << " gave an enumerator";
        } catch (const fileprovider::ErrorException& error) {
            EXPECT_EQ(error.error(), Error::noSuchItem()) << bad;
        }
    }
}

}  // namespace
}  // namespace cadrio
