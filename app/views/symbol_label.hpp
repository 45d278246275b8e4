#pragma once

// A label that shows one symbol at a given size, drawn in a tint when one
// is given (the symbol's own colours otherwise). The label keeps the
// symbol's name and tint as the properties "symbol" and "tint", so tests
// can tell which symbol a row shows and in which colour without reading
// pixels.
//
// Threads: the Qt main thread.

#include <optional>

#include <QColor>
#include <QIcon>
#include <QLabel>
#include <QString>

namespace cadrio::app::views {

/// `icon` at `size` × `size` device-independent pixels, every opaque pixel
/// in `tint`.
QPixmap tintedPixmap(const QIcon& icon, int size, const QColor& tint, qreal devicePixelRatio);

QLabel* makeSymbolLabel(const QString& name, int size, std::optional<QColor> tint, QWidget* parent);

void setSymbol(QLabel& label, const QString& name, int size, std::optional<QColor> tint);

}  // namespace cadrio::app::views
