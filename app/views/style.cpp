#include "app/views/style.hpp"

#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <QLabel>
#include <QPainter>
#include <QPalette>
#include <QWidget>

#include <cmath>

namespace cadrio::app::views {

namespace {

// Sizes of the roles relative to the body text, which takes the desktop's
// default size: a user who enlarged the desktop's font enlarges every role.
double scale(TextRole role) {
    switch (role) {
        case TextRole::title3: return 15.0 / 13.0;
        case TextRole::headline: return 1.0;
        case TextRole::body: return 1.0;
        case TextRole::callout: return 12.0 / 13.0;
        case TextRole::caption: return 10.0 / 13.0;
        case TextRole::caption2: return 10.0 / 13.0;
    }
    return 1.0;
}

int bodyPixelSize() {
    const int size = QFontInfo(QApplication::font()).pixelSize();
    return size > 0 ? size : 13;
}

}  // namespace

QColor brandGreen() { return QColor(94, 166, 89); }
QColor warningOrange() { return QColor(255, 149, 0); }
QColor errorRed() { return QColor(255, 59, 48); }

QColor secondaryText(const QWidget& widget) {
    // The window's text colour, not the widget's own: a label already given
    // a colour (orange, red) must not derive its grey from that.
    QColor colour = widget.window()->palette().color(QPalette::WindowText);
    colour.setAlphaF(0.55f);
    return colour;
}

QFont font(TextRole role, bool semibold, bool monospacedDigits) {
    // Qt 6.4 cannot ask a font for tabular figures; the fixed-width family
    // is the sure way to keep a ticking number from jiggling.
    QFont result = monospacedDigits ? QFontDatabase::systemFont(QFontDatabase::FixedFont) : QApplication::font();
    result.setPixelSize(std::max(8, static_cast<int>(std::lround(bodyPixelSize() * scale(role)))));
    if (semibold || role == TextRole::headline) result.setWeight(QFont::DemiBold);
    return result;
}

QLabel* makeLabel(const QString& text, TextRole role, QWidget* parent, bool secondary) {
    auto* label = new QLabel(parent);
    // Texts come from the server too (messages, addresses): never rich text.
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->setFont(font(role));
    if (secondary) setTextColour(*label, secondaryText(*label));
    return label;
}

QColor textColour(const QLabel& label) { return label.palette().color(label.foregroundRole()); }

void setTextColour(QLabel& label, const QColor& colour) {
    QPalette palette = label.palette();
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::Text, colour);
    label.setPalette(palette);
}

void paintTintedBackground(QWidget& widget, const QColor& tint, qreal fillOpacity, qreal borderOpacity,
                           qreal radius) {
    QPainter painter(&widget);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = tint;
    fill.setAlphaF(fillOpacity);
    QColor border = tint;
    border.setAlphaF(borderOpacity);
    if (borderOpacity > 0) {
        painter.setPen(QPen(border, 0.5));
    } else {
        painter.setPen(Qt::NoPen);
    }
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(widget.rect()).adjusted(0.25, 0.25, -0.25, -0.25), radius, radius);
}

}  // namespace cadrio::app::views
