#include <gtest/gtest.h>

#include "platform/fileprovider/plugin_library.hpp"
#include "tests/support/plugin_session.hpp"

namespace cadrio {
namespace {

TEST(PluginModuleIntegrationTest, TheSessionReachesThePlugin) {
    const auto server = testing::startDemoServer();
    const testing::PluginSession session(*server);
    EXPECT_TRUE(session.client()->isAuthenticated());
}

}  // namespace
}  // namespace cadrio
