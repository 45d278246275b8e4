#include "app/views/symbol_label.hpp"

#include <QPainter>
#include <QPixmap>

#include "app/views/symbols.hpp"

namespace cadrio::app::views {

QPixmap tintedPixmap(const QIcon& icon, int size, const QColor& tint, qreal devicePixelRatio) {
    QPixmap pixmap = icon.pixmap(QSize(size, size), devicePixelRatio);
    QPainter painter(&pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(pixmap.rect(), tint);
    return pixmap;
}

QLabel* makeSymbolLabel(const QString& name, int size, std::optional<QColor> tint, QWidget* parent) {
    auto* label = new QLabel(parent);
    setSymbol(*label, name, size, tint);
    return label;
}

void setSymbol(QLabel& label, const QString& name, int size, std::optional<QColor> tint) {
    const QIcon icon = symbol(name);
    const qreal ratio = label.devicePixelRatioF();
    label.setPixmap(tint ? tintedPixmap(icon, size, *tint, ratio) : icon.pixmap(QSize(size, size), ratio));
    label.setFixedSize(size, size);
    label.setProperty("symbol", name);
    label.setProperty("tint", tint ? QVariant(*tint) : QVariant());
}

}  // namespace cadrio::app::views
