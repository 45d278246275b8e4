#include "core/session/keychain_trusted_device_store.hpp"

#include <gtest/gtest.h>

#include "platform/keychain/keychain_error.hpp"
#include "platform/keychain/testing/secure_item_backends.hpp"

namespace cadrio {
namespace {

// Each implementation of TrustedDeviceStoring over the backends it runs on.
struct Subject {
    std::string name;
    std::function<std::unique_ptr<SecureItemStore>(const std::filesystem::path&, std::string&)> openItems;

    friend std::ostream& operator<<(std::ostream& out, const Subject& s) { return out << s.name; }
};

std::vector<Subject> subjects() {
    std::vector<Subject> all{{"in_memory_store", nullptr}};
    for (auto& backend : test_support::allSecureItemBackends()) {
        all.push_back({"keychain_on_" + backend.name, backend.open});
    }
    return all;
}

class TrustedDeviceStoreTest : public testing::TestWithParam<Subject> {
protected:
    void SetUp() override {
        const std::string name = testing::UnitTest::GetInstance()->current_test_info()->name();
        service_ = test_support::uniqueName(name);
        folder_ = std::filesystem::temp_directory_path() / service_;
        std::filesystem::remove_all(folder_);
        if (!GetParam().openItems) {
            store_ = std::make_unique<InMemoryTrustedDeviceStore>();
            return;
        }
        std::string whyNot;
        items_ = GetParam().openItems(folder_, whyNot);
        if (!items_) {
            GTEST_SKIP() << "no Secret Service can start here: " << whyNot;
        }
        store_ = std::make_unique<KeychainTrustedDeviceStore>(service_, "group", *items_);
    }
    void TearDown() override {
        if (store_) {
            for (const char* account : {"alice@example.com", "bob@example.com"}) store_->remove(account);
        }
        std::filesystem::remove_all(folder_);
    }

    std::string service_;
    std::filesystem::path folder_;
    std::unique_ptr<SecureItemStore> items_;
    std::unique_ptr<TrustedDeviceStoring> store_;
};

TEST_P(TrustedDeviceStoreTest, ReplacesAndRemovesPerAccountWhateverTheCaseOfTheAddress) {
    store_->save("token-a", "Alice@Example.COM");
    EXPECT_EQ(store_->token("bob@example.com"), std::nullopt);
    store_->save("token-b", "bob@example.com");
    store_->save("token-a2", "ALICE@example.com");
    EXPECT_EQ(store_->token("alice@example.com"), "token-a2");
    store_->remove("Alice@example.com");
    EXPECT_EQ(store_->token("alice@example.com"), std::nullopt);
    EXPECT_EQ(store_->token("bob@example.com"), "token-b");
    EXPECT_NO_THROW(store_->remove("alice@example.com"));
}

INSTANTIATE_TEST_SUITE_P(Implementations, TrustedDeviceStoreTest, testing::ValuesIn(subjects()),
                         [](const testing::TestParamInfo<Subject>& info) { return info.param.name; });

TEST(KeychainTrustedDeviceStoreTest, StoreFailuresReadAsNoTokenAndNeverThrow) {
    InMemorySecureItemStore items;
    KeychainTrustedDeviceStore store("zelvano.cadrio.trusted-device", "group", items);
    store.save("token-a", "alice@example.com");
    items.failWith(keychain_status::notAvailable);
    EXPECT_EQ(store.token("alice@example.com"), std::nullopt);
    EXPECT_NO_THROW(store.save("token-b", "alice@example.com"));
    EXPECT_NO_THROW(store.remove("alice@example.com"));
    items.failWith(std::nullopt);
    EXPECT_EQ(store.token("alice@example.com"), "token-a");
}

TEST(KeychainTrustedDeviceStoreTest, KeysItemsByTheLowerCaseAddressAndSkipsNonTextTokens) {
    InMemorySecureItemStore items;
    KeychainTrustedDeviceStore store("zelvano.cadrio.trusted-device", "group", items);
    store.save("token-a", "Alice@Example.com");
    EXPECT_EQ(items.find({"zelvano.cadrio.trusted-device", "alice@example.com", "group"}), "token-a");
    items.update({"zelvano.cadrio.trusted-device", "alice@example.com", "group"}, "\xff\xfe");
    EXPECT_EQ(store.token("alice@example.com"), std::nullopt);
}

}  // namespace
}  // namespace cadrio
