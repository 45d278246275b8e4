#include "fileprovider/item_creation.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "fileprovider/testing/item_change_drive.hpp"
#include "fileprovider/testing/records.hpp"

namespace cadrio {
namespace {

using fileprovider::BasicItem;
using fileprovider::CreateItemOptions;
using fileprovider::Error;
using testing::answering;

constexpr std::string_view kEmptyHash = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
constexpr std::string_view kAbcHash = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

BasicItem templateItem(std::string name, types::ContentType type, std::string parent = "d:3") {
    BasicItem item;
    item.name = std::move(name);
    item.type = std::move(type);
    item.parent = fileprovider::ItemIdentifier(std::move(parent));
    return item;
}

class ItemCreationTest : public testing::ItemChangeDrive {
protected:
    Answer create(const BasicItem& item, std::optional<std::filesystem::path> contents = std::nullopt,
                  CreateItemOptions options = CreateItemOptions::mayAlreadyExist) {
        return answerOf([&](ItemChangeCompletion complete) {
            createItem(parts_, tasks_, item, contents, options, std::move(complete));
        });
    }
    std::filesystem::path contents(const std::string& bytes) {
        const auto path = directory_ / "contents";
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
};

TEST_F(ItemCreationTest, RefusalsAreAnsweredBeforeAnyTask) {
    const std::vector<std::pair<BasicItem, Error>> cases = {
        {templateItem(".DS_Store", types::ContentType::data()), Error::excludedFromSync()},
        {templateItem("a", types::ContentType::folder(), "f:3"), Error::noSuchItem()},
        {templateItem("a", types::ContentType::folder(), "d:x"), Error::noSuchItem()},
        {templateItem("lien", types::ContentType::symbolicLink()),
         Error::featureUnsupported("Les liens symboliques ne sont pas pris en charge par le Cadrio.")},
    };
    for (const auto& [item, error] : cases) {
        std::optional<Error> answered;
        createItem(parts_, tasks_, item, std::nullopt, CreateItemOptions::none,
                   [&](auto, auto, auto, std::optional<Error> e) { answered = e; });
        EXPECT_EQ(answered, error) << item.name;
    }
    EXPECT_TRUE(transport_->requests().empty());
}

TEST_F(ItemCreationTest, AFolderThatMayExistIsFoundByCanonicalNameElseCreated) {
    store_->upsert(std::vector{testing::folderRecord(8, "Cafe\xCC\x81", 3)}, {});
    routes_["POST /drive/folders"] = answering(200, R"({"id": 31})");

    const Answer found = create(templateItem("Caf\xC3\xA9", types::ContentType::folder()));
    EXPECT_EQ(found.item->itemIdentifier().rawValue(), "d:8");
    EXPECT_TRUE(transport_->requests().empty());

    const Answer made = create(templateItem("caf\xC3\xA9", types::ContentType::folder()));  // case differs
    EXPECT_EQ(made.item->itemIdentifier().rawValue(), "d:31");
    EXPECT_EQ(sent(), std::vector<std::string>{"POST /drive/folders"});
    EXPECT_EQ(ItemStore(store_->locations()).folder(31)->parentFolderID, 3) << "saved";
    EXPECT_EQ(sink_->messages(), std::vector<std::string>{"Dossier 31 créé."});
}

TEST_F(ItemCreationTest, AFileThatMayExistMatchesByNameAndHashAlsoOnceAnotherDeviceTrashedIt) {
    routes_["POST /drive/upload/file"] = answering(200, R"({"id": 501, "s3_key": "k/new", "file_size": 3})");
    routes_["GET /drive/files/501/download-url"] = answering(200, R"({"url": "https://s.test/o"})");
    routes_["GET /drive/files"] = answering(200, "[]");
    routes_["GET /drive/files/9/download-url"] = answering(200, R"({"url": "https://s.test/9", "content_hash": "other"})");
    const auto live = std::vector{testing::folderRecord(3, "D"), testing::folderRecord(5, "E")};
    store_->upsert(live, {});
    struct Case {
        std::int64_t id;
        const char* name;
        bool sameHash, trashed;
        std::int64_t parent;  // 40: a folder trashed with the file
        std::int64_t answered;
        bool conflict;  // the bytes went up as a conflict copy beside it
    };
    for (const Case c : {Case{9, "a.txt", true, false, 3, 9, false}, Case{9, "a.txt", false, false, 3, 9, true},
                         Case{12, "b.txt", true, true, 3, 12, false}, Case{13, "c.txt", true, true, 40, 13, false},
                         Case{14, "e.txt", true, true, 5, 501, false}}) {
        SCOPED_TRACE(c.name);
        auto stored = testing::fileRecord(c.id, c.name, c.parent);
        stored.contentHash = c.sameHash ? std::string(kAbcHash) : "other";
        stored.isTrashed = c.trashed;
        store_->upsert({}, std::vector{stored});
        const std::size_t before = transport_->requests().size();
        const std::size_t conflicts = store_->summary().conflicts.size();
        const Answer answer = create(templateItem(c.name, types::ContentType::plainText()), contents("abc"));
        EXPECT_EQ(answer.item->itemIdentifier().rawValue(), "f:" + std::to_string(c.answered));
        EXPECT_EQ(answer.shouldFetchContent, c.conflict);
        EXPECT_EQ(store_->summary().conflicts.size(), conflicts + (c.conflict ? 1 : 0));
        EXPECT_EQ(transport_->requests().size() > before, c.answered == 501 || c.conflict);
    }
    // Two files of that name: neither can be taken for the attempt.
    store_->upsert({}, std::vector{testing::fileRecord(15, "a.txt", 3)});
    EXPECT_EQ(create(templateItem("a.txt", types::ContentType::plainText()), contents("abc")).item->itemIdentifier().rawValue(),
              "f:501");
}

TEST_F(ItemCreationTest, AFileWhoseAnswerWasLostIsFoundWhereAnotherDeviceMovedItNotInAnOlderCopy) {
    store_->upsert(std::vector{testing::folderRecord(3, "D"), testing::folderRecord(5, "E")}, {});
    auto copy = testing::fileRecord(7, "a.txt", 5);
    copy.contentHash = std::string(kAbcHash);
    store_->upsert({}, std::vector{copy});
    routes_["POST /drive/upload/file"] = answering(503, "");
    const auto item = templateItem("a.txt", types::ContentType::plainText());
    ASSERT_TRUE(create(item, contents("abc"), CreateItemOptions::none).error);
    EXPECT_EQ(create(item, contents("abc")).error, Error::serverUnreachable()) << "an older copy is not the attempt";

    auto landed = testing::fileRecord(9, "a.txt", 5);  // the first attempt, moved to E since
    landed.contentHash = std::string(kAbcHash);
    store_->upsert({}, std::vector{landed});
    const std::size_t before = transport_->requests().size();
    EXPECT_EQ(create(item, contents("abc")).item->itemIdentifier().rawValue(), "f:9");
    EXPECT_EQ(transport_->requests().size(), before);
}

TEST_F(ItemCreationTest, WithoutContentsAnEmptyFileIsUploadedAndItsScratchFileRemoved) {
    const auto scratch = directory_ / "tmp";
    std::filesystem::create_directories(scratch);
    const char* previous = std::getenv("TMPDIR");
    const std::string kept = previous ? previous : "";
    setenv("TMPDIR", scratch.c_str(), 1);
    routes_["POST /drive/upload/file"] = answering(200, R"({"id": 501, "s3_key": "k/new"})");
    routes_["GET /drive/files/501/download-url"] = answering(200, R"({"url": "https://s.test/o"})");

    const Answer answer = create(templateItem("notes.zzinconnu", types::ContentType::data()), std::nullopt,
                                 CreateItemOptions::none);
    previous ? setenv("TMPDIR", kept.c_str(), 1) : unsetenv("TMPDIR");
    ASSERT_FALSE(answer.error);
    const std::string body = bodyOf("POST /drive/upload/file");
    EXPECT_NE(body.find(kEmptyHash), std::string::npos);
    EXPECT_NE(body.find("application/octet-stream"), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_empty(scratch)) << "the scratch file is removed";
    EXPECT_EQ(sink_->messages(), std::vector<std::string>{"Fichier 501 créé (0 octets)."});
}

TEST_F(ItemCreationTest, FailuresAreLoggedAndMappedButACancellationAnswersAlone) {
    routes_["POST /drive/folders"] = answering(503, "");
    const Answer failed = create(templateItem("A", types::ContentType::folder()));
    EXPECT_EQ(failed.error, Error::serverUnreachable());
    ASSERT_EQ(sink_->messages().size(), 1u);
    EXPECT_EQ(sink_->messages()[0].rfind("Création impossible : ", 0), 0u) << sink_->messages()[0];

    // The request is on its way when the host cancels; its late failure is dropped.
    sink_->clear();
    std::promise<void> reached;
    std::promise<void> release;
    routes_["POST /drive/folders"] = [&](const HttpRequest&) {
        reached.set_value();
        release.get_future().wait();
        return HttpResponse{503, {}, ""};
    };
    std::vector<std::optional<Error>> answers;
    const auto progress = createItem(parts_, tasks_, templateItem("B", types::ContentType::folder()), std::nullopt,
                                     CreateItemOptions::none,
                                     [&](auto, auto, auto, std::optional<Error> e) { answers.push_back(e); });
    reached.get_future().wait();
    progress->cancel();
    release.set_value();
    tasks_.shutdown();
    EXPECT_EQ(answers, std::vector<std::optional<Error>>{Error::userCancelled()});
    EXPECT_TRUE(sink_->messages().empty());
}

}  // namespace
}  // namespace cadrio
