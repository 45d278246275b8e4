#include "devserver/drive_store.hpp"

#include "devserver/auth_test_server.hpp"
#include "devserver/service_error.hpp"

#include <gtest/gtest.h>

#include <algorithm>

namespace cadrio::devserver {
namespace {

constexpr const char* kAccount = "a@cadrio.test";

/// The ServiceError status `action` throws, 0 when it succeeds.
int statusOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const ServiceError& error) {
        return error.status();
    }
    return 0;
}

StoredContent content(const std::string& hash, std::int64_t size = 10) {
    return {"objects/" + std::string(32, 'a'), size, hash, "text/plain"};
}

class DriveStoreTest : public ::testing::Test {
protected:
    DriveStoreTest() {
        store_.setChangeListener([this](const std::string& account, bool driveChanged) {
            notices_.push_back(account + (driveChanged ? ":drive" : ":state"));
        });
        store_.addAccount({"A@Cadrio.test", "pw", {}, "", {}, 1.0});  // 1 MB quota
        notices_.clear();
    }

    std::int64_t cursor() { return store_.changes(kAccount, 0).cursor; }

    testing::VirtualClock clock_{1'700'000'000};
    DriveStore store_{clock_.function()};
    std::vector<std::string> notices_;
};

TEST_F(DriveStoreTest, RefusedOrEmptyChangesTakeNoCursor) {
    store_.createFolder(kAccount, "Docs", 0);
    EXPECT_EQ(statusOf([&] { store_.createFolder(kAccount, "x", 999); }), 404);
    EXPECT_EQ(statusOf([&] { store_.move(kAccount, {}, {}, 0); }), 0);
    EXPECT_EQ(statusOf([&] { store_.updateFolder(kAccount, 1, std::nullopt, std::nullopt); }), 0);
    EXPECT_EQ(cursor(), 1);
    EXPECT_EQ(notices_.size(), 1u);
}

TEST_F(DriveStoreTest, CursorsOutsideTheRetainedRangeHaveExpired) {
    for (int i = 0; i < 4; ++i) store_.createFolder(kAccount, "f" + std::to_string(i), 0);
    EXPECT_EQ(store_.expireCursors(kAccount, std::nullopt), 4);
    struct Case {
        std::int64_t since;
        int status;
    };
    for (const auto& c : {Case{0, 0}, Case{3, 410}, Case{4, 0}, Case{5, 410}, Case{-1, 400}}) {
        EXPECT_EQ(statusOf([&] { store_.changes(kAccount, c.since); }), c.status) << "since " << c.since;
    }
    store_.expireCursors(kAccount, 2);
    EXPECT_EQ(statusOf([&] { store_.changes(kAccount, 2); }), 0);
}

TEST_F(DriveStoreTest, TrashingAFolderTrashesItsWholeContentInOneChange) {
    const auto top = store_.createFolder(kAccount, "top", 0);
    const auto inner = store_.createFolder(kAccount, "inner", top);
    const auto deep = store_.createFile(kAccount, {"deep.txt", inner, content("h"), "standard", {}});
    const auto outside = store_.createFile(kAccount, {"out.txt", 0, content("h"), "standard", {}});
    const auto before = cursor();
    store_.trash(kAccount, {}, {top});

    const auto page = store_.changes(kAccount, before);
    EXPECT_EQ(page.cursor, before + 1);
    ASSERT_EQ(page.folders.size(), 2u);
    ASSERT_EQ(page.files.size(), 1u);
    EXPECT_EQ(page.files[0].id, deep.id);
    EXPECT_TRUE(page.files[0].trashed && page.folders[0].trashed && page.folders[1].trashed);
    EXPECT_EQ(statusOf([&] { store_.folders(kAccount, inner); }), 404);
    EXPECT_EQ(store_.files(kAccount, 0, 10).size(), 1u);
    EXPECT_EQ(store_.files(kAccount, 0, 10)[0].id, outside.id);
    // Trashing again is accepted and changes nothing.
    EXPECT_EQ(statusOf([&] { store_.trash(kAccount, {deep.id}, {top}); }), 0);
    EXPECT_EQ(cursor(), before + 1);
}

TEST_F(DriveStoreTest, FoldersCannotMoveIntoThemselvesOrTheirDescendants) {
    const auto a = store_.createFolder(kAccount, "a", 0);
    const auto b = store_.createFolder(kAccount, "b", a);
    const auto c = store_.createFolder(kAccount, "c", b);
    EXPECT_EQ(statusOf([&] { store_.move(kAccount, {}, {a}, c); }), 400);
    EXPECT_EQ(statusOf([&] { store_.updateFolder(kAccount, a, std::nullopt, a); }), 400);
    EXPECT_EQ(statusOf([&] { store_.updateFolder(kAccount, c, std::nullopt, 0); }), 0);
    EXPECT_EQ(statusOf([&] { store_.move(kAccount, {}, {a}, c); }), 0);
}

TEST_F(DriveStoreTest, NamesMustBeUsableFileNames) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {"Notes.txt", true},       {"é ü 日本", true},        {std::string(255, 'x'), true},
        {"", false},               {".", false},              {"..", false},
        {"a/b", false},            {std::string("a\0b", 3), false},
        {std::string(256, 'x'), false}, {"\xC3", false},       {"\xC0\xAF", false},
        {"\xED\xA0\x80", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(statusOf([&] { store_.createFolder(kAccount, c.first, 0); }), c.second ? 0 : 400) << c.first;
    }
}

TEST_F(DriveStoreTest, LockAndReinforcedStorageProtectMetadataToo) {
    const auto file = store_.createFile(kAccount, {"a", 0, content("h"), "standard", {}});
    store_.setLocked(kAccount, file.id, true);
    EXPECT_EQ(statusOf([&] { store_.renameFile(kAccount, file.id, "b"); }), 423);
    EXPECT_EQ(statusOf([&] { store_.trash(kAccount, {file.id}, {}); }), 423);
    store_.setLocked(kAccount, file.id, false);
    store_.setReinforced(kAccount, file.id, true);
    EXPECT_EQ(statusOf([&] { store_.move(kAccount, {file.id}, {}, 0); }), 409);
    EXPECT_EQ(store_.replaceContent(kAccount, file.id, {}, content("x"), /*asOwner=*/true).file.contentHash, "x");
}

TEST_F(DriveStoreTest, SnapshotRoundTripsAndMalformedOnesChangeNothing) {
    const auto folder = store_.createFolder(kAccount, "Docs", 0);
    store_.createFile(kAccount, {"a", folder, content("h"), "glacier", {"thumbnails/x_64x64.jpg"}});
    store_.expireCursors(kAccount, 1);
    std::uint64_t version = 0;
    const auto snapshot = store_.snapshot(version);

    DriveStore copy(clock_.function());
    copy.restore(snapshot);
    std::uint64_t ignored = 0;
    EXPECT_EQ(copy.snapshot(ignored), snapshot);
    EXPECT_EQ(copy.createFolder(kAccount, "next", 0), store_.createFolder(kAccount, "next", 0));

    const auto corrupt = [&](const std::function<void(nlohmann::json&)>& edit) {
        auto bad = snapshot;
        edit(bad);
        return bad;
    };
    const std::vector<nlohmann::json> malformed = {
        nlohmann::json::array(),
        corrupt([](auto& s) { s["format"] = 99; }),
        corrupt([](auto& s) { s["accounts"][0]["files"][0]["file_size"] = "ten"; }),
        corrupt([](auto& s) { s["accounts"][0]["files"][0]["id_folder"] = 12345; }),
        corrupt([](auto& s) { s["accounts"][0]["folders"][0]["id_parent"] = s["accounts"][0]["folders"][0]["id"]; }),
        corrupt([](auto& s) { s["accounts"][0]["files"][0]["storage_class"] = "frozen"; }),
        corrupt([](auto& s) { s["next_id"] = 1; }),
        corrupt([](auto& s) { s["accounts"].push_back(s["accounts"][0]); }),
    };
    for (const auto& bad : malformed) {
        EXPECT_THROW(copy.restore(bad), std::runtime_error) << bad.dump().substr(0, 120);
        EXPECT_TRUE(copy.hasAccount(kAccount));
    }
}

}  // namespace
}  // namespace cadrio::devserver
