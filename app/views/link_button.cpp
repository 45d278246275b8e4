#include "app/views/link_button.hpp"

#include "app/views/style.hpp"
#include "app/views/tinted_symbol.hpp"

namespace cadrio::app::views {

QPushButton* makeLinkButton(const QString& text, QWidget* parent, const QString& systemImage) {
    auto* button = new QPushButton(text, parent);
    button->setFlat(true);
    button->setCursor(Qt::PointingHandCursor);
    button->setFont(font(TextRole::caption));
    const QColor link = button->palette().color(QPalette::Link);
    QPalette palette = button->palette();
    palette.setColor(QPalette::ButtonText, link);
    button->setPalette(palette);
    button->setStyleSheet(QString("QPushButton { border: none; padding: 0; color: %1; text-align: left; }")
                              .arg(link.name()));
    if (!systemImage.isEmpty()) {
        button->setIcon(QIcon(tintedSymbol(systemImage, 10, link, button->devicePixelRatioF())));
        button->setIconSize(QSize(10, 10));
    }
    button->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    return button;
}

}  // namespace cadrio::app::views
