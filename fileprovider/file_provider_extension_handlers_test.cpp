// The extension over a scripted drive: its session restored in the
// background, identifiers it cannot serve, deletions, thumbnails and content
// fetches; creations and modifications are tested with their handlers.

#include <cerrno>
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <fstream>
#include <future>
#include <sstream>
#include <stdexcept>

#include "core/http/testing/scripted_transport.hpp"
#include "core/model/content_version.hpp"
#include "core/support/cancellation.hpp"
#include "core/support/clock.hpp"
#include "core/support/temporary_directory.hpp"
#include "core/support/thread_annotations.hpp"
#include "fileprovider/file_provider_extension.hpp"
#include "fileprovider/testing/fake_drive_listing.hpp"
#include "fileprovider/testing/records.hpp"
#include "platform/fileprovider/testing/recording_observers.hpp"
#include "platform/log/log_sink.hpp"

namespace cadrio {
namespace {

using fileprovider::Error;
using fileprovider::ItemPtr;
using testing::fileRecord;
using testing::folderRecord;

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
    ExtensionTest() { std::filesystem::create_directories(directory_ / "tmp"); }

    std::unique_ptr<FileProviderExtension> makeExtension(std::shared_ptr<SessionStoring> sessions) {
        auto client = std::make_shared<ApiClient>(
            DriveConfiguration("https://drive.test/api/v1", 1, std::chrono::milliseconds(400), 60), transport_,
            std::move(sessions), std::make_shared<InMemoryTrustedDeviceStore>(), clock_);
        FileProviderExtension::Parts parts{.client = client,
                                           .api = std::make_shared<const DriveAPI>(client),
                                           .listing = listing_,
                                           .store = store_};
        return std::make_unique<FileProviderExtension>(
            fileprovider::Domain{"a@cadrio.test", "a@cadrio.test"}, fileprovider::HostContext{directory_ / "tmp"},
            std::move(parts), log::Logger("zelvano.cadrio.sync", "fileprovider", sink_));
    }

    std::optional<Error> deleteItem(const std::string& identifier,
                                    fileprovider::DeleteItemOptions options = fileprovider::DeleteItemOptions::recursive,
                                    const std::string& contentVersion = {}, const std::string& metadataVersion = {}) {
        std::promise<std::optional<Error>> answer;
        extension_->deleteItem(fileprovider::ItemIdentifier(identifier), {contentVersion, metadataVersion}, options, {},
                               [&](std::optional<Error> error) { answer.set_value(error); });
        return answer.get_future().get();
    }

    ItemStore reloadedStore() const {
        return ItemStore(ItemStore::Locations{directory_ / "store.json", directory_ / "summary.json"});
    }

    VirtualClock clock_;
    TemporaryDirectory directory_{"handler-test"};
    std::shared_ptr<testing::ScriptedTransport> transport_ = std::make_shared<testing::ScriptedTransport>();
    std::shared_ptr<ItemStore> store_ =
        std::make_shared<ItemStore>(ItemStore::Locations{directory_ / "store.json", directory_ / "summary.json"});
    std::shared_ptr<testing::FakeDriveListing> listing_ = std::make_shared<testing::FakeDriveListing>();
    std::shared_ptr<log::MemorySink> sink_ = std::make_shared<log::MemorySink>();
    std::unique_ptr<FileProviderExtension> extension_ =
        makeExtension(std::make_shared<InMemorySessionStore>(DriveSession{"a@cadrio.test", "token", "pw"}));
};

// A domain that stays empty must say why once, and a secret store that
// throws must not take the restoring task down with it.
TEST_F(ExtensionTest, AMissingOrUnreadableSessionIsLoggedOnce) {
    const std::vector<std::shared_ptr<SessionStoring>> stores = {std::make_shared<InMemorySessionStore>(),
                                                                 std::make_shared<ThrowingSessionStore>()};
    for (const auto& sessions : stores) {
        sink_->clear();
        makeExtension(sessions).reset();  // waits for the restoring task
        EXPECT_EQ(sink_->messages().size(), 1u);
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

TEST_F(ExtensionTest, IdentifiersItCannotServeAreRefusedAtOnce) {
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
    // No enumerator for a file or a container that is not a folder.
    for (const std::string bad : {"f:12", "garbage", "", "NSFileProviderTrashContainerItemIdentifier"}) {
        try {
            extension_->enumerator(fileprovider::ItemIdentifier(bad), {});
            ADD_FAILURE() << bad << " gave an enumerator";
        } catch (const fileprovider::ErrorException& error) {
            EXPECT_EQ(error.error(), Error::noSuchItem()) << bad;
        }
    }
}

TEST_F(ExtensionTest, DeletionTrashesTheItemAndForgetsOnlyItsOwnRecord) {
    const std::string listedFile = R"([{"id":43,"file_name":"new.txt","id_folder":7}])";
    const std::string folderTrashed = R"({"file_ids":[],"folder_ids":[7]})";
    const std::string fileTrashed = R"({"file_ids":[42],"folder_ids":[]})";
    const Error rejected = Error::fileProvider(fileprovider::FileProviderErrorCode::deletionRejected);
    struct Case {
        const char* name;
        std::string identifier;
        fileprovider::DeleteItemOptions options;
        std::vector<std::pair<int, std::string>> answers;  // the last one to the trash, when it is reached
        std::optional<Error> answer;
        std::string trashed;  // the trash request's body; empty when none goes
        bool folderKept, fileKept;
        std::string contentVersion = {};  // the deleting side's; empty: any
        std::string metadataVersion = {};
    };
    const std::string seen = ContentVersion::token(fileRecord(42, "a.pdf", 7));
    const auto recursive = fileprovider::DeleteItemOptions::recursive, none = fileprovider::DeleteItemOptions::none;
    const std::vector<Case> cases = {
        {"recursive", "d:7", recursive, {{200, "{}"}}, std::nullopt, folderTrashed, false, true},
        {"empty on the drive", "d:7", none, {{200, "[]"}, {200, "[]"}, {200, "{}"}}, std::nullopt, folderTrashed,
         false, true},
        {"holds what nobody here saw", "d:7", none, {{200, "[]"}, {200, listedFile}}, Error::posix(ENOTEMPTY), "",
         true, true},
        {"contents changed elsewhere", "f:42", none, {}, rejected, "", true, true, "u:1:1"},
        {"moved elsewhere", "f:42", none, {}, rejected, "", true, true, seen, "a.pdf-9"},
        {"as last seen", "f:42", none, {{200, "{}"}}, std::nullopt, fileTrashed, true, false, seen, "a.pdf-7"},
        {"gone from the drive", "f:42", none, {{404, "{}"}}, Error::noSuchItem(), fileTrashed, true, true},
    };
    std::size_t sent = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        store_->upsert(std::vector{folderRecord(7, "Docs")}, std::vector{fileRecord(42, "a.pdf", 7)});
        store_->save();
        for (const auto& [status, body] : c.answers) transport_->enqueue(status, body);
        EXPECT_EQ(deleteItem(c.identifier, c.options, c.contentVersion, c.metadataVersion), c.answer);
        sent += c.answers.size();
        ASSERT_EQ(transport_->requests().size(), sent);
        EXPECT_EQ(transport_->requests().back().body, c.trashed);
        const ItemStore reloaded = reloadedStore();
        EXPECT_EQ(reloaded.folder(7).has_value(), c.folderKept);
        EXPECT_EQ(reloaded.file(42).has_value(), c.fileKept);
    }
    for (const std::string bad : {"NSFileProviderRootContainerItemIdentifier", "x:1", ""}) {
        EXPECT_EQ(deleteItem(bad), Error::noSuchItem()) << bad;
    }
    EXPECT_EQ(transport_->requests().size(), sent) << "nothing sent for what cannot be deleted";
}

/// A storage server for previews: presigns "k<id>" as https://s.test/<id>
/// and answers each download as `answer` says, once the test opens the gate.
class PreviewServer {
public:
    using Answer = std::function<HttpResponse(const std::string& id)>;

    explicit PreviewServer(Answer answer) : answer_(std::move(answer)) {}

    HttpResponse operator()(const HttpRequest& request) {
        const auto key = request.url.find("s3_key=k");
        if (key != std::string::npos) {
            return {200, {}, R"({"url":"https://s.test/)" + request.url.substr(key + 8) + R"("})"};
        }
        const std::string id = request.url.substr(std::string("https://s.test/").size());
        {
            UniqueLock lock(mutex_);
            ++inFlight_;
            maxInFlight_ = std::max(maxInFlight_, inFlight_);
            changed_.notify_all();
            while (!open_) changed_.wait(lock);
            --inFlight_;
        }
        return answer_(id);
    }
    void open() {
        LockGuard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    bool waitForInFlight(int count) {
        UniqueLock lock(mutex_);
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);  // safety only
        while (inFlight_ < count) {
            if (changed_.wait_until(lock, limit) == std::cv_status::timeout) return false;
        }
        return true;
    }
    int maxInFlight() {
        LockGuard lock(mutex_);
        return maxInFlight_;
    }

private:
    const Answer answer_;
    Mutex mutex_;
    std::condition_variable_any changed_;
    bool open_ CADRIO_GUARDED_BY(mutex_) = false;
    int inFlight_ CADRIO_GUARDED_BY(mutex_) = 0;
    int maxInFlight_ CADRIO_GUARDED_BY(mutex_) = 0;
};

// items is written under mutex by the answering threads and read once the
// final answer is in.
struct Thumbnails {
    Mutex mutex;
    std::vector<std::pair<std::string, std::optional<std::string>>> items;
    std::promise<std::optional<Error>> final;
    int finals = 0;
};

class ThumbnailTest : public ExtensionTest {
protected:
    std::shared_ptr<fileprovider::Progress> request(const std::vector<std::string>& identifiers,
                                                    const std::shared_ptr<PreviewServer>& server,
                                                    const std::shared_ptr<Thumbnails>& answers) {
        for (std::size_t i = 0; i < 2 * identifiers.size(); ++i) {
            transport_->enqueue([server](const HttpRequest& request) { return (*server)(request); });
        }
        std::vector<fileprovider::ItemIdentifier> ids(identifiers.begin(), identifiers.end());
        return extension_->fetchThumbnails(
            ids, {},
            [answers](const fileprovider::ItemIdentifier& id, std::optional<std::string> image,
                      std::optional<Error> error) {
                EXPECT_EQ(error, std::nullopt);
                LockGuard lock(answers->mutex);
                answers->items.emplace_back(id.rawValue(), std::move(image));
            },
            [answers](std::optional<Error> error) {
                if (answers->finals++ == 0) answers->final.set_value(error);
            });
    }

    void storeFile(std::int64_t id, std::optional<std::string> thumbnails) {
        DriveFile file = fileRecord(id, "p" + std::to_string(id) + ".jpg");
        file.thumbnailPath = std::move(thumbnails);
        store_->upsert({}, std::vector{file});
    }
};

TEST_F(ThumbnailTest, AtMostSixDownloadsAtATimeAndOneUnitPerIdentifier) {
    std::vector<std::string> identifiers;
    for (int id = 1; id <= 10; ++id) {
        storeFile(id, "k" + std::to_string(id));
        identifiers.push_back("f:" + std::to_string(id));
    }
    auto server = std::make_shared<PreviewServer>([](const std::string& id) {
        return HttpResponse{200, {}, "image " + id};
    });
    auto answers = std::make_shared<Thumbnails>();
    const auto progress = request(identifiers, server, answers);
    ASSERT_TRUE(server->waitForInFlight(6));
    server->open();
    EXPECT_EQ(answers->final.get_future().get(), std::nullopt);
    EXPECT_EQ(server->maxInFlight(), 6);
    EXPECT_EQ(progress->completedUnitCount(), 10);
    EXPECT_EQ(progress->totalUnitCount(), 10);
    std::sort(answers->items.begin(), answers->items.end());
    ASSERT_EQ(answers->items.size(), 10U);
    EXPECT_EQ(answers->items[0], (std::pair<std::string, std::optional<std::string>>{"f:1", "image 1"}));
    for (const HttpRequest& sent : transport_->requests()) {
        if (sent.url.starts_with("https://s.test/")) {
            for (const auto& [name, value] : sent.headers) EXPECT_NE(name, "Authorization") << "a presigned address";
        }
    }
}

TEST_F(ThumbnailTest, WhatHasNoUsablePreviewGetsAnEmptyAnswerAndNoError) {
    storeFile(1, std::nullopt);
    storeFile(2, "k2");
    storeFile(3, "k3");
    storeFile(4, "k4");
    auto server = std::make_shared<PreviewServer>([](const std::string& id) -> HttpResponse {
        if (id == "2") return {404, {}, "absent"};
        if (id == "3") return {200, {}, ""};
        throw DriveError::transport("connexion refusée");
    });
    server->open();
    auto answers = std::make_shared<Thumbnails>();
    const auto progress = request({"d:7", "NSFileProviderRootContainerItemIdentifier", "f:99", "f:1", "f:2", "f:3", "f:4"},
                                  server, answers);
    EXPECT_EQ(answers->final.get_future().get(), std::nullopt);
    EXPECT_EQ(progress->completedUnitCount(), 7);
    ASSERT_EQ(answers->items.size(), 7U);
    for (const auto& [id, image] : answers->items) EXPECT_EQ(image, std::nullopt) << id;
}

TEST_F(ThumbnailTest, CancellingAnswersOnceAndStartsNothingMore) {
    std::vector<std::string> identifiers;
    for (int id = 1; id <= 8; ++id) {
        storeFile(id, "k" + std::to_string(id));
        identifiers.push_back("f:" + std::to_string(id));
    }
    auto server = std::make_shared<PreviewServer>([](const std::string&) { return HttpResponse{200, {}, "x"}; });
    auto answers = std::make_shared<Thumbnails>();
    const auto progress = request(identifiers, server, answers);
    ASSERT_TRUE(server->waitForInFlight(6));
    progress->cancel();
    EXPECT_EQ(answers->final.get_future().get(), Error::userCancelled());
    server->open();
    extension_->tasks()->shutdown();
    EXPECT_EQ(answers->finals, 1);
    EXPECT_EQ(server->maxInFlight(), 6) << "no download starts after the cancellation";
    EXPECT_TRUE(answers->items.empty()) << "nothing after the final answer";
}

struct Fetched {
    std::optional<std::filesystem::path> contents;
    fileprovider::ItemPtr item;
    std::optional<Error> error;
};

class FetchTest : public ExtensionTest {
protected:
    std::shared_ptr<fileprovider::Progress> fetch(const std::string& identifier, std::promise<Fetched>& answer,
                                                  int& calls) {
        return extension_->fetchContents(fileprovider::ItemIdentifier(identifier), std::nullopt, {},
                                         [&](auto contents, auto item, auto error) {
                                             if (calls++ == 0) answer.set_value({contents, item, error});
                                         });
    }
    Fetched fetch(const std::string& identifier) {
        std::promise<Fetched> answer;
        int calls = 0;
        fetch(identifier, answer, calls);
        return answer.get_future().get();
    }
    static std::string read(const std::filesystem::path& path) {
        std::ostringstream text;
        text << std::ifstream(path, std::ios::binary).rdbuf();
        return text.str();
    }
};

TEST_F(FetchTest, ContentsComeFromAFreshGrantIntoTheHostsDirectory) {
    struct Case {
        int status;  // of the storage; 0: the grant is refused as archived
        std::optional<Error> answer;
        bool keptInStore;
    };
    const std::vector<Case> cases = {
        {200, std::nullopt, true},
        {503, Error::serverUnreachable(), true},
        {0, Error::noSuchItem(), false},  // archived since it was listed: it leaves the domain
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        store_->upsert({}, std::vector{fileRecord(42, "a.pdf")});
        store_->save();
        if (c.status != 0) {
            transport_->enqueue(200, R"({"url":"https://s.test/o","expires_in":60,"file_size":10,"content_hash":"h2"})");
            transport_->enqueue(c.status, "twelve bytes");
        } else {
            transport_->enqueue(409, "", {{"X-Drive-Conflict", "Archived"}});
        }
        const Fetched fetched = fetch("f:42");
        EXPECT_EQ(fetched.error, c.answer);
        if (!c.answer) {
            ASSERT_TRUE(fetched.contents);
            EXPECT_EQ(fetched.contents->parent_path(), directory_ / "tmp");
            EXPECT_EQ(read(*fetched.contents), "twelve bytes");
            ASSERT_TRUE(fetched.item);
            EXPECT_EQ(fetched.item->documentSize(), 12) << "what arrived, not what the grant announced";
            EXPECT_EQ(store_->file(42)->contentHash, "hash42") << "the store keeps its record";
        }
        EXPECT_EQ(reloadedStore().file(42).has_value(), c.keptInStore);
    }
    EXPECT_EQ(fetch("d:7").error, Error::noSuchItem());
    EXPECT_EQ(fetch("f:7").error, Error::noSuchItem());
}

TEST_F(FetchTest, CancellingStopsTheTransferAndAnswersOnce) {
    store_->upsert({}, std::vector{fileRecord(42, "a.pdf")});
    transport_->enqueue(200, R"({"url":"https://s.test/o","expires_in":60})");
    std::promise<void> entered;
    std::promise<void> cancelled;
    transport_->enqueue([&](const HttpRequest&) -> HttpResponse {
        entered.set_value();
        cancelled.get_future().wait();
        throw CancellationError();  // as the transport does once stopped
    });
    std::promise<Fetched> answer;
    int calls = 0;
    const auto progress = fetch("f:42", answer, calls);
    entered.get_future().get();
    progress->cancel();
    cancelled.set_value();
    extension_->tasks()->shutdown();
    EXPECT_EQ(answer.get_future().get().error, Error::userCancelled());
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(sink_->messages().empty()) << "a cancellation is not a failure";
}

}  // namespace
}  // namespace cadrio
