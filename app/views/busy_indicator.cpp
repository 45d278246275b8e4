#include "app/views/busy_indicator.hpp"

#include <QPainter>

namespace cadrio::app::views {

BusyIndicator::BusyIndicator(ViewEnvironment& environment, int diameter, QColor colour, QWidget* parent)
    : QWidget(parent), environment_(environment), colour_(colour) {
    setFixedSize(diameter, diameter);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

BusyIndicator::~BusyIndicator() { stop(); }

void BusyIndicator::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor colour = colour_.isValid() ? colour_ : palette().color(QPalette::WindowText);
    const qreal pen = qMax(1.5, width() / 8.0);
    const QRectF box = QRectF(rect()).adjusted(pen, pen, -pen, -pen);
    QColor track = colour;
    track.setAlphaF(0.2);
    painter.setPen(QPen(track, pen));
    painter.drawEllipse(box);
    painter.setPen(QPen(colour, pen, Qt::SolidLine, Qt::RoundCap));
    painter.drawArc(box, -angle_ * 16, 100 * 16);
}

void BusyIndicator::showEvent(QShowEvent*) {
    if (timer_ == 0) turn();
}

void BusyIndicator::hideEvent(QHideEvent*) { stop(); }

void BusyIndicator::turn() {
    timer_ = environment_.executor.postAfter(kStep, [this] {
        timer_ = 0;
        angle_ = (angle_ + 30) % 360;
        update();
        if (isVisible()) turn();
    });
}

void BusyIndicator::stop() {
    if (timer_ == 0) return;
    environment_.executor.cancel(timer_);
    timer_ = 0;
}

}  // namespace cadrio::app::views
