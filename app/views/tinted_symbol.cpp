#include "app/views/tinted_symbol.hpp"

#include <QImage>

#include <algorithm>
#include <cmath>

#include "app/views/symbols.hpp"

namespace cadrio::app::views {

namespace {

// Symbols are drawn in one mid or dark grey, with white for the marks cut
// into filled shapes (the "!" of a filled circle): the grey becomes the
// tint, the white stays white, what lies between is mixed.
constexpr int kSymbolGrey = 0x70;

QRgb tinted(QRgb pixel, const QColor& colour) {
    const double white = std::clamp((qGray(pixel) - kSymbolGrey) / double(255 - kSymbolGrey), 0.0, 1.0);
    const auto mix = [white](int channel) { return static_cast<int>(std::lround(channel + (255 - channel) * white)); };
    return qRgba(mix(colour.red()), mix(colour.green()), mix(colour.blue()),
                 static_cast<int>(std::lround(qAlpha(pixel) * colour.alphaF())));
}

}  // namespace

QPixmap tintedSymbol(const QString& name, int size, const QColor& colour, qreal devicePixelRatio) {
    const int pixels = static_cast<int>(std::ceil(size * devicePixelRatio));
    QImage image = symbol(name).pixmap(QSize(pixels, pixels)).toImage().convertToFormat(QImage::Format_ARGB32);
    if (image.isNull()) return {};
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) line[x] = tinted(line[x], colour);
    }
    QPixmap pixmap = QPixmap::fromImage(image);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    return pixmap;
}

}  // namespace cadrio::app::views
