#include "core/session/keychain_session_store.hpp"

#include <gtest/gtest.h>

#include "platform/keychain/keychain_error.hpp"
#include "platform/keychain/testing/secure_item_backends.hpp"

namespace cadrio {
namespace {

using test_support::SecureItemBackend;

const DriveSession kAlice{"alice@example.com", "token-1", "pa55"};
const DriveSession kAliceRenewed{"alice@example.com", "token-2", "pa55"};

class KeychainSessionStoreTest : public testing::TestWithParam<SecureItemBackend> {
protected:
    void SetUp() override {
        const std::string name = testing::UnitTest::GetInstance()->current_test_info()->name();
        service_ = test_support::uniqueName(name);
        folder_ = std::filesystem::temp_directory_path() / service_;
        std::filesystem::remove_all(folder_);
        std::string whyNot;
        items_ = GetParam().open(folder_, whyNot);
        if (!items_) {
            GTEST_SKIP() << "no Secret Service can start here: " << whyNot;
        }
        store_.emplace(service_, "group", *items_);
    }
    void TearDown() override {
        if (store_) store_->clear();
        std::filesystem::remove_all(folder_);
    }

    SecureItemKey itemKey() const { return {service_, "current", "group"}; }

    std::string service_;
    std::filesystem::path folder_;
    std::unique_ptr<SecureItemStore> items_;
    std::optional<KeychainSessionStore> store_;
};

// One item under the current account of its service and group: saving again
// overwrites it, and clearing leaves nothing behind.
TEST_P(KeychainSessionStoreTest, SavesOneItemAndClearsIt) {
    store_->save(kAlice);
    store_->save(kAliceRenewed);
    EXPECT_EQ(store_->load(), kAliceRenewed);
    EXPECT_EQ(DriveSession::decoded(*items_->find(itemKey())), kAliceRenewed);
    EXPECT_EQ(KeychainSessionStore(service_, "other-group", *items_).load(), std::nullopt);
    store_->clear();
    EXPECT_EQ(store_->load(), std::nullopt);
    EXPECT_EQ(items_->find(itemKey()), std::nullopt);
}

TEST_P(KeychainSessionStoreTest, AnItemMissingAKeyFailsToLoadAndStaysAsItWas) {
    const std::string stored = R"({"account":"a","accessToken":"t"})";
    items_->add(itemKey(), stored);
    EXPECT_THROW(store_->load(), SessionDecodingError);
    EXPECT_EQ(items_->find(itemKey()), stored);
}

INSTANTIATE_TEST_SUITE_P(Backends, KeychainSessionStoreTest,
                         testing::ValuesIn(test_support::allSecureItemBackends()),
                         [](const testing::TestParamInfo<SecureItemBackend>& info) { return info.param.name; });

TEST(KeychainSessionStoreFailureTest, StoreFailuresReachTheCallerAsKeychainErrors) {
    InMemorySecureItemStore items;
    KeychainSessionStore store("zelvano.cadrio.session", "group", items);
    store.save(kAlice);
    items.failWith(keychain_status::locked);
    for (const auto& call : std::vector<std::function<void()>>{
             [&] { store.load(); }, [&] { store.save(kAliceRenewed); }, [&] { store.clear(); }}) {
        try {
            call();
            ADD_FAILURE() << "a store failure was swallowed";
        } catch (const KeychainError& error) {
            EXPECT_EQ(error.status(), keychain_status::locked);
        }
    }
    items.failWith(std::nullopt);
    EXPECT_EQ(store.load(), kAlice) << "a failed save changed the item";

    // A session that cannot be written leaves the stored one alone too.
    EXPECT_THROW(store.save({"a", "t", std::string("\xff", 1)}), SessionEncodingError);
    EXPECT_EQ(store.load(), kAlice);
}

// Update finds nothing, then the other deliverable adds the item before our
// add: the save must still land.
class RacingItemStore final : public SecureItemStore {
public:
    std::optional<SecureItemData> find(const SecureItemKey& key) override { return inner.find(key); }
    bool update(const SecureItemKey& key, std::string_view data) override {
        if (updates++ == 0) {
            inner.add(key, "added by the other process");
            return false;
        }
        return inner.update(key, data);
    }
    void add(const SecureItemKey& key, std::string_view data) override { inner.add(key, data); }
    bool remove(const SecureItemKey& key) override { return inner.remove(key); }
    std::string_view backendName() const override { return "racing"; }

    InMemorySecureItemStore inner;
    int updates = 0;
};

TEST(KeychainSessionStoreFailureTest, SaveWinsARaceWithAnotherProcessAddingTheItem) {
    RacingItemStore items;
    KeychainSessionStore store("zelvano.cadrio.session", "group", items);
    store.save(kAlice);
    EXPECT_EQ(store.load(), kAlice);
    EXPECT_EQ(items.inner.size(), 1u);
}

}  // namespace
}  // namespace cadrio
