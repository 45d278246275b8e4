#include "app/views/panel_placement.hpp"

#include <gtest/gtest.h>

namespace cadrio::app::views {
namespace {

TEST(PanelPlacement, NextToTheIconInsideTheFreeArea) {
    const QSize panel(320, 400);
    const QRect area(0, 28, 1920, 1052);  // a 28 px top bar
    struct Case {
        const char* name;
        QRect icon;
        QPoint expected;
    };
    const Case cases[] = {
        {"unknown place: the top-right corner", QRect(), QPoint(1596, 32)},
        {"top bar, in the middle: centred below", QRect(900, 2, 24, 24), QPoint(751, 30)},
        {"top bar, at the right end: kept on screen", QRect(1890, 2, 24, 24), QPoint(1600, 30)},
        {"bottom bar: above", QRect(1800, 1050, 24, 24), QPoint(1600, 646)},
        {"left vertical bar: to its right", QRect(-40, 600, 24, 24), QPoint(0, 600)},
        {"right vertical bar, low: to its left, kept on screen", QRect(1930, 900, 24, 24), QPoint(1600, 680)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(panelPosition(c.icon, panel, area), c.expected) << c.name;
    }
}

}  // namespace
}  // namespace cadrio::app::views
