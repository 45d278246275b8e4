#include "app/cli/cli_options.hpp"

#include <gtest/gtest.h>

namespace cadrio::app::cli {
namespace {

CliOptions headless(std::optional<std::string> email = std::nullopt, bool passwordFromStdin = false) {
    CliOptions options;
    options.headless = true;
    options.email = std::move(email);
    options.passwordFromStdin = passwordFromStdin;
    return options;
}

struct Case {
    std::vector<std::string> arguments;
    std::optional<CliOptions> options;  // none: a usage error
};

TEST(CliOptions, ParsesWhatTheHelpPromisesAndRefusesTheRest) {
    const std::vector<Case> cases = {
        {{}, CliOptions{}},
        {{"--headless"}, headless()},
        {{"--headless", "--email", "a@b.test", "--password-stdin"}, headless("a@b.test", true)},
        {{"--headless", "--email=a@b.test"}, headless("a@b.test")},
        {{"--help", "--bogus"}, std::nullopt},
        {{"--headless", "--password-stdin"}, std::nullopt},  // no address to sign in with
        {{"--email", "a@b.test"}, std::nullopt},             // the tray asks for itself
        {{"--headless", "--email"}, std::nullopt},
        {{"--headless", "--email="}, std::nullopt},
        {{"--headless=yes"}, std::nullopt},
        {{"-x"}, std::nullopt},
    };
    for (const Case& c : cases) {
        const auto parsed = parseCliOptions(c.arguments);
        const auto* options = std::get_if<CliOptions>(&parsed);
        SCOPED_TRACE(c.arguments.empty() ? "(none)" : c.arguments.front());
        ASSERT_EQ(options != nullptr, c.options.has_value());
        if (options != nullptr) {
            EXPECT_EQ(*options, *c.options);
        }
    }
}

}  // namespace
}  // namespace cadrio::app::cli
