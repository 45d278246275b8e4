#pragma once

// Where the tray's panel opens: next to the icon, on the side away from the
// screen edge the icon's panel sits on, kept inside the screen's free area;
// at the area's top-right corner when the icon's place is unknown (a
// StatusNotifierItem host does not tell it).

#include <QPoint>
#include <QRect>
#include <QSize>

namespace cadrio::app::views {

/// `icon` in global coordinates, invalid or empty when unknown; `area` is
/// the screen's available geometry (without the desktop's own panels).
QPoint panelPosition(const QRect& icon, const QSize& panel, const QRect& area);

}  // namespace cadrio::app::views
