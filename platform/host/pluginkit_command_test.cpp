#include "platform/host/pluginkit_command.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "core/support/temporary_directory.hpp"

namespace cadrio::host {
namespace {

void writeText(const std::filesystem::path& file, const std::string& text) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
}

std::string manifest(const std::string& identifier, const std::string& version) {
    return R"({"identifier": ")" + identifier + R"(", "version": ")" + version + R"(", "library": "lib.so"})";
}

class PluginKitTest : public ::testing::Test {
protected:
    PluginKitTest() {
        // The development folder comes first and shadows the installed copy.
        writeText(root / "dev/fp.json", manifest("zelvano.cadrio.sync.fileprovider", "0.2.0"));
        writeText(root / "dev/broken.json", R"({"identifier": "x.broken"})");
        writeText(root / "dev/notes.txt", manifest("not.a.manifest", "1"));
        writeText(root / "installed/fp.json", manifest("zelvano.cadrio.sync.fileprovider", "0.1.0"));
        writeText(root / "installed/other.json", manifest("zelvano.cadrio.other", "3.1"));
    }

    struct Result {
        int status;
        std::string out;
        std::string err;
    };
    Result run(const std::vector<std::string>& arguments) {
        std::ostringstream out, err;
        const int status = runPluginKit(arguments, registry, out, err);
        return {status, out.str(), err.str()};
    }

    TemporaryDirectory root;
    PluginRegistry registry{PluginRegistry::searchPath((root / "dev").c_str(), root / "installed"),
                            root / "data/plugins.json"};
};

TEST_F(PluginKitTest, FindsManifestsInSearchOrderWithTheLibraryBesideThem) {
    const auto plugins = registry.plugins();
    ASSERT_EQ(plugins.size(), 2u);
    EXPECT_EQ(plugins[0].version, "0.2.0");
    EXPECT_EQ(plugins[0].library, root / "dev/lib.so");
    EXPECT_EQ(plugins[1].identifier, "zelvano.cadrio.other");
}

TEST_F(PluginKitTest, ElectionsChangeTheListing) {
    const std::string fp = "zelvano.cadrio.sync.fileprovider";
    struct Step {
        std::vector<std::string> arguments;
        int status;
        std::string out;
    };
    const std::vector<Step> steps = {
        {{"-m", "-i", fp}, 0, "+    zelvano.cadrio.sync.fileprovider(0.2.0)\n"},
        {{"-e", "ignore", "-i", fp}, 0, ""},
        {{"-i", fp, "-m"}, 0, "-    zelvano.cadrio.sync.fileprovider(0.2.0)\n"},
        {{"-m"}, 0, "-    zelvano.cadrio.sync.fileprovider(0.2.0)\n+    zelvano.cadrio.other(3.1)\n"},
        {{"-e", "use", "-i", fp}, 0, ""},
        {{"-m", "-i", fp}, 0, "+    zelvano.cadrio.sync.fileprovider(0.2.0)\n"},
        {{"-m", "-i", "nobody"}, 0, ""},
        {{"-e", "ignore", "-i", "nobody"}, 1, ""},
    };
    for (const Step& step : steps) {
        const Result result = run(step.arguments);
        EXPECT_EQ(result.status, step.status) << ::testing::PrintToString(step.arguments);
        EXPECT_EQ(result.out, step.out) << ::testing::PrintToString(step.arguments);
    }
    EXPECT_TRUE(registry.isElected(fp));
    EXPECT_TRUE(PluginRegistry({}, root / "data/plugins.json").isElected("never.voted"));
}

TEST_F(PluginKitTest, UsageErrorsChangeNothing) {
    const std::vector<std::vector<std::string>> usages = {
        {},
        {"-e", "use"},
        {"-e", "maybe", "-i", "zelvano.cadrio.other"},
        {"-m", "-e", "use", "-i", "zelvano.cadrio.other"},
        {"-m", "-m"},
        {"-m", "-i"},
        {"-x"},
        {"-e", "ignore", "-i", ""},
    };
    for (const auto& arguments : usages) {
        const Result result = run(arguments);
        EXPECT_EQ(result.status, kExitUsage) << ::testing::PrintToString(arguments);
        EXPECT_EQ(result.err.rfind("usage: cadrio-pluginkit", 0), 0u) << result.err;
    }
    EXPECT_FALSE(std::filesystem::exists(root / "data/plugins.json"));
}

}  // namespace
}  // namespace cadrio::host
