#include "platform/desktop/login_item.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <stdexcept>

#include "core/support/atomic_file.hpp"
#include "core/support/temporary_directory.hpp"

namespace cadrio::desktop {
namespace {

namespace fs = std::filesystem;

TEST(AutostartLoginItem, StatusFollowsWhatTheEntrySays) {
    const struct {
        const char* contents;  // null: no file
        LoginItemStatus status;
    } cases[] = {
        {nullptr, LoginItemStatus::notRegistered},
        {"[Desktop Entry]\nType=Application\nExec=zc\n", LoginItemStatus::enabled},
        {"[Desktop Entry]\nHidden=true\n", LoginItemStatus::notRegistered},
        {"[Desktop Entry]\r\nHidden = TRUE\r\n", LoginItemStatus::notRegistered},
        {"[Desktop Entry]\nX-GNOME-Autostart-enabled=false\n", LoginItemStatus::notRegistered},
        {"[Desktop Entry]\nX-GNOME-Autostart-enabled=False\nHidden=false\n", LoginItemStatus::notRegistered},
        {"[Desktop Entry]\nHidden=true\nHidden=false\n", LoginItemStatus::enabled},
        {"[Desktop Entry]\nhidden=true\nx-gnome-autostart-enabled=false\n", LoginItemStatus::enabled},
        {"[Desktop Action quit]\nHidden=true\n", LoginItemStatus::enabled},
        {"\x01\x02 not an entry at all", LoginItemStatus::enabled},
    };
    const TemporaryDirectory home("login-item");
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.contents != nullptr ? entry.contents : "(none)");
        const fs::path file = home / "zelvano-cadrio.desktop";
        fs::remove(file);
        if (entry.contents != nullptr) std::ofstream(file) << entry.contents;
        EXPECT_EQ(AutostartLoginItem(file, "zc").status(), entry.status);
    }
}

TEST(AutostartLoginItem, RegisteringReplacesAnEntrySwitchedOff) {
    const TemporaryDirectory home("login-item");
    const fs::path file = home / "autostart" / "zelvano-cadrio.desktop";
    fs::create_directories(file.parent_path());
    std::ofstream(file) << "[Desktop Entry]\nExec=old\nHidden=true\n";
    AutostartLoginItem item(file, "/usr/bin/zelvano-cadrio");

    item.registerItem();
    EXPECT_EQ(item.status(), LoginItemStatus::enabled);
    EXPECT_NE(readWholeFile(file, 4096).find("\nExec=/usr/bin/zelvano-cadrio\n"), std::string::npos);
    item.unregisterItem();
    EXPECT_EQ(item.status(), LoginItemStatus::notRegistered);
    EXPECT_NO_THROW(item.unregisterItem());
}

TEST(AutostartLoginItem, ExecLinesKeepArgumentsWhole) {
    EXPECT_EQ(AutostartLoginItem::execLine({"/usr/bin/zelvano-cadrio"}), "/usr/bin/zelvano-cadrio");
    EXPECT_EQ(AutostartLoginItem::execLine({"/opt/Mon Cadrio/zc", "--x=100%", ""}),
              R"("/opt/Mon Cadrio/zc" --x=100%% "")");
    EXPECT_EQ(AutostartLoginItem::execLine({R"(/a"b\c$d)"}), R"("/a\\"b\\\\c\\$d")");
    EXPECT_THROW(AutostartLoginItem::execLine({"/bin/zc\nHidden=true"}), std::invalid_argument);
    EXPECT_THROW(AutostartLoginItem("/tmp/x.desktop", "zc\nHidden=true"), std::invalid_argument);
}

}  // namespace
}  // namespace cadrio::desktop
