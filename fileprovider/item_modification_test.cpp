#include "fileprovider/item_modification.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include <nlohmann/json.hpp>

#include "core/model/content_hasher.hpp"
#include "core/model/sync_naming.hpp"
#include "core/model/time_zone.hpp"
#include "fileprovider/testing/item_change_drive.hpp"
#include "fileprovider/testing/records.hpp"

namespace cadrio {
namespace {

using fileprovider::BasicItem;
using fileprovider::Error;
using fileprovider::ItemFields;
using testing::answering;
using Strings = std::vector<std::string>;

BasicItem itemOf(std::string id, std::string name, std::string parent) {
    BasicItem item;
    item.identifier = fileprovider::ItemIdentifier(std::move(id));
    item.name = std::move(name);
    item.parent = fileprovider::ItemIdentifier(std::move(parent));
    return item;
}

class ItemModificationTest : public testing::ItemChangeDrive {
protected:
    Answer modify(const BasicItem& item, ItemFields fields, std::optional<std::filesystem::path> contents = {},
                  std::string baseVersion = "h:old") {
        return answerOf([&](ItemChangeCompletion complete) {
            modifyItem(parts_, tasks_, item, {baseVersion, ""}, fields, contents, std::move(complete));
        });
    }
    std::filesystem::path contents(const std::string& bytes) {
        const auto path = directory_ / "contents";
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
};

TEST_F(ItemModificationTest, AFolderSendsOnlyWhatCounts) {
    struct Case {
        BasicItem item;
        ItemFields fields;
        Strings sent;
        std::string body;
    };
    const std::vector<Case> cases = {
        {itemOf("d:5", "A", "NSFileProviderRootContainerItemIdentifier"),
         ItemFields::filename | ItemFields::parentItemIdentifier, {}, ""},
        {itemOf("d:5", "B", "d:9"), ItemFields::filename, {"PUT /drive/folders/5"}, R"({"folder_name":"B"})"},
        {itemOf("d:5", "B", "d:9"), ItemFields::parentItemIdentifier, {"PUT /drive/folders/5"}, R"({"parent_id":9})"},
        {itemOf("d:5", "A", "d:9"), ItemFields::contentModificationDate, {}, ""},
    };
    routes_["PUT /drive/folders/5"] = answering(200, "{}");
    for (const Case& c : cases) {
        store_->upsert(std::vector{testing::folderRecord(5, "A")}, {});
        const std::size_t before = transport_->requests().size();
        const Answer answer = modify(c.item, c.fields);
        ASSERT_FALSE(answer.error);
        const Strings all = sent();
        EXPECT_EQ(Strings(all.begin() + static_cast<std::ptrdiff_t>(before), all.end()), c.sent) << c.body;
        if (!c.sent.empty()) {
            EXPECT_EQ(transport_->requests().back().body, c.body);
        }
        EXPECT_EQ(store_->folder(5)->name, answer.item->filename());
    }
}

TEST_F(ItemModificationTest, DateOnlyChangesOfAFileSendNothing) {
    store_->upsert({}, std::vector{testing::fileRecord(42, "a.txt", 3)});
    const Answer answer = modify(itemOf("f:42", "a.txt", "d:3"),
                                 ItemFields::contentModificationDate | ItemFields::lastUsedDate);
    EXPECT_EQ(answer.item->filename(), "a.txt");
    EXPECT_FALSE(answer.shouldFetchContent);
    EXPECT_TRUE(transport_->requests().empty());
}

TEST_F(ItemModificationTest, ContentsAnotherDeviceTrashedAfterTheyLandedAreNotSentAgain) {
    for (const bool landed : {true, false}) {
        auto trashed = testing::fileRecord(42, "a.txt", 3);
        trashed.contentHash = landed ? "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad" : "other";
        trashed.isTrashed = true;
        store_->upsert({}, std::vector{trashed});
        const std::size_t before = transport_->requests().size();
        const Answer answer = modify(itemOf("f:42", "a.txt", "d:3"), ItemFields::contents, contents("abc"));
        EXPECT_EQ(answer.item != nullptr, landed);
        EXPECT_EQ(transport_->requests().size() > before, !landed) << "landed: " << landed;
    }
}

TEST_F(ItemModificationTest, AnExcludedNewNameFailsAfterTheMoveWasSent) {
    store_->upsert({}, std::vector{testing::fileRecord(42, "a.txt", 3)});
    routes_["POST /drive/move"] = answering(200, "{}");
    const Answer answer =
        modify(itemOf("f:42", "~$a.txt", "d:9"), ItemFields::filename | ItemFields::parentItemIdentifier);
    EXPECT_EQ(answer.error, Error::excludedFromSync());
    EXPECT_EQ(sent(), Strings{"POST /drive/move"});
    ASSERT_EQ(sink_->messages().size(), 1u);
    EXPECT_EQ(sink_->messages()[0].rfind("Modification de f:42 impossible : ", 0), 0u);
}

TEST_F(ItemModificationTest, AMoveListedWhileARenameWentIsKept) {
    store_->upsert({}, std::vector{testing::fileRecord(42, "a.txt", 3)});
    routes_["PUT /drive/files/42/rename"] = [this](const HttpRequest&) {
        store_->upsert({}, std::vector{testing::fileRecord(42, "a.txt", 9)});  // a change page meanwhile
        return HttpResponse{200, {}, "{}"};
    };
    const Answer answer = modify(itemOf("f:42", "b.txt", "d:3"), ItemFields::filename);
    ASSERT_TRUE(answer.item);
    EXPECT_EQ(answer.item->filename(), "b.txt");
    EXPECT_EQ(answer.item->parentItemIdentifier(), fileprovider::ItemIdentifier("d:9"));
    EXPECT_EQ(store_->file(42)->parentFolderID, 9);
}

TEST_F(ItemModificationTest, AVersionConflictKeepsOneCopyAndAsksForTheServersContent) {
    struct Case {
        int copyStatus;  // of the copy's upload
        std::optional<Error> error;
        std::size_t conflicts;
        std::string base;  // empty: bytes written on a conflict copy's, never sent as a replacement
    };
    for (const Case& c : {Case{200, std::nullopt, 1, "h:old"}, Case{409, Error::serverUnreachable(), 0, "h:old"},
                          Case{200, std::nullopt, 1, ""}}) {
        SCOPED_TRACE(c.base);
        auto stored = testing::fileRecord(42, "Rapport.pdf", 3);
        stored.contentHash = "old";
        store_->upsert({}, std::vector{stored});
        routes_["PUT /drive/files/42/content"] = answering(409, "");
        routes_["GET /drive/files"] = answering(200, "[]");
        routes_["POST /drive/upload/file"] = answering(c.copyStatus, R"({"id": 77, "s3_key": "k/c", "file_size": 5})");
        routes_["GET /drive/files/77/download-url"] = answering(200, R"({"url": "https://s.test/c"})");
        routes_["GET /drive/files/42/download-url"] =
            answering(200, R"({"url": "https://s.test/o", "content_hash": "server", "date_upload": 1700000900})");
        const std::size_t before = transport_->requests().size();
        const std::size_t conflictsBefore = store_->summary().conflicts.size();

        const Answer answer = modify(itemOf("f:42", "Rapport.pdf", "d:3"), ItemFields::contents,
                                     contents(c.error ? "other edit" : "local" + c.base), c.base);
        EXPECT_EQ(answer.error, c.error);
        const Strings all = sent();
        EXPECT_EQ(std::count(all.begin() + static_cast<std::ptrdiff_t>(before), all.end(), "POST /drive/upload/file"), 1)
            << "one copy, never a second attempt";
        const DomainSummary summary = store_->summary();
        ASSERT_EQ(summary.conflicts.size(), conflictsBefore + c.conflicts);
        if (c.error) continue;
        EXPECT_TRUE(answer.shouldFetchContent);
        EXPECT_EQ(store_->file(42)->contentHash, "server");
        EXPECT_EQ(answer.item->itemVersion().contentVersion, "u:1700000900:142");
        EXPECT_EQ(summary.conflicts[0].copyName,
                  SyncNaming::conflictCopyName("Rapport.pdf", clock_.wallNow(), currentTimeZoneName()));
        EXPECT_EQ(store_->file(77)->parentFolderID, 3);
        EXPECT_EQ(std::count(all.begin() + static_cast<std::ptrdiff_t>(before), all.end(), "PUT /drive/files/42/content"),
                  c.base.empty() ? 0 : 1);
        if (!c.base.empty()) {
            EXPECT_NE(bodyOf("PUT /drive/files/42/content").find("old"), std::string::npos) << "sent on condition";
        }
    }
}

TEST_F(ItemModificationTest, AConflictSentAgainReusesTheCopyAnEarlierAttemptLeft) {
    // The first attempt's copy, a few minutes ago, known to the store (also
    // in the folder the file has left since) or, when its answer was lost,
    // only to the drive; and one of other bytes that must not be taken for it.
    const std::string earlierName =
        SyncNaming::conflictCopyName("Rapport.pdf", clock_.wallNow() - std::chrono::minutes(3), currentTimeZoneName());
    const std::string hash = ContentHasher::sha256(contents("local"));
    for (const std::int64_t copyFolder : {3, 5, 0}) {
        const bool inStore = copyFolder != 0;
        auto stored = testing::fileRecord(42, "Rapport.pdf", 3);
        stored.contentHash = "old";
        auto earlier = testing::fileRecord(77, earlierName, inStore ? copyFolder : 3);
        earlier.contentHash = hash;
        auto other = testing::fileRecord(78, SyncNaming::conflictCopyName("Rapport.pdf", clock_.wallNow(), currentTimeZoneName()), 3);
        other.contentHash = "other";
        store_->upsert({}, inStore ? std::vector{stored, earlier, other} : std::vector{stored, other});
        const nlohmann::json listed = {{{"id", 77}, {"file_name", earlierName}, {"id_folder", 3}, {"content_hash", hash}}};
        routes_["GET /drive/files"] = answering(200, inStore ? "[]" : listed.dump());
        routes_["PUT /drive/files/42/content"] = answering(409, "");
        routes_["GET /drive/files/42/download-url"] =
            answering(200, R"({"url": "https://s.test/o", "content_hash": "server", "date_upload": 1700000900})");
        const std::size_t before = transport_->requests().size();

        const Answer answer = modify(itemOf("f:42", "Rapport.pdf", "d:3"), ItemFields::contents, contents("local"));
        ASSERT_FALSE(answer.error) << copyFolder;
        EXPECT_TRUE(answer.shouldFetchContent);
        const Strings all = sent();
        EXPECT_EQ(std::count(all.begin() + static_cast<std::ptrdiff_t>(before), all.end(), "POST /drive/upload/file"), 0)
            << "the copy was uploaded twice; in the store under folder " << copyFolder;
        EXPECT_TRUE(store_->file(77));
    }
}

}  // namespace
}  // namespace cadrio
