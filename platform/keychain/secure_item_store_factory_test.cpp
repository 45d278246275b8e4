#include "platform/keychain/secure_item_store_factory.hpp"

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "platform/keychain/in_memory_secure_item_store.hpp"
#include "platform/keychain/testing/secure_item_backends.hpp"
#include "platform/log/log_sink.hpp"

extern char** environ;

namespace cadrio {
namespace {

namespace fs = std::filesystem;

fs::path scratchFolder() {
    auto folder = fs::temp_directory_path() /
                  ("cadrio-factory-" + std::to_string(::getpid()) + "-" +
                   testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

TEST(SecureItemStoreFactoryTest, TakesTheSecretServiceWhenItAnswersElsePrivateFilesInTheContainer) {
    struct Case {
        const char* backend;
        const char* whyNot;  // of the probe; none when it answers
        const char* message;
    };
    const Case cases[] = {
        {"memory", nullptr, "Trousseau : Secret Service du bureau."},
        {"file", "aucun trousseau par défaut",
         "Trousseau : aucun Secret Service utilisable (aucun trousseau par défaut), éléments gardés dans des "
         "fichiers privés sous <private>."},
    };
    for (const Case& c : cases) {
        const auto folder = scratchFolder();
        const auto sink = std::make_shared<log::MemorySink>();
        auto store = openSecureItemStore(folder, log::Logger("zelvano.cadrio.sync", "app", sink), [&](std::string& whyNot) {
            if (c.whyNot) whyNot = c.whyNot;
            return c.whyNot ? std::unique_ptr<SecureItemStore>()
                            : std::unique_ptr<SecureItemStore>(std::make_unique<InMemorySecureItemStore>());
        });
        ASSERT_EQ(store->backendName(), c.backend);
        store->add({"s", "a", "g"}, "x");
        EXPECT_EQ(store->find({"s", "a", "g"}), "x");
        EXPECT_EQ(fs::is_directory(folder / "keychain"), c.whyNot != nullptr) << c.backend;
        EXPECT_EQ(sink->messages(), std::vector<std::string>{c.message});
        fs::remove_all(folder);
    }
}

// The real probe, run in a child process so that it meets a session bus of
// the test's choosing; the child reports through its exit status.
TEST(SecureItemStoreFactoryTest, DISABLED_ChildOpensTheExpectedBackend) {
    const char* expected = std::getenv("CADRIO_EXPECTED_BACKEND");
    const char* folder = std::getenv("CADRIO_CONTAINER");
    ASSERT_NE(expected, nullptr);
    ASSERT_NE(folder, nullptr);
    auto store = openSecureItemStore(folder, log::Logger("zelvano.cadrio.sync", "app"));
    ASSERT_EQ(store->backendName(), expected);
    const SecureItemKey key{"cadrio.test.child", "a", "g"};
    store->add(key, "x");
    EXPECT_EQ(store->find(key), "x");
    EXPECT_TRUE(store->remove(key));
}

int runChild(std::vector<std::string> command, const std::vector<std::string>& extraEnvironment) {
    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        if (text.starts_with("DBUS_SESSION_BUS_ADDRESS=") || text.starts_with("DISPLAY=")) continue;
        environment.push_back(text);
    }
    environment.insert(environment.end(), extraEnvironment.begin(), extraEnvironment.end());
    command.insert(command.begin(), {"timeout", "60"});
    command.insert(command.end(), {fs::read_symlink("/proc/self/exe").string(), "--gtest_also_run_disabled_tests",
                                   "--gtest_filter=*DISABLED_ChildOpensTheExpectedBackend"});
    std::vector<char*> argv, envp;
    for (auto& word : command) argv.push_back(word.data());
    for (auto& entry : environment) envp.push_back(entry.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    pid_t child = 0;
    if (::posix_spawnp(&child, "timeout", nullptr, nullptr, argv.data(), envp.data()) != 0) return -1;
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool commandExists(const std::string& name) {
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

TEST(SecureItemStoreFactoryTest, WithoutASessionBusUsesFiles) {
    const auto folder = scratchFolder();
    EXPECT_EQ(runChild({}, {"DBUS_SESSION_BUS_ADDRESS=unix:path=" + (folder / "no-bus").string(),
                            "CADRIO_EXPECTED_BACKEND=file", "CADRIO_CONTAINER=" + folder.string()}),
              0);
    fs::remove_all(folder);
}

// Runs the child on a private session bus whose keyring daemon starts with
// `unlockWith` as password (or is only started on demand, never unlocked,
// when it is empty). HOME persists across calls of one test, and with it the
// login keyring created by the first unlock.
int runOnPrivateBus(const fs::path& folder, const std::string& unlockWith, const std::string& expected) {
    fs::create_directories(folder / "home");
    fs::create_directories(folder / "run");
    ::chmod((folder / "run").c_str(), 0700);
    std::vector<std::string> command{"dbus-run-session", "--"};
    if (!unlockWith.empty()) {
        command.insert(command.end(), {"sh", "-c",
                                       "echo -n \"$0\" | gnome-keyring-daemon --unlock "
                                       "--components=secrets >/dev/null 2>&1; exec \"$@\"",
                                       unlockWith});
    }
    return runChild(command, {"HOME=" + (folder / "home").string(),
                              "XDG_RUNTIME_DIR=" + (folder / "run").string(),
                              "CADRIO_EXPECTED_BACKEND=" + expected,
                              "CADRIO_CONTAINER=" + folder.string()});
}

class SecureItemStoreProbeTest : public testing::Test {
protected:
    void SetUp() override {
        if (!commandExists("dbus-run-session") || !commandExists("gnome-keyring-daemon")) {
            if (test_support::runsUnderCi()) FAIL() << "CI is set, yet dbus-run-session or gnome-keyring-daemon is missing";
            GTEST_SKIP() << "no Secret Service can start here: dbus-run-session or "
                            "gnome-keyring-daemon is missing";
        }
        folder_ = scratchFolder();
    }
    void TearDown() override { fs::remove_all(folder_); }

    fs::path folder_;
};

TEST_F(SecureItemStoreProbeTest, AnUnlockedKeyringIsUsed) {
    EXPECT_EQ(runOnPrivateBus(folder_, "pass", "libsecret"), 0);
}

// The failures a headless machine shows: a daemon never unlocked has no
// default collection, and a wrong password leaves it locked.
TEST_F(SecureItemStoreProbeTest, AKeyringThatCannotHoldItemsLeadsToFiles) {
    EXPECT_EQ(runOnPrivateBus(folder_, "", "file"), 0);
    ASSERT_EQ(runOnPrivateBus(folder_, "pass", "libsecret"), 0);
    EXPECT_EQ(runOnPrivateBus(folder_, "wrong", "file"), 0);
}

}  // namespace
}  // namespace cadrio
