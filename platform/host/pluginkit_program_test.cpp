// cadrio-pluginkit as the tray application runs it, against the manifest the
// build writes beside the plug-in.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>

#include "core/support/temporary_directory.hpp"

#ifdef CADRIO_PLUGINKIT

namespace cadrio::host {
namespace {

struct Output {
    int status;
    std::string text;
};

Output run(const std::string& home, const std::string& arguments) {
    const std::string command = "HOME='" + home + "' XDG_DATA_HOME= CADRIO_PLUGIN_PATH='" +
                                CADRIO_PLUGIN_BUILD_FOLDER + "' '" + CADRIO_PLUGINKIT + "' " + arguments;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return {-1, {}};
    std::string text;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) text += buffer;
    const int status = ::pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text};
}

TEST(PluginKitProgramTest, ListsTheBuiltPlugInBeforeAndAfterItIsSwitchedOff) {
    TemporaryDirectory home;
    const std::string id = "zelvano.cadrio.sync.fileprovider";
    const std::string line = id + "(" + CADRIO_PROJECT_VERSION + ")\n";
    EXPECT_EQ(run(home.path(), "-m -i " + id).text, "+    " + line);
    EXPECT_EQ(run(home.path(), "-e ignore -i " + id).status, 0);
    EXPECT_EQ(run(home.path(), "-m -i " + id).text, "-    " + line);
    EXPECT_EQ(run(home.path(), "-e use -i zelvano.unknown 2>/dev/null").status, 1);
    EXPECT_EQ(run(home.path(), "-z 2>/dev/null").status, 64);
}

}  // namespace
}  // namespace cadrio::host

#endif
