// The tray shell on a real X display (run by run_tray_test.sh under Xvfb).
//   tray_probe --expect tray     a tray host runs: the icon gets embedded,
//                                and a click on it opens the panel next to it
//   tray_probe --expect window   no tray host: the panel shows as a window
// Exits 0 when the desktop behaved as expected, 1 (with the reason) when not.
//
// The waits below are for another process (the X server, the tray host), so
// they are bounded in real time rather than driven by a virtual clock.

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWindow>

#include <functional>
#include <iostream>
#include <string>

#include "app/views/panel_placement.hpp"
#include "app/views/tray_panel.hpp"
#include "app/views/tray_shell.hpp"

namespace {

using namespace cadrio::app::views;

int fail(const std::string& why) {
    std::cerr << "tray_probe: " << why << '\n';
    return 1;
}

/// Runs the event loop until `done` holds, checking every 50 ms; false after `seconds`.
bool waitFor(const std::function<bool()>& done, int seconds = 10) {
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (done()) loop.quit();
    });
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    check.start(50);
    if (!done()) loop.exec();
    return done();
}

bool shownOnScreen(const QWidget& widget) {
    return widget.isVisible() && widget.windowHandle() != nullptr && widget.windowHandle()->isExposed();
}

/// A real pointer click when xdotool is there, else a press delivered to the
/// icon's own window, which is what the X server would have sent it.
void click(const QSystemTrayIcon& icon) {
    const QPoint at = icon.geometry().center();
    if (!QStandardPaths::findExecutable("xdotool").isEmpty()) {
        QProcess::execute("xdotool", {"mousemove", "--sync", QString::number(at.x()), QString::number(at.y()),
                                      "click", "1"});
        return;
    }
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (qstrcmp(widget->metaObject()->className(), "QSystemTrayIconSys") != 0) continue;
        const QPointF local = widget->mapFromGlobal(at);
        QMouseEvent press(QEvent::MouseButtonPress, local, QPointF(at), Qt::LeftButton, Qt::LeftButton, {});
        QMouseEvent release(QEvent::MouseButtonRelease, local, QPointF(at), Qt::LeftButton, {}, {});
        QApplication::sendEvent(widget, &press);
        QApplication::sendEvent(widget, &release);
    }
}

int expectTray(TrayShell& shell) {
    QSystemTrayIcon* icon = shell.trayIcon();
    if (icon == nullptr) return fail("a tray host runs, yet the panel opened as a window");
    // Embedded first at the host's origin, then moved with the host to its
    // place: the icon is settled once its place holds for half a second.
    QRect last;
    int steady = 0;
    const bool settled = waitFor([&] {
        const QRect now = icon->geometry();
        steady = now == last ? steady + 1 : 0;
        last = now;
        return now.isValid() && !now.isEmpty() && steady >= 10;
    });
    if (!settled) return fail("the icon was never embedded in the tray");
    if (shell.panel().isVisible()) return fail("the panel opened before any click");
    click(*icon);
    if (!waitFor([&] { return shownOnScreen(shell.panel()); })) return fail("a click on the icon showed no panel");
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    const QPoint expected = panelPosition(icon->geometry(), shell.panel().size(), area);
    if (shell.panel().pos() != expected) {
        const QPoint at = shell.panel().pos();
        return fail("the panel is at " + std::to_string(at.x()) + "," + std::to_string(at.y()) + ", not next to the icon at " +
                    std::to_string(expected.x()) + "," + std::to_string(expected.y()));
    }
    if (!waitFor([&] { return shell.panel().isActiveWindow(); })) return fail("the panel did not take the focus");
    QWidget elsewhere;
    elsewhere.setGeometry(40, 400, 200, 100);
    elsewhere.show();
    elsewhere.activateWindow();
    if (!waitFor([&] { return !shell.panel().isVisible(); })) return fail("the panel stayed open without the focus");
    std::cout << "tray_probe: icon embedded at " << icon->geometry().x() << ',' << icon->geometry().y()
              << ", panel shown beside it, closed with the focus\n";
    return 0;
}

int expectWindow(TrayShell& shell) {
    if (QSystemTrayIcon::isSystemTrayAvailable() || shell.trayIcon() != nullptr) {
        return fail("a tray was reported where none runs");
    }
    if (shell.panel().mode() != TrayPanel::Mode::window) return fail("the fallback panel is not a window");
    if (!waitFor([&] { return shownOnScreen(shell.panel()); })) return fail("the fallback window never showed");
    std::cout << "tray_probe: no tray, the panel shows as a window\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    const QStringList arguments = QApplication::arguments();
    const bool tray = arguments.contains("tray");
    if (!tray && !arguments.contains("window")) return fail("usage: tray_probe --expect tray|window");
    // The tray host may still be starting: it is there once it owns the
    // tray selection.
    if (tray && !waitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); })) {
        return fail("no tray host appeared");
    }
    auto* content = new QLabel("Zelvano Cadrio");
    content->setFixedSize(320, 160);
    TrayShell shell(content, cadrio::SystemClock::shared(), [] { QCoreApplication::quit(); });
    return tray ? expectTray(shell) : expectWindow(shell);
}
