#include "platform/host/daemon_options.hpp"

#include <gtest/gtest.h>

namespace cadrio::host {
namespace {

TEST(DaemonOptionsTest, ParsesEachSpellingAndRefusesTheRest) {
    struct Case {
        std::vector<std::string> arguments;
        std::variant<DaemonOptions, std::string> expected;
    };
    const auto cwd = std::filesystem::current_path();
    const std::vector<Case> cases = {
        {{}, DaemonOptions{}},
        {{"--foreground", "--mount-root", "/tmp/drive/"}, DaemonOptions{true, false, "/tmp/drive", {}}},
        {{"--mount-root=rel/../x", "--plugin-path=/a:/b"}, DaemonOptions{false, false, cwd / "x", "/a:/b"}},
        {{"--mount-root"}, "--mount-root needs a value"},
        {{"--mount-root="}, "--mount-root needs a folder"},
        {{"--foreground=yes"}, "--foreground takes no value"},
        {{"-f"}, "unknown option -f"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parseDaemonOptions(c.arguments), c.expected) << ::testing::PrintToString(c.arguments);
    }
}

}  // namespace
}  // namespace cadrio::host
