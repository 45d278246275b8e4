#include "core/model/zelvano_cadrio.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>

#include "core/model/drive_configuration.hpp"
#include "core/model/url_check.hpp"
#include "core/support/temporary_directory.hpp"

namespace cadrio {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Points XDG_DATA_HOME and HOME at a private temporary tree for one test.
class ContainerTest : public testing::Test {
protected:
    void SetUp() override {
        for (auto& [name, value] : saved_) {
            if (const char* current = std::getenv(name)) value = current;
        }
        ::setenv("XDG_DATA_HOME", (root_ / "data").c_str(), 1);
        ::setenv("HOME", (root_ / "home").c_str(), 1);
    }
    void TearDown() override {
        for (const auto& [name, value] : saved_) value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
    }

    static unsigned modeOf(const fs::path& path) {
        struct stat info {};
        ::stat(path.c_str(), &info);
        return info.st_mode & 07777;
    }

    const TemporaryDirectory temporary_{"cadrio-container"};
    const fs::path root_ = temporary_.path();

private:
    std::pair<const char*, std::optional<std::string>> saved_[2] = {{"XDG_DATA_HOME", {}}, {"HOME", {}}};
};

TEST_F(ContainerTest, CreatesAPrivateContainerUnderXdgDataHome) {
    const auto container = ZelvanoCadrio::appGroupContainerURL();
    ASSERT_TRUE(container);
    EXPECT_EQ(*container, root_ / "data" / "K7QW2M4XRD.group.zelvano.cadrio");
    EXPECT_TRUE(fs::is_directory(*container));
    EXPECT_EQ(modeOf(*container), 0700u);
}

TEST_F(ContainerTest, FallsBackToHomeWhenXdgDataHomeIsRelativeAndFailsWithoutEither) {
    ::setenv("XDG_DATA_HOME", "relative/data", 1);
    EXPECT_EQ(ZelvanoCadrio::appGroupContainerURL(),
              root_ / "home" / ".local" / "share" / "K7QW2M4XRD.group.zelvano.cadrio");
    ::unsetenv("XDG_DATA_HOME");
    ::setenv("HOME", "", 1);
    EXPECT_EQ(ZelvanoCadrio::appGroupContainerURL(), std::nullopt);
    EXPECT_EQ(ZelvanoCadrio::summaryURL("a@b.c"), std::nullopt);
    ZelvanoCadrio::removeLocalState("a@b.c");  // nothing to do, must not throw
}

TEST_F(ContainerTest, NarrowsAWideContainerAndRefusesAFile) {
    const fs::path container = root_ / "data" / "K7QW2M4XRD.group.zelvano.cadrio";
    fs::create_directories(container);
    ::chmod(container.c_str(), 0755);
    EXPECT_EQ(ZelvanoCadrio::appGroupContainerURL(), container);
    EXPECT_EQ(modeOf(container), 0700u);

    fs::remove(container);
    std::ofstream(container) << "not a directory";
    EXPECT_EQ(ZelvanoCadrio::appGroupContainerURL(), std::nullopt);
}

TEST_F(ContainerTest, FileLocationsUseTheSanitisedKey) {
    EXPECT_EQ(ZelvanoCadrio::sanitizedDomainKey("Team/Drive:A"), "team_drive_a");
    EXPECT_EQ(ZelvanoCadrio::sanitizedDomainKey("ÉLODIE@Exemple.FR"), "élodie@exemple.fr");

    const fs::path container = *ZelvanoCadrio::appGroupContainerURL();
    EXPECT_EQ(ZelvanoCadrio::itemStoreURL("Team/Drive:A"), container / "item-store-team_drive_a.json");
    EXPECT_EQ(ZelvanoCadrio::summaryURL("Team/Drive:A"), container / "summary-team_drive_a.json");
}

TEST_F(ContainerTest, RemovesTheDomainFilesAndTheOldStore) {
    const fs::path container = *ZelvanoCadrio::appGroupContainerURL();
    for (const char* name : {"item-store-a@b.c.json", "summary-a@b.c.json", "item-store.json",
                             "summary-other.json"}) {
        std::ofstream(container / name) << "{}";
    }
    ZelvanoCadrio::removeLocalState("A@b.c");
    EXPECT_FALSE(fs::exists(container / "item-store-a@b.c.json"));
    EXPECT_FALSE(fs::exists(container / "summary-a@b.c.json"));
    EXPECT_FALSE(fs::exists(container / "item-store.json"));
    EXPECT_TRUE(fs::exists(container / "summary-other.json"));
    ZelvanoCadrio::removeLocalState("A@b.c");  // already gone: silent
}

TEST(ZelvanoCadrioTest, UrlCheckAcceptsOnlyAbsoluteWebAddresses) {
    EXPECT_TRUE(isHTTPURL("https://s3.example/b/k?X-Amz-Signature=abc"));
    EXPECT_TRUE(isHTTPURL("http://127.0.0.1:8080/x"));
    EXPECT_FALSE(isHTTPURL("ftp://x/y"));
    EXPECT_FALSE(isHTTPURL("/relative/path"));
    EXPECT_FALSE(isHTTPURL("https://"));
    EXPECT_FALSE(isHTTPURL("file:///etc/passwd"));
    EXPECT_FALSE(isHTTPURL("https://exa mple.com/"));
    EXPECT_FALSE(isHTTPURL(std::string("https://a.example/\0evil", 23)));
    EXPECT_FALSE(isHTTPURL(""));
}

}  // namespace
}  // namespace cadrio
