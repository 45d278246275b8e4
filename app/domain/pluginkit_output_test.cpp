#include "app/domain/pluginkit_output.hpp"

#include <gtest/gtest.h>

namespace cadrio::app {
namespace {

constexpr std::string_view kId = "zelvano.cadrio.sync.fileprovider";

TEST(PluginkitOutput, TheFirstLineNamingThePlugInDecides) {
    struct Case {
        std::string_view output;
        std::optional<bool> enabled;
    };
    const Case cases[] = {
        {"+    zelvano.cadrio.sync.fileprovider(0.1.0)\n", true},
        {" \t-    zelvano.cadrio.sync.fileprovider(0.1.0)\n", false},
        {"\n\n-    zelvano.cadrio.sync.fileprovider(0.1.0)", false},  // empty lines skipped, no final line feed
        {"+    other.plugin(1.0)\n-    zelvano.cadrio.sync.fileprovider(0.1.0)\n", false},
        {"!    zelvano.cadrio.sync.fileprovider(0.1.0)\n-    zelvano.cadrio.sync.fileprovider(0.2)\n", true},
        {"zelvano.cadrio.sync.fileprovider\n", true},
        {"-\xFF   zelvano.cadrio.sync.fileprovider(0.1.0)\n", false},  // a broken byte is no reason to stop reading
        {"+    other.plugin(1.0)\n", std::nullopt},
        {"", std::nullopt},
        {"-    zelvano.cadrio.sync\n", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(extensionEnabledFromPluginkit(c.output, kId), c.enabled) << c.output;
}

}  // namespace
}  // namespace cadrio::app
