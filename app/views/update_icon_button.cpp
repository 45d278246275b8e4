#include "app/views/update_icon_button.hpp"

#include <QPainter>

#include "app/updates/updater.hpp"
#include "app/views/style.hpp"

namespace cadrio::app::views {
namespace {

constexpr int kBadge = 7;

}  // namespace

UpdateIconButton::UpdateIconButton(ViewEnvironment& environment, Updater& updater, QWidget* parent)
    : IconButton(environment, "arrow.down.circle", {}, TooltipEdge::leading, [&updater] { updater.checkForUpdates(); },
                 14, parent),
      environment_(environment),
      updater_(updater),
      observer_(updater.observe([this] { refresh(); })) {
    setObjectName("updateButton");
    refresh();
}

UpdateIconButton::~UpdateIconButton() { updater_.unobserve(observer_); }

void UpdateIconButton::refresh() {
    const std::optional<std::string>& pending = updater_.pendingVersion();
    badge_ = pending.has_value();
    setTip(pending ? "Installer la version " + QString::fromStdString(*pending)
                   : "Rechercher les mises à jour · version " + QString::fromStdString(environment_.fullVersion));
    update();
}

void UpdateIconButton::paintEvent(QPaintEvent* event) {
    IconButton::paintEvent(event);
    if (!badge_) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(warningOrange());
    const int x = isRightToLeft() ? 1 : width() - kBadge - 1;
    painter.drawEllipse(QRect(x, 1, kBadge, kBadge));
}

}  // namespace cadrio::app::views
