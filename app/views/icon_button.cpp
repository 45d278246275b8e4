#include "app/views/icon_button.hpp"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>

#include "app/views/busy_indicator.hpp"
#include "app/views/fast_tooltip.hpp"
#include "app/views/symbols.hpp"

namespace cadrio::app::views {
namespace {

constexpr int kHitPadding = 6;  // each side of the symbol

}  // namespace

IconButton::IconButton(ViewEnvironment& environment, QString systemImage, QString tip, TooltipEdge edge,
                       std::function<void()> action, int size, QWidget* parent)
    : QAbstractButton(parent), systemImage_(std::move(systemImage)), size_(size) {
    tooltip_ = new FastTooltip(environment, *this, tip, edge, FastTooltip::Placement::below);
    busyIndicator_ = new BusyIndicator(environment, size_, {}, this);
    busyIndicator_->hide();
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(busyIndicator_, 0, Qt::AlignCenter);
    setAccessibleName(tip);
    setIcon(symbol(systemImage_));
    setIconSize(QSize(size_, size_));
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    connect(this, &QAbstractButton::clicked, this, [action = std::move(action)] {
        if (action) action();
    });
}

void IconButton::setTip(const QString& tip) {
    tooltip_->setText(tip);
    setAccessibleName(tip);
}

QString IconButton::tip() const { return tooltip_->text(); }

void IconButton::setBusy(bool busy) {
    if (busy == busy_) return;
    busy_ = busy;
    busyIndicator_->setVisible(busy_);
    update();
}

bool IconButton::isBusy() const { return busy_; }

FastTooltip& IconButton::tooltip() const { return *tooltip_; }

QSize IconButton::sizeHint() const { return {size_ + 2 * kHitPadding, size_ + 2 * kHitPadding}; }

void IconButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (hovering_ || isDown()) {
        QColor wash = palette().color(QPalette::WindowText);
        wash.setAlphaF(isDown() ? 0.16 : 0.08);
        QPainterPath background;
        background.addRoundedRect(QRectF(rect()), 6, 6);
        painter.fillPath(background, wash);
    }
    const QRect box((width() - size_) / 2, (height() - size_) / 2, size_, size_);
    if (!busy_) icon().paint(&painter, box, Qt::AlignCenter, isEnabled() ? QIcon::Normal : QIcon::Disabled);
}

void IconButton::enterEvent(QEnterEvent* event) {
    hovering_ = true;
    tooltip_->pointerEntered();
    update();
    QAbstractButton::enterEvent(event);
}

void IconButton::leaveEvent(QEvent* event) {
    hovering_ = false;
    tooltip_->pointerLeft();
    update();
    QAbstractButton::leaveEvent(event);
}

}  // namespace cadrio::app::views
