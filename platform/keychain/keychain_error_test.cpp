#include "platform/keychain/keychain_error.hpp"

#include <gtest/gtest.h>

namespace cadrio {
namespace {

TEST(KeychainErrorTest, DescribesItselfInFrench) {
    namespace ks = keychain_status;
    const struct {
        std::int32_t status;
        std::string message;
        std::string expected;
    } cases[] = {
        {ks::locked, "Cannot create an item in a locked collection",
         "Accès au trousseau impossible : le trousseau est verrouillé "
         "(Cannot create an item in a locked collection)"},
        {12345, "", "Accès au trousseau impossible : code 12345"},
        {-7, "refused", "Accès au trousseau impossible : refused, code -7"},
        {ks::success, "", "Accès au trousseau impossible : code 0"},
    };
    for (const auto& c : cases) {
        const KeychainError error(c.status, c.message);
        EXPECT_EQ(error.description(), c.expected);
        EXPECT_STREQ(error.what(), c.expected.c_str());
        EXPECT_EQ(error.status(), c.status);
        EXPECT_EQ(error.message(), c.message);
    }
}

}  // namespace
}  // namespace cadrio
