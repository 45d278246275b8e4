#include "fileprovider/lazy_secure_item_store.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <future>

#include "platform/keychain/in_memory_secure_item_store.hpp"
#include "platform/keychain/keychain_error.hpp"

namespace cadrio {
namespace {

using namespace std::chrono_literals;

// A caller that arrives during an opening waits for it and gets its
// outcome: here its failure, without a second probe of its own (each would
// last up to the D-Bus time-out). The next call opens again. No ASSERT
// before the release: a return there would leave the opener blocked.
TEST(LazySecureItemStoreTest, CallersDuringAnOpeningShareItsFailureAndTheNextCallOpensAgain) {
    std::promise<void> entered;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> openings = 0;
    LazySecureItemStore lazy([&]() -> std::unique_ptr<SecureItemStore> {
        if (++openings > 1) return std::make_unique<InMemorySecureItemStore>();
        entered.set_value();
        released.wait();
        throw KeychainError(keychain_status::notAvailable);
    });
    const SecureItemKey key{"s", "a", "g"};
    const auto findStatus = [&] {
        try {
            lazy.find(key);
            return keychain_status::success;
        } catch (const KeychainError& error) {
            return error.status();
        }
    };

    auto opener = std::async(std::launch::async, findStatus);
    EXPECT_EQ(entered.get_future().wait_for(10s), std::future_status::ready);
    auto waiter = std::async(std::launch::async, findStatus);
    EXPECT_TRUE(lazy.waitForWaitingCallers(1, 10s));
    EXPECT_EQ(lazy.backendName(), "lazy") << "must answer during the opening";
    release.set_value();

    EXPECT_EQ(opener.get(), keychain_status::notAvailable);
    EXPECT_EQ(waiter.get(), keychain_status::notAvailable);
    EXPECT_EQ(openings.load(), 1);
    EXPECT_EQ(findStatus(), keychain_status::success);
    EXPECT_EQ(openings.load(), 2);
    EXPECT_EQ(lazy.backendName(), "memory");
}

}  // namespace
}  // namespace cadrio
