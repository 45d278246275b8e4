#include "app/views/tray_panel.hpp"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>

namespace cadrio::app::views {
namespace {

using namespace std::chrono_literals;

void loseFocus(TrayPanel& panel) {
    QEvent deactivate(QEvent::WindowDeactivate);
    QApplication::sendEvent(&panel, &deactivate);
}

TEST(TrayPanel, TheClickThatTookTheFocusAwayDoesNotReopenIt) {
    VirtualClock clock;
    TrayPanel panel(TrayPanel::Mode::popup, new QLabel("contenu"), clock);
    const QRect icon(900, 2, 24, 24);

    panel.toggle(icon);
    ASSERT_TRUE(panel.isVisible());
    loseFocus(panel);  // the press on the icon
    EXPECT_FALSE(panel.isVisible());
    clock.advance(100ms);
    panel.toggle(icon);  // the same press, as the tray tells it
    EXPECT_FALSE(panel.isVisible());

    panel.toggle(icon);  // the next click opens it
    EXPECT_TRUE(panel.isVisible());
    loseFocus(panel);
    clock.advance(TrayPanel::kReopenGuard);
    panel.toggle(icon);
    EXPECT_TRUE(panel.isVisible()) << "a click well after the close opens it again";
}

TEST(TrayPanel, AWindowStaysOpenWithoutTheFocus) {
    VirtualClock clock;
    TrayPanel panel(TrayPanel::Mode::window, new QLabel("contenu"), clock);
    panel.present();
    loseFocus(panel);
    EXPECT_TRUE(panel.isVisible());
}

}  // namespace
}  // namespace cadrio::app::views
