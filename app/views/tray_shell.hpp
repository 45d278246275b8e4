#pragma once

// The application's presence on the desktop: a tray icon (the application
// icon, titled "Zelvano Cadrio") whose click opens the panel next to it and
// whose menu opens it or quits; or, on a desktop without a tray, the panel
// in an ordinary window shown at once, whose closing quits, so that the
// application is never invisible.
//
// Threads: the Qt main thread; create it after the QApplication.

#include <functional>
#include <memory>

#include <QObject>

#include "core/support/clock.hpp"

class QMenu;
class QSystemTrayIcon;
class QWidget;

namespace cadrio::app::views {

class TrayPanel;

class TrayShell : public QObject {
    Q_OBJECT
public:
    /// Takes `content`. `quit` ends the application.
    TrayShell(QWidget* content, Clock& clock, std::function<void()> quit);
    ~TrayShell() override;

    /// Null when the desktop has no tray.
    QSystemTrayIcon* trayIcon() const { return icon_.get(); }
    TrayPanel& panel() const { return *panel_; }
    /// Shows the panel (next to the icon when there is one).
    void openPanel();

private:
    std::unique_ptr<TrayPanel> panel_;
    std::unique_ptr<QMenu> menu_;
    std::unique_ptr<QSystemTrayIcon> icon_;
};

}  // namespace cadrio::app::views
