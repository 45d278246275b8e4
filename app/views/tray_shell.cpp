#include "app/views/tray_shell.hpp"

#include <QApplication>
#include <QMenu>
#include <QSystemTrayIcon>

#include "app/views/symbols.hpp"
#include "app/views/tray_panel.hpp"

namespace cadrio::app::views {

TrayShell::TrayShell(QWidget* content, Clock& clock, std::function<void()> quit) {
    const bool tray = QSystemTrayIcon::isSystemTrayAvailable();
    panel_ = std::make_unique<TrayPanel>(tray ? TrayPanel::Mode::popup : TrayPanel::Mode::window, content, clock);
    // Without a tray the window is the application; with one, closing the
    // panel or the settings must not end it.
    QApplication::setQuitOnLastWindowClosed(!tray);
    if (!tray) {
        panel_->present();
        return;
    }
    menu_ = std::make_unique<QMenu>();
    menu_->addAction("Ouvrir Zelvano Cadrio", [this] { openPanel(); });
    menu_->addAction("Quitter Zelvano Cadrio", std::move(quit));
    icon_ = std::make_unique<QSystemTrayIcon>(applicationIcon());
    icon_->setToolTip("Zelvano Cadrio");
    icon_->setContextMenu(menu_.get());
    connect(icon_.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger) {
            panel_->toggle(icon_->geometry());
        }
    });
    icon_->show();
}

TrayShell::~TrayShell() = default;

void TrayShell::openPanel() { panel_->present(icon_ ? icon_->geometry() : QRect()); }

}  // namespace cadrio::app::views
