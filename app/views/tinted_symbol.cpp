#include "app/views/tinted_symbol.hpp"

#include <QPainter>

#include <cmath>

#include "app/views/symbols.hpp"

namespace cadrio::app::views {

QPixmap tintedSymbol(const QString& name, int size, const QColor& colour, qreal devicePixelRatio) {
    const int pixels = static_cast<int>(std::ceil(size * devicePixelRatio));
    QPixmap pixmap = symbol(name).pixmap(QSize(pixels, pixels));
    if (pixmap.isNull()) return pixmap;
    {
        QPainter painter(&pixmap);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(pixmap.rect(), colour);
    }
    pixmap.setDevicePixelRatio(devicePixelRatio);
    return pixmap;
}

}  // namespace cadrio::app::views
