#include "app/views/primary_button.hpp"

#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>

#include <chrono>

#include "app/views/style.hpp"

namespace cadrio::app::views {

namespace {
constexpr int kSpinnerSteps = 12;
constexpr auto kSpinnerStep = std::chrono::milliseconds(80);
constexpr int kSpinnerSize = 14;
}  // namespace

PrimaryButton::PrimaryButton(ViewEnvironment& environment, const QString& title, std::function<void()> action,
                             QWidget* parent)
    : QAbstractButton(parent), environment_(environment) {
    setText(title);
    setFont(views::font(TextRole::body, true));
    setFixedHeight(kHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setCursor(Qt::PointingHandCursor);
    connect(this, &QAbstractButton::clicked, this, [action = std::move(action)] {
        if (action) action();
    });
}

PrimaryButton::~PrimaryButton() { stopSpinner(); }

QSize PrimaryButton::sizeHint() const { return {fontMetrics().horizontalAdvance(text()) + 32, kHeight}; }

void PrimaryButton::setBusy(bool busy) {
    if (busy == busy_) return;
    busy_ = busy;
    if (busy_) {
        spinnerStep_ = 0;
        spinnerTimer_ = environment_.executor.postAfter(kSpinnerStep, [this] { turnSpinner(); });
    } else {
        stopSpinner();
    }
    update();
}

void PrimaryButton::turnSpinner() {
    spinnerStep_ = (spinnerStep_ + 1) % kSpinnerSteps;
    spinnerTimer_ = environment_.executor.postAfter(kSpinnerStep, [this] { turnSpinner(); });
    update();
}

void PrimaryButton::stopSpinner() {
    if (spinnerTimer_ != 0) environment_.executor.cancel(spinnerTimer_);
    spinnerTimer_ = 0;
}

void PrimaryButton::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && isEnabled()) {
        click();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

void PrimaryButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = brandGreen();
    if (!isEnabled() && !busy_) fill.setAlphaF(0.45f);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(rect()), 8, 8);
    if (!busy_) {
        painter.setPen(Qt::white);
        painter.setFont(QWidget::font());
        painter.drawText(rect(), Qt::AlignCenter, text());
        return;
    }
    const QRectF ring(width() / 2.0 - kSpinnerSize / 2.0, height() / 2.0 - kSpinnerSize / 2.0, kSpinnerSize,
                      kSpinnerSize);
    painter.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap));
    painter.setBrush(Qt::NoBrush);
    const int start = -spinnerStep_ * (360 / kSpinnerSteps) * 16;
    painter.drawArc(ring, start, 270 * 16);
}

}  // namespace cadrio::app::views
