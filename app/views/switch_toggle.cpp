#include "app/views/switch_toggle.hpp"

#include <QPainter>

#include "app/views/style.hpp"

namespace cadrio::app::views {

SwitchToggle::SwitchToggle(QWidget* parent) : QAbstractButton(parent) {
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize SwitchToggle::sizeHint() const { return {30, 18}; }

void SwitchToggle::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track = QRectF(rect()).adjusted(1, 1, -1, -1);
    const qreal radius = track.height() / 2;
    QColor off = palette().color(QPalette::WindowText);
    off.setAlphaF(0.2);
    QColor on = brandGreen();
    if (!isEnabled()) on.setAlphaF(0.45);
    painter.setPen(Qt::NoPen);
    painter.setBrush(isChecked() ? on : off);
    painter.drawRoundedRect(track, radius, radius);
    const qreal knob = track.height() - 4;
    const bool right = isChecked() != isRightToLeft();
    const qreal x = right ? track.right() - 2 - knob : track.left() + 2;
    painter.setBrush(Qt::white);
    painter.drawEllipse(QRectF(x, track.top() + 2, knob, knob));
}

}  // namespace cadrio::app::views
