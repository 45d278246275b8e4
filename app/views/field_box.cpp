#include "app/views/field_box.hpp"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>

#include "app/views/style.hpp"
#include "app/views/tinted_symbol.hpp"

namespace cadrio::app::views {

namespace {
constexpr int kSymbolWidth = 16;
constexpr qreal kRadius = 8.0;
}  // namespace

FieldBox::FieldBox(const QString& systemImage, QWidget* field, QWidget* parent, int height)
    : QWidget(parent), focusSource_(field) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(10, 0, 10, 0);
    row->setSpacing(8);
    if (!systemImage.isEmpty()) {
        auto* icon = new QLabel(this);
        icon->setObjectName("fieldSymbol");
        icon->setFixedWidth(kSymbolWidth);
        icon->setAlignment(Qt::AlignCenter);
        icon->setPixmap(tintedSymbol(systemImage, kSymbolWidth - 2, secondaryText(*this), devicePixelRatioF()));
        row->addWidget(icon);
    }
    // Plain: the box draws the background and the frame, the field its text.
    if (auto* line = qobject_cast<QLineEdit*>(field)) line->setFrame(false);
    for (auto* line : field->findChildren<QLineEdit*>()) line->setFrame(false);
    field->setAutoFillBackground(false);
    field->setStyleSheet("background: transparent;");
    row->addWidget(field, 1);
    field->installEventFilter(this);
    setFixedHeight(height);
}

void FieldBox::followFocusOf(QWidget* widget) {
    focusSource_->removeEventFilter(this);
    focusSource_ = widget;
    focusSource_->installEventFilter(this);
    focused_ = widget->hasFocus();
    update();
}

bool FieldBox::eventFilter(QObject* watched, QEvent* event) {
    if (watched == focusSource_ && (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)) {
        focused_ = event->type() == QEvent::FocusIn;
        update();
    }
    return QWidget::eventFilter(watched, event);
}

void FieldBox::mousePressEvent(QMouseEvent* event) {
    // A click on the symbol or the padding means the field.
    focusSource_->setFocus(Qt::MouseFocusReason);
    QWidget::mousePressEvent(event);
}

void FieldBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor text = palette().color(QPalette::WindowText);
    const qreal border = focused_ ? 1.5 : 0.5;
    const QRectF frame = QRectF(rect()).adjusted(border / 2, border / 2, -border / 2, -border / 2);
    QColor fill = text;
    fill.setAlphaF(0.06f);
    QColor stroke = text;
    stroke.setAlphaF(0.12f);
    painter.setPen(QPen(focused_ ? brandGreen() : stroke, border));
    painter.setBrush(fill);
    painter.drawRoundedRect(frame, kRadius, kRadius);
}

}  // namespace cadrio::app::views
