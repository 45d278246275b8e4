// The plug-in as the host sees it: loaded with dlopen through the host's
// loader, its objects and errors used across the library boundary.

#include <gtest/gtest.h>

#include <cstdlib>

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
