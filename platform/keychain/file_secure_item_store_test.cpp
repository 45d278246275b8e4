#include "platform/keychain/file_secure_item_store.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "core/support/atomic_file_testing.hpp"

#include "platform/keychain/keychain_error.hpp"

namespace cadrio {
namespace {

namespace fs = std::filesystem;

mode_t modeOf(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

std::int32_t statusOfFailure(const std::function<void()>& call) {
    try {
        call();
    } catch (const KeychainError& error) {
        return error.status();
    }
    return keychain_status::success;
}

class FileSecureItemStoreTest : public testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("cadrio-filestore-" + std::to_string(::getpid()) + "-" +
                                             testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        fs::create_directories(root_);
    }
    void TearDown() override {
        ::umask(savedUmask_);
        fs::remove_all(root_);
    }

    fs::path root_;
    mode_t savedUmask_ = ::umask(022);
    const SecureItemKey key_{"zelvano.cadrio.session", "alice@example.com", "group"};
};

TEST_F(FileSecureItemStoreTest, FolderAndItemsArePrivateWhateverTheUmask) {
    for (const mode_t mask : {mode_t{0}, mode_t{022}, mode_t{0277}}) {
        fs::remove_all(root_ / "keychain");
        ::umask(mask);
        FileSecureItemStore store(root_ / "keychain");
        store.add(key_, "secret");
        EXPECT_EQ(modeOf(store.directory()), 0700u) << "umask " << mask;
        EXPECT_EQ(modeOf(store.pathFor(key_)), 0600u) << "umask " << mask;
        EXPECT_TRUE(store.update(key_, "newer"));
        EXPECT_EQ(modeOf(store.pathFor(key_)), 0600u) << "umask " << mask;
    }
}

TEST_F(FileSecureItemStoreTest, RepairsAFolderFoundTooOpen) {
    fs::create_directory(root_ / "keychain");
    ::chmod((root_ / "keychain").c_str(), 0755);
    FileSecureItemStore store(root_ / "keychain");
    store.add(key_, "secret");
    EXPECT_EQ(modeOf(store.directory()), 0700u);
}

TEST_F(FileSecureItemStoreTest, LeavesOnlyHashedNamesAndNoTemporaryFiles) {
    FileSecureItemStore store(root_ / "keychain");
    store.add(key_, "secret");
    store.update(key_, "newer");
    store.add({"zelvano.cadrio.trusted-device", "bob@example.com", "group"}, "token");
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(store.directory())) {
        names.push_back(entry.path().filename().string());
    }
    ASSERT_EQ(names.size(), 2u);
    for (const auto& name : names) {
        EXPECT_EQ(name.size(), 64u) << name;
        EXPECT_EQ(name.find_first_not_of("0123456789abcdef"), std::string::npos) << name;
    }
}

// What lies at an item's place decides between "absent" and a failure.
TEST_F(FileSecureItemStoreTest, DamagedItemsFailInsteadOfReadingAsAbsent) {
    FileSecureItemStore store(root_ / "keychain");
    store.add({"other", "x", "y"}, "make the folder");
    const fs::path item = store.pathFor(key_);

    fs::create_directory(item);
    EXPECT_EQ(statusOfFailure([&] { store.find(key_); }), keychain_status::unreadableItem);
    fs::remove(item);

    fs::create_symlink(root_ / "elsewhere", item);
    std::ofstream(root_ / "elsewhere") << "planted";
    EXPECT_EQ(statusOfFailure([&] { store.find(key_); }), keychain_status::ioFailure);
    fs::remove(item);

    std::ofstream(item, std::ios::binary) << std::string(FileSecureItemStore::maxItemBytes + 1, 'x');
    EXPECT_EQ(statusOfFailure([&] { store.find(key_); }), keychain_status::unreadableItem);
    fs::remove(item);

    EXPECT_EQ(store.find(key_), std::nullopt);
}

TEST_F(FileSecureItemStoreTest, RefusesAFolderThatIsNotOne) {
    std::ofstream(root_ / "keychain") << "not a folder";
    FileSecureItemStore file(root_ / "keychain");
    EXPECT_EQ(statusOfFailure([&] { file.add(key_, "x"); }), keychain_status::ioFailure);

    fs::create_directory(root_ / "real");
    fs::create_directory_symlink(root_ / "real", root_ / "link");
    FileSecureItemStore link(root_ / "link");
    EXPECT_EQ(statusOfFailure([&] { link.add(key_, "x"); }), keychain_status::ioFailure);
    EXPECT_TRUE(fs::is_empty(root_ / "real"));
}

// Every file under `folder` whose bytes contain `text`.
std::vector<fs::path> filesHolding(const fs::path& folder, const std::string& text) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file()) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        if (bytes.find(text) != std::string::npos) found.push_back(entry.path());
    }
    return found;
}

// Signing out must not leave the password behind in what an update killed
// mid-write left.
TEST_F(FileSecureItemStoreTest, RemovalLeavesNoCopyOfTheItemBehind) {
    FileSecureItemStore store(root_ / "keychain");
    store.add(key_, "old-password");
    {
        test_support::WriterStoppedMidWrite update([&] { store.update(key_, "new-password" + std::string(8192, '.')); });
        ASSERT_TRUE(update.stopped());
    }
    ASSERT_EQ(filesHolding(root_, "new-password").size(), 1u);
    EXPECT_TRUE(store.remove(key_));
    EXPECT_EQ(filesHolding(root_, "new-password"), std::vector<fs::path>{});
    EXPECT_EQ(filesHolding(root_, "old-password"), std::vector<fs::path>{});
    EXPECT_TRUE(fs::is_empty(store.directory()));
}

TEST_F(FileSecureItemStoreTest, OpeningSweepsTheLeftoversOfEveryItem) {
    const SecureItemKey other{"zelvano.cadrio.trusted-device", "bob@example.com", "group"};
    {
        FileSecureItemStore store(root_ / "keychain");
        store.add(key_, "kept");
        test_support::WriterStoppedMidWrite add([&] { store.add(other, "token" + std::string(8192, '.')); });
        ASSERT_TRUE(add.stopped());
    }
    std::ofstream(root_ / "keychain" / ".tmp-1234-5678") << "password of an earlier release";
    FileSecureItemStore store(root_ / "keychain");
    EXPECT_EQ(fs::directory_iterator(store.directory())->path(), store.pathFor(key_));
    EXPECT_EQ(std::distance(fs::directory_iterator(store.directory()), fs::directory_iterator()), 1);
    EXPECT_EQ(store.find(other), std::nullopt);
}

TEST_F(FileSecureItemStoreTest, RefusesOversizedData) {
    FileSecureItemStore store(root_ / "keychain");
    const std::string big(FileSecureItemStore::maxItemBytes + 1, 'x');
    EXPECT_EQ(statusOfFailure([&] { store.add(key_, big); }), keychain_status::invalidParameter);
    EXPECT_EQ(store.find(key_), std::nullopt);
}

}  // namespace
}  // namespace cadrio
