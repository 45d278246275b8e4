#include "app/views/panel_placement.hpp"

#include <algorithm>

namespace cadrio::app::views {
namespace {

constexpr int kGap = 4;

int clampInto(int start, int length, int areaStart, int areaLength) {
    return std::max(areaStart, std::min(start, areaStart + areaLength - length));
}

}  // namespace

QPoint panelPosition(const QRect& icon, const QSize& panel, const QRect& area) {
    if (!icon.isValid() || icon.isEmpty()) {
        return {area.x() + area.width() - panel.width() - kGap, area.y() + kGap};
    }
    QPoint at;
    // An icon beside the free area lives in a vertical panel: open sideways.
    const bool vertical = icon.center().x() < area.left() || icon.center().x() > area.right();
    if (vertical) {
        at.setX(icon.center().x() < area.center().x() ? icon.right() + 1 + kGap
                                                        : icon.left() - kGap - panel.width());
        at.setY(icon.top());
    } else {
        at.setX(icon.center().x() - panel.width() / 2);
        at.setY(icon.center().y() < area.center().y() ? icon.bottom() + 1 + kGap
                                                        : icon.top() - kGap - panel.height());
    }
    return {clampInto(at.x(), panel.width(), area.x(), area.width()),
            clampInto(at.y(), panel.height(), area.y(), area.height())};
}

}  // namespace cadrio::app::views
