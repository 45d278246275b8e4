#include "platform/desktop/user_defaults.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "core/support/atomic_file.hpp"
#include "core/support/temporary_directory.hpp"
#include "platform/log/log_sink.hpp"

namespace cadrio::desktop {
namespace {

namespace fs = std::filesystem;

unsigned modeOf(const fs::path& path) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return info.st_mode & 07777;
}

void writeText(const fs::path& path, const std::string& text) { std::ofstream(path) << text; }

struct UserDefaultsTest : ::testing::Test {
    TemporaryDirectory home{"user-defaults"};
    std::shared_ptr<log::MemorySink> sink = std::make_shared<log::MemorySink>();
    log::Logger logger{"zelvano.cadrio.sync", "app", sink};
};

TEST_F(UserDefaultsTest, ValuesSurviveARestartInAPrivateFile) {
    const fs::path file = home / "config" / "zelvano-cadrio" / "user-defaults.json";
    {
        UserDefaults defaults(file, logger);
        defaults.set("lastEmail", "lea@example.com");
        defaults.set("conflictDismissedUntil", 1717171717.5);
        defaults.set("launchAtLoginChosen", true);
    }
    const UserDefaults again(file, logger);
    EXPECT_EQ(again.string("lastEmail"), "lea@example.com");
    EXPECT_EQ(again.number("conflictDismissedUntil"), 1717171717.5);
    EXPECT_EQ(again.boolean("launchAtLoginChosen"), true);
    EXPECT_EQ(again.boolean("lastEmail"), std::nullopt);  // another type reads as absent
    EXPECT_EQ(modeOf(file), 0600u);
    EXPECT_EQ(modeOf(file.parent_path()), 0700u);
}

TEST_F(UserDefaultsTest, AMalformedFileReadsAsEmptyAndIsKeptAsideOnTheNextWrite) {
    for (const std::string bad : {"{\"lastEmail\": ", "[\"lastEmail\"]", "", "\xff\xfe"}) {
        SCOPED_TRACE(bad);
        const fs::path file = home / "user-defaults.json";
        writeText(file, bad);
        UserDefaults defaults(file, logger);
        EXPECT_EQ(defaults.string("lastEmail"), std::nullopt);
        defaults.set("launchAtLoginChosen", false);
        EXPECT_EQ(readWholeFile(fs::path(file) += ".bad", 1024), bad);
        EXPECT_EQ(UserDefaults(file, logger).boolean("launchAtLoginChosen"), false);
        fs::remove(fs::path(file) += ".bad");
    }
}

TEST_F(UserDefaultsTest, AFailedWriteIsLoggedAndTheValueKeptForThisRun) {
    writeText(home / "not-a-folder", "");
    UserDefaults defaults(home / "not-a-folder" / "user-defaults.json", logger);
    defaults.set("lastEmail", "lea@example.com");
    EXPECT_EQ(defaults.string("lastEmail"), "lea@example.com");
    ASSERT_EQ(sink->messages().size(), 1u);
    EXPECT_EQ(sink->messages()[0].rfind("Réglages non enregistrés : ", 0), 0u);
}

}  // namespace
}  // namespace cadrio::desktop
