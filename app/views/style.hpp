#pragma once

// The look every view shares: the brand green, the text roles (title 3,
// headline, body, callout, caption, caption 2) as fonts scaled from the
// desktop's default, and the tints of banners and cards.
//
// Threads: the Qt main thread.

#include <QColor>
#include <QFont>
#include <QString>

class QLabel;
class QWidget;

namespace cadrio::app::views {

/// RGB 94/166/89, full opacity.
QColor brandGreen();
QColor warningOrange();
QColor errorRed();
/// The palette's text colour for secondary lines.
QColor secondaryText(const QWidget& widget);

enum class TextRole { title3, headline, body, callout, caption, caption2 };

QFont font(TextRole role, bool semibold = false, bool monospacedDigits = false);

/// A label with `text` in `role`; `secondary` gives it the secondary colour.
QLabel* makeLabel(const QString& text, TextRole role, QWidget* parent, bool secondary = false);

/// The colour a widget's text is drawn in, for tests that check colours by
/// role rather than by pixel.
QColor textColour(const QLabel& label);

/// The rounded background of banners and cards: `tint` at `fillOpacity`,
/// a 0.5 px border of it at `borderOpacity` (none at 0). Call from the
/// widget's paintEvent.
void paintTintedBackground(QWidget& widget, const QColor& tint, qreal fillOpacity, qreal borderOpacity,
                           qreal radius);

/// Sets a label's text colour (through its palette, so textColour reads it).
void setTextColour(QLabel& label, const QColor& colour);

}  // namespace cadrio::app::views
