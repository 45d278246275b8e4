// The behaviour every secure item store backend shares, run on each of them:
// the in-memory store, the file store and the real Secret Service.

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "platform/keychain/keychain_error.hpp"
#include "platform/keychain/testing/secure_item_backends.hpp"

namespace cadrio {
namespace {

using test_support::SecureItemBackend;

class SecureItemStoreContract : public testing::TestWithParam<SecureItemBackend> {
protected:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() / test_support::uniqueName(testName());
        std::filesystem::remove_all(folder_);
        std::string whyNot;
        store_ = GetParam().open(folder_, whyNot);
        if (!store_) {
            GTEST_SKIP() << "no Secret Service can start here: " << whyNot;
        }
    }

    void TearDown() override {
        if (store_) {
            for (const auto& key : created_) store_->remove(key);
        }
        std::filesystem::remove_all(folder_);
    }

    // Keys unique to this process and test, so that tests running in
    // parallel on one shared keyring never see each other's items.
    SecureItemKey key(const std::string& account = "current", const std::string& group = "group") {
        SecureItemKey k{test_support::uniqueName(testName()), account, group};
        created_.push_back(k);
        return k;
    }

    static std::string testName() { return testing::UnitTest::GetInstance()->current_test_info()->name(); }

    std::filesystem::path folder_;
    std::unique_ptr<SecureItemStore> store_;
    std::vector<SecureItemKey> created_;
};

TEST_P(SecureItemStoreContract, EmptyStoreHasNothingToFindUpdateOrRemove) {
    const auto k = key();
    EXPECT_EQ(store_->find(k), std::nullopt);
    EXPECT_FALSE(store_->update(k, "data"));
    EXPECT_EQ(store_->find(k), std::nullopt) << "update must not create the item";
    EXPECT_FALSE(store_->remove(k));
}

TEST_P(SecureItemStoreContract, KeepsBinaryDataExactly) {
    const std::string binary("\0\x01\xff\xfe{\"a\":1}\n\0", 12);
    const auto k = key();
    for (const std::string& data : {binary, std::string(), std::string(5000, 'x')}) {
        store_->remove(k);
        store_->add(k, data);
        EXPECT_EQ(store_->find(k), data);
    }
}

TEST_P(SecureItemStoreContract, UpdateReplacesTheOneItem) {
    const auto k = key();
    store_->add(k, "first");
    EXPECT_TRUE(store_->update(k, "second"));
    EXPECT_EQ(store_->find(k), "second");
    EXPECT_TRUE(store_->remove(k));
    EXPECT_EQ(store_->find(k), std::nullopt) << "a second item was left behind";
}

TEST_P(SecureItemStoreContract, AddNeverReplacesAnExistingItem) {
    const auto k = key();
    store_->add(k, "first");
    try {
        store_->add(k, "second");
        FAIL() << "add over an existing item succeeded";
    } catch (const KeychainError& error) {
        EXPECT_EQ(error.status(), keychain_status::duplicateItem);
    }
    EXPECT_EQ(store_->find(k), "first");
}

TEST_P(SecureItemStoreContract, EachPartOfTheKeyNamesADifferentItem) {
    const auto base = key("Alice@Example.com", "group");
    const SecureItemKey otherService{base.service + ".other", base.account, base.accessGroup};
    const auto otherAccount = key("alice@example.com", "group");
    const auto otherGroup = key("Alice@Example.com", "group.other");
    created_.push_back(otherService);
    store_->add(base, "base");
    for (const auto& other : {otherService, otherAccount, otherGroup}) {
        EXPECT_EQ(store_->find(other), std::nullopt);
        store_->add(other, "other");
    }
    EXPECT_EQ(store_->find(base), "base");
    EXPECT_TRUE(store_->remove(otherAccount));
    EXPECT_EQ(store_->find(base), "base");
}

TEST_P(SecureItemStoreContract, RefusesKeysItCannotRepresent) {
    const SecureItemKey withNul{"cadrio.test", std::string("a\0b", 3), "group"};
    for (const auto& call : std::vector<std::function<void()>>{
             [&] { store_->find(withNul); },
             [&] { store_->add(withNul, "x"); },
             [&] { store_->update(withNul, "x"); },
             [&] { store_->remove(withNul); },
         }) {
        try {
            call();
            FAIL() << "a key holding NUL was accepted";
        } catch (const KeychainError& error) {
            EXPECT_EQ(error.status(), keychain_status::invalidParameter);
        }
    }
}

// Callers on several threads at once, each on its own item: no backend may
// mix them up, and none may rely on a lock of ours held across its calls.
TEST_P(SecureItemStoreContract, ConcurrentCallersEachKeepTheirOwnItem) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 10;
    std::vector<SecureItemKey> keys;
    for (int i = 0; i < kThreads; ++i) keys.push_back(key("thread" + std::to_string(i)));
    std::atomic<int> wrong = 0;
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            try {
                for (int round = 0; round < kRounds; ++round) {
                    const std::string data = std::to_string(i) + ":" + std::to_string(round);
                    if (!store_->update(keys[i], data)) store_->add(keys[i], data);
                    if (store_->find(keys[i]) != data) ++wrong;
                }
                if (!store_->remove(keys[i])) ++wrong;
            } catch (const std::exception& error) {
                ADD_FAILURE() << error.what();
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
    for (const auto& k : keys) EXPECT_EQ(store_->find(k), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(Backends, SecureItemStoreContract,
                         testing::ValuesIn(test_support::allSecureItemBackends()),
                         [](const testing::TestParamInfo<SecureItemBackend>& info) { return info.param.name; });

}  // namespace
}  // namespace cadrio
