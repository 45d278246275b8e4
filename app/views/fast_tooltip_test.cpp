#include "app/views/fast_tooltip.hpp"

#include <gtest/gtest.h>

#include <QApplication>
#include <QEnterEvent>

#include "app/views/icon_button.hpp"
#include "app/views/testing/panel_bench.hpp"

namespace cadrio::app::views {
namespace {

using namespace std::chrono_literals;

struct Hover : testing::PanelBench {
    IconButton button{environment, "arrow.clockwise", "Actualiser maintenant", TooltipEdge::leading, {}};

    Hover() { button.show(); }
    void enter() {
        QEnterEvent event(QPointF(4, 4), QPointF(4, 4), QPointF(4, 4));
        QApplication::sendEvent(&button, &event);
    }
    void leave() {
        QEvent event(QEvent::Leave);
        QApplication::sendEvent(&button, &event);
    }
    bool shown() const { return button.tooltip().isShown(); }
};

// A pass that left before the delay neither brings it up later nor shortens
// the next hover's wait.
TEST(FastTooltip, ShowsAfterAnUnbrokenDelayAndHidesOnLeaving) {
    Hover h;
    h.enter();
    h.executor.advance(200ms);
    h.leave();
    h.executor.advance(1s);
    EXPECT_FALSE(h.shown());
    h.enter();
    h.executor.advance(249ms);
    EXPECT_FALSE(h.shown());
    h.executor.advance(1ms);
    EXPECT_TRUE(h.shown());
    EXPECT_TRUE(h.button.tooltip().isVisible());
    h.leave();
    EXPECT_FALSE(h.shown());
    h.executor.advance(FastTooltip::kFade);
    EXPECT_FALSE(h.button.tooltip().isVisible());
}

}  // namespace
}  // namespace cadrio::app::views
