#include "app/views/message_banner.hpp"

#include <QHBoxLayout>
#include <QLabel>

#include "app/views/style.hpp"
#include "app/views/tinted_symbol.hpp"

namespace cadrio::app::views {

MessageBanner::MessageBanner(QString text, QString systemImage, QColor tint, QWidget* parent)
    : QWidget(parent), tint_(std::move(tint)) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(10, 8, 10, 8);
    row->setSpacing(8);
    auto* icon = new QLabel(this);
    icon->setObjectName("bannerSymbol");
    icon->setPixmap(tintedSymbol(systemImage, 14, tint_, devicePixelRatioF()));
    icon->setAlignment(Qt::AlignTop);
    row->addWidget(icon);
    label_ = makeLabel(text, TextRole::caption, this);
    label_->setObjectName("bannerText");
    label_->setWordWrap(true);
    row->addWidget(label_, 1);
}

QString MessageBanner::text() const { return label_->text(); }

void MessageBanner::setText(const QString& text) { label_->setText(text); }

void MessageBanner::paintEvent(QPaintEvent*) {
    paintTintedBackground(*this, tint_, 0.10, 0.35, 8);
}

}  // namespace cadrio::app::views
