#include "core/session/trusted_device_storing.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace cadrio {
namespace {

// Every store keys tokens by trustedDeviceKey, so an address typed with
// capitals of any script finds the token saved under its lower-case form.
TEST(TrustedDeviceKey, LowersAddressesOfEveryScript) {
    struct Case {
        std::string typed;
        std::string stored;
    };
    const std::vector<Case> cases = {
        {"ÉLODIE@Exemple.FR", "élodie@exemple.fr"},
        {"Ωmega@x", "ωmega@x"},
        {"B\xFF@X", "b\xFF@x"},  // not UTF-8: kept, never a crash
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        EXPECT_EQ(trustedDeviceKey(c.typed), c.stored);
        InMemoryTrustedDeviceStore store;
        store.save("token", c.typed);
        EXPECT_EQ(store.token(c.stored), "token");
        store.remove(c.stored);
        EXPECT_EQ(store.token(c.typed), std::nullopt);
    }
}

}  // namespace
}  // namespace cadrio
