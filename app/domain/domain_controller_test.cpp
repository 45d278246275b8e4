#include "app/domain/domain_controller.hpp"

#include <signal.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <future>

#include "app/domain/testing/host_on_private_bus.hpp"
#include "core/support/temporary_directory.hpp"
#include "platform/log/log_sink.hpp"

namespace cadrio::app {
namespace {

using namespace std::chrono_literals;

bool logged(const log::MemorySink& sink, const std::string& line) {
    const auto messages = sink.messages();
    return std::find(messages.begin(), messages.end(), line) != messages.end();
}

class DomainControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (host.address().empty()) GTEST_SKIP() << "no dbus-daemon could be started for a private bus";
        DomainControllerOptions options;
        options.busAddress = host.address();
        options.daemonPath = "/nonexistent/cadrio-fileproviderd";
        controller = std::make_unique<DomainController>(clock, log::Logger("zelvano.cadrio.sync", "domain", sink),
                                                        options);
    }
    void holdWaits() {
        LockGuard lock(host.mounts().mutex);
        host.mounts().answerWaits = false;
    }
    int signalsOf(const std::string& account) {
        LockGuard lock(host.mounts().mutex);
        return host.mounts().signals[account];
    }

    testing::HostOnPrivateBus host;
    VirtualClock clock;
    std::shared_ptr<log::MemorySink> sink = std::make_shared<log::MemorySink>();
    std::unique_ptr<DomainController> controller;
};

TEST_F(DomainControllerTest, MountingLeavesOnlyTheAccountsDomain) {
    host.host().add({"ana@cadrio.test", "Ana", true});
    controller->mount("bob@cadrio.test");
    controller->mount("bob@cadrio.test");
    EXPECT_EQ(host.identifiers(), std::vector<std::string>{"bob@cadrio.test"});
    EXPECT_EQ(host.host().domains().front().displayName, "bob@cadrio.test");
    EXPECT_TRUE(controller->isMounted("bob@cadrio.test"));
    EXPECT_FALSE(controller->isMounted("ana@cadrio.test"));
    EXPECT_TRUE(logged(*sink, "Domaine monté pour <private>"));

    host.host().setUserEnabled("bob@cadrio.test", false);
    EXPECT_EQ(controller->isUserEnabled("bob@cadrio.test"), false);
    EXPECT_EQ(controller->isUserEnabled("ana@cadrio.test"), std::nullopt);

    controller->unmount("bob@cadrio.test");
    EXPECT_TRUE(host.identifiers().empty());
    EXPECT_TRUE(logged(*sink, "Domaine retiré pour <private>"));
}

TEST_F(DomainControllerTest, SignalsReachOnlyRegisteredDomains) {
    EXPECT_FALSE(controller->signal("ana@cadrio.test", false, 60s));
    EXPECT_TRUE(logged(*sink, "Domaine introuvable, signal ignoré."));

    controller->mount("ana@cadrio.test");
    EXPECT_TRUE(controller->signal("ana@cadrio.test", false, 60s));
    EXPECT_TRUE(controller->signal("ana@cadrio.test", true, 60s));  // answered before any time passed
    EXPECT_EQ(signalsOf("ana@cadrio.test"), 2);
}

TEST_F(DomainControllerTest, AStabilisationNeverAnsweredEndsWithTheTimeOut) {
    controller->mount("ana@cadrio.test");
    holdWaits();
    auto settled = std::async(std::launch::async, [this] { return controller->signal("ana@cadrio.test", true, 60s); });
    ASSERT_TRUE(clock.waitForSleepers(1));
    clock.advance(59s);
    EXPECT_EQ(settled.wait_for(0s), std::future_status::timeout);
    clock.advance(1s);
    EXPECT_FALSE(settled.get());
    EXPECT_TRUE(logged(*sink, "Actualisation : stabilisation non confirmée dans le délai."));
}

TEST_F(DomainControllerTest, HostFailuresCarryTheHostsDescription) {
    try {
        controller->userVisibleRoot("nobody@cadrio.test");
        FAIL() << "an unknown domain has no folder";
    } catch (const DomainError& e) {
        EXPECT_EQ(std::string(e.what()).find("NSFileProviderErrorDomain"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()), "");
    }
    EXPECT_THROW(controller->mount("a/b"), DomainError);
}

TEST_F(DomainControllerTest, TheTransferLabelFollowsTheDomainsUploads) {
    EXPECT_EQ(controller->transferLabel("ana@cadrio.test"), std::nullopt);
    controller->mount("ana@cadrio.test");
    EXPECT_EQ(controller->transferLabel("ana@cadrio.test"), std::nullopt);
    {
        LockGuard lock(host.mounts().mutex);
        host.mounts().upload = {1000, 425, false};
    }
    EXPECT_EQ(controller->transferLabel("ana@cadrio.test"), "Envoi en cours… 43 %");
    controller->unmount("ana@cadrio.test");
    EXPECT_EQ(controller->transferLabel("ana@cadrio.test"), std::nullopt);
}

/// A stand-in for cadrio-pluginkit printing `script`'s output.
std::filesystem::path pluginkit(const TemporaryDirectory& folder, const std::string& body) {
    const auto path = folder.path() / "pluginkit";
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    ::chmod(path.c_str(), 0755);
    return path;
}

TEST(DomainControllerPluginkit, ReadsTheRegistrysAnswer) {
    testing::HostOnPrivateBus host;
    if (host.address().empty()) GTEST_SKIP() << "no dbus-daemon could be started for a private bus";
    TemporaryDirectory folder;
    struct Case {
        std::string body;
        std::optional<bool> enabled;
    };
    const Case cases[] = {
        // A registry chatty on standard error must not stall on a full pipe.
        {"head -c 300000 /dev/zero | tr '\\0' x >&2; echo \"-    $3(0.1.0)\"", false},
        {"[ \"$1 $2 $3\" = '-m -i zelvano.cadrio.sync.fileprovider' ] && echo \"+    $3(0.1.0)\"", true},
        {"echo \"+    $3(0.1.0)\"; exit 3", std::nullopt},
        {"true", std::nullopt},
    };
    VirtualClock clock;
    for (const Case& c : cases) {
        DomainControllerOptions options;
        options.busAddress = host.address();
        options.pluginkitPath = pluginkit(folder, c.body);
        EXPECT_EQ(DomainController(clock, log::Logger("zelvano.cadrio.sync", "domain"), options).extensionEnabled(),
                  c.enabled)
            << c.body;
    }
    DomainControllerOptions missing;
    missing.busAddress = host.address();
    missing.pluginkitPath = folder.path() / "absent";
    EXPECT_EQ(DomainController(clock, log::Logger("zelvano.cadrio.sync", "domain"), missing).extensionEnabled(),
              std::nullopt);
}

}  // namespace
}  // namespace cadrio::app
