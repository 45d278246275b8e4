#include "app/views/tray_panel.hpp"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>

#include "app/views/panel_placement.hpp"

namespace cadrio::app::views {
namespace {

Qt::WindowFlags flagsFor(TrayPanel::Mode mode) {
    if (mode == TrayPanel::Mode::window) return Qt::Window;
    return Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint;
}

}  // namespace

TrayPanel::TrayPanel(Mode mode, QWidget* content, Clock& clock, QWidget* parent)
    : QWidget(parent, flagsFor(mode)), mode_(mode), clock_(clock) {
    setObjectName("trayPanel");
    setWindowTitle("Zelvano Cadrio");
    auto* layout = new QVBoxLayout(this);
    const int border = mode == Mode::popup ? 1 : 0;
    layout->setContentsMargins(border, border, border, border);
    layout->setSizeConstraint(QLayout::SetFixedSize);  // the height follows the screen shown
    layout->addWidget(content);
}

void TrayPanel::present(const QRect& icon) {
    icon_ = icon;
    closedByFocusAt_.reset();
    if (mode_ == Mode::popup) {
        layout()->activate();  // the fixed size of the screen shown, before it is placed
        place();
    }
    show();
    raise();
    activateWindow();
}

void TrayPanel::toggle(const QRect& icon) {
    if (isVisible()) {
        closePopup();
        return;
    }
    if (closedByFocusAt_ && clock_.now() - *closedByFocusAt_ < kReopenGuard) {
        closedByFocusAt_.reset();
        return;
    }
    present(icon);
}

void TrayPanel::closePopup() {
    if (mode_ == Mode::popup) hide();
}

void TrayPanel::place() {
    const QScreen* screen = icon_.isEmpty() ? nullptr : QGuiApplication::screenAt(icon_.center());
    if (screen == nullptr) screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) return;
    move(panelPosition(icon_, size(), screen->availableGeometry()));
}

bool TrayPanel::event(QEvent* event) {
    if (event->type() == QEvent::WindowDeactivate && mode_ == Mode::popup && isVisible()) {
        hide();
        closedByFocusAt_ = clock_.now();
    }
    return QWidget::event(event);
}

void TrayPanel::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && mode_ == Mode::popup) {
        hide();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TrayPanel::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // A panel above a bottom bar grows upwards, never over the icon.
    if (mode_ == Mode::popup) place();
}

void TrayPanel::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    if (mode_ != Mode::popup) return;
    QPainter painter(this);
    QColor line = palette().color(QPalette::WindowText);
    line.setAlphaF(0.18);
    painter.setPen(line);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

}  // namespace cadrio::app::views
