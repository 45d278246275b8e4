// The plug-in as the host sees it: loaded with dlopen through the host's
// loader, its objects and errors used across the library boundary.

#include <gtest/gtest.h>

#include <cstdlib>
#include <future>

#include "core/support/temporary_directory.hpp"
#include "platform/fileprovider/plugin_library.hpp"

namespace cadrio {
namespace {

using namespace fileprovider;

/// Sets an environment variable for the length of a test.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedVariable() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(PluginModuleTest, TheHostLoadsThePluginAndUsesItsAnswers) {
    TemporaryDirectory home("plugin-module-test");
    const ScopedVariable data("XDG_DATA_HOME", (home / "data").string());
    const ScopedVariable bus("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (home / "no-bus").string());
    const ScopedVariable log("CADRIO_LOG_TARGET", "stderr");

    const auto library = PluginLibrary::open(CADRIO_FILEPROVIDER_PLUGIN);
    auto extension = library->createExtension(Domain{"Team/Drive:A", "a@cadrio.test"}, HostContext{});

    std::promise<ItemPtr> root;
    extension->item(ItemIdentifier::rootContainer(), {},
                    [&](ItemPtr item, std::optional<Error>) { root.set_value(item); });
    EXPECT_EQ(root.get_future().get()->filename(), "Zelvano Cadrio");

    // An empty store: the working set starts from the beginning of the feed.
    std::promise<std::optional<SyncAnchor>> anchor;
    auto workingSet = extension->enumerator(ItemIdentifier::workingSet(), {});
    workingSet->currentSyncAnchor([&](std::optional<SyncAnchor> current) { anchor.set_value(current); });
    EXPECT_EQ(anchor.get_future().get(), SyncAnchor{"v3:0"});

    workingSet.reset();
    extension.reset();
    EXPECT_TRUE(std::filesystem::is_directory(home / "data" / "K7QW2M4XRD.group.zelvano.cadrio"));
}

TEST(PluginModuleTest, ThePluginRefusesToBuildWithoutADomainOrWithAnUnsafeAddress) {
    TemporaryDirectory home("plugin-module-test");
    const ScopedVariable data("XDG_DATA_HOME", (home / "data").string());
    const ScopedVariable log("CADRIO_LOG_TARGET", "stderr");
    const auto library = PluginLibrary::open(CADRIO_FILEPROVIDER_PLUGIN);
    EXPECT_THROW(library->createExtension(Domain{"", ""}, HostContext{}), PluginLoadError);
    const ScopedVariable api("CADRIO_API_BASE_URL", "http://drive.example.com/api/v1");
    EXPECT_THROW(library->createExtension(Domain{"a@cadrio.test", "a@cadrio.test"}, HostContext{}), PluginLoadError);
}

}  // namespace
}  // namespace cadrio
