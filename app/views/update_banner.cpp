#include "app/views/update_banner.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>

#include "app/updates/updater.hpp"
#include "app/views/style.hpp"
#include "app/views/symbol_label.hpp"

namespace cadrio::app::views {

UpdateBanner::UpdateBanner(Updater& updater, QWidget* parent) : QWidget(parent), updater_(updater) {
    setObjectName("updateBanner");
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(10, 8, 8, 8);
    row->setSpacing(8);
    label_ = makeLabel({}, TextRole::callout, this);
    QFont medium = label_->font();
    medium.setWeight(QFont::Medium);
    label_->setFont(medium);
    label_->setWordWrap(true);
    auto* install = new QPushButton("Installer", this);
    install->setObjectName("installButton");
    install->setDefault(true);
    connect(install, &QPushButton::clicked, this, [this] { updater_.checkForUpdates(); });
    row->addWidget(makeSymbolLabel("arrow.down.circle.fill", 16, brandGreen(), this));
    row->addWidget(label_, 1);
    row->addWidget(install);
    observer_ = updater_.observe([this] { refresh(); });
    refresh();
}

UpdateBanner::~UpdateBanner() { updater_.unobserve(observer_); }

QString UpdateBanner::text() const { return label_->text(); }

void UpdateBanner::refresh() {
    const std::optional<std::string>& pending = updater_.pendingVersion();
    if (pending) label_->setText("Mise à jour " + QString::fromStdString(*pending) + " disponible");
    // A banner not yet placed in a panel would become a window of its own.
    if (parentWidget() || !pending) setVisible(pending.has_value());
}

void UpdateBanner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = brandGreen();
    fill.setAlphaF(0.1);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(rect()), 8, 8);
}

}  // namespace cadrio::app::views
