#include "devserver/dev_server_testing.hpp"

#include <gtest/gtest.h>

namespace cadrio::devserver {
namespace {


class Appcast : public testing::DevServerTest {};

TEST_F(Appcast, VersionsThatCouldBreakTheDocumentAreRefused) {
    for (const std::string& version : std::vector<std::string>{"", "1.0<x>", "1 0", "beta", "1\"", std::string(65, '1')}) {
        EXPECT_EQ(admin("/_admin/appcast", {{"version", version}}).status, 400) << version;
    }
    EXPECT_EQ(admin("/_admin/appcast", nlohmann::json::object()).status, 400);
    EXPECT_EQ(admin("/_admin/appcast", {{"version", "2"}, {"short_version", "<b>"}}).status, 400);
}

}  // namespace
}  // namespace cadrio::devserver
