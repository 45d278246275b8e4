// The extension's handlers over a scripted drive.

#include <gtest/gtest.h>

#include <future>

#include "core/http/testing/scripted_transport.hpp"
#include "core/support/clock.hpp"
#include "core/support/temporary_directory.hpp"
#include "fileprovider/file_provider_extension.hpp"
#include "fileprovider/testing/fake_drive_listing.hpp"
#include "fileprovider/testing/records.hpp"
#include "platform/log/log_sink.hpp"

namespace cadrio {
namespace {

using fileprovider::Error;
using testing::fileRecord;
using testing::folderRecord;

class HandlerTest : public ::testing::Test {
protected:
    HandlerTest() {
        auto client = std::make_shared<ApiClient>(
            DriveConfiguration("https://drive.test/api/v1", 1, std::chrono::milliseconds(400), 60), transport_,
            std::make_shared<InMemorySessionStore>(DriveSession{"a@cadrio.test", "token", "pw"}),
            std::make_shared<InMemoryTrustedDeviceStore>(), clock_);
        FileProviderExtension::Parts parts{.client = client,
                                           .api = std::make_shared<const DriveAPI>(client),
                                           .listing = std::make_shared<testing::FakeDriveListing>(),
                                           .store = store_};
        extension_ = std::make_unique<FileProviderExtension>(
            fileprovider::Domain{"a@cadrio.test", "a@cadrio.test"}, fileprovider::HostContext{directory_ / "tmp"},
            std::move(parts), log::Logger("zelvano.cadrio.sync", "fileprovider", sink_));
        std::filesystem::create_directories(directory_ / "tmp");
    }

    std::optional<Error> deleteItem(const std::string& identifier) {
        std::promise<std::optional<Error>> answer;
        extension_->deleteItem(fileprovider::ItemIdentifier(identifier), {}, {}, {},
                               [&](std::optional<Error> error) { answer.set_value(error); });
        return answer.get_future().get();
    }

    /// The request paths sent, after the API prefix.
    std::vector<std::string> paths() const {
        std::vector<std::string> result;
        for (const HttpRequest& request : transport_->requests()) {
            result.push_back(request.method + " " + request.url.substr(std::string("https://drive.test/api/v1").size()));
        }
        return result;
    }

    ItemStore reloadedStore() const {
        return ItemStore(ItemStore::Locations{directory_ / "store.json", directory_ / "summary.json"});
    }

    VirtualClock clock_;
    TemporaryDirectory directory_{"handler-test"};
    std::shared_ptr<testing::ScriptedTransport> transport_ = std::make_shared<testing::ScriptedTransport>();
    std::shared_ptr<ItemStore> store_ =
        std::make_shared<ItemStore>(ItemStore::Locations{directory_ / "store.json", directory_ / "summary.json"});
    std::shared_ptr<log::MemorySink> sink_ = std::make_shared<log::MemorySink>();
    std::unique_ptr<FileProviderExtension> extension_;
};

TEST_F(HandlerTest, DeletionTrashesTheItemAndForgetsOnlyItsOwnRecord) {
    struct Case {
        std::string identifier;
        int status;
        std::optional<Error> answer;
        std::string body;  // sent to the trash
        std::string log;
        bool folderKept, fileKept;
    };
    const std::vector<Case> cases = {
        {"d:7", 200, std::nullopt, R"({"file_ids":[],"folder_ids":[7]})", "d:7 mis à la corbeille du Cadrio.", false,
         true},
        {"f:42", 200, std::nullopt, R"({"file_ids":[42],"folder_ids":[]})", "f:42 mis à la corbeille du Cadrio.", true,
         false},
        {"f:42", 404, Error::noSuchItem(), R"({"file_ids":[42],"folder_ids":[]})",
         "Suppression de f:42 impossible : Cet élément n'existe plus sur le Cadrio.", true, true},
    };
    for (const Case& c : cases) {
        store_->upsert(std::vector{folderRecord(7, "Docs")}, std::vector{fileRecord(42, "a.pdf", 7)});
        store_->save();
        sink_->clear();
        const std::size_t sent = transport_->requests().size();
        transport_->enqueue(c.status, "{}");
        EXPECT_EQ(deleteItem(c.identifier), c.answer) << c.identifier;
        ASSERT_EQ(transport_->requests().size(), sent + 1);
        EXPECT_EQ(transport_->requests().back().body, c.body);
        EXPECT_EQ(sink_->messages(), std::vector<std::string>{c.log});
        const ItemStore reloaded = reloadedStore();
        EXPECT_EQ(reloaded.folder(7).has_value(), c.folderKept) << c.identifier;
        EXPECT_EQ(reloaded.file(42).has_value(), c.fileKept) << c.identifier;
    }
    for (const std::string bad : {"NSFileProviderRootContainerItemIdentifier", "x:1", ""}) {
        EXPECT_EQ(deleteItem(bad), Error::noSuchItem()) << bad;
    }
    EXPECT_EQ(transport_->requests().size(), cases.size()) << "nothing sent for what cannot be deleted";
}

}  // namespace
}  // namespace cadrio
