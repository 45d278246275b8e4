#pragma once

// A symbol drawn in one colour (the secondary text colour, a banner's
// tint), whatever colours the icon theme gave it: the shape of the theme's
// icon (or of the bundled one) filled with `colour`.
//
// Threads: the Qt main thread.

#include <QColor>
#include <QPixmap>
#include <QString>

namespace cadrio::app::views {

/// A `size` × `size` point pixmap at `devicePixelRatio`.
QPixmap tintedSymbol(const QString& name, int size, const QColor& colour, qreal devicePixelRatio = 1.0);

}  // namespace cadrio::app::views
