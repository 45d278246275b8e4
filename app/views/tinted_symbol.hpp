#pragma once

// A symbol drawn in one colour (the secondary text colour, a banner's
// tint), whatever grey the icon theme or the bundled SVG drew it in; white
// marks inside filled shapes stay white, and the colour's alpha applies.
//
// Threads: the Qt main thread.

#include <QColor>
#include <QPixmap>
#include <QString>

namespace cadrio::app::views {

/// A `size` × `size` point pixmap at `devicePixelRatio`.
QPixmap tintedSymbol(const QString& name, int size, const QColor& colour, qreal devicePixelRatio = 1.0);

}  // namespace cadrio::app::views
