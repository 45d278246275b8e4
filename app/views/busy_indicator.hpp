#pragma once

// A small spinning arc for work under way. It turns only while shown, one
// step every kStep on the executor's clock, so a hidden indicator costs
// nothing and tests see it on virtual time.
//
// Threads: the Qt main thread (the executor's).

#include <QColor>
#include <QWidget>

#include "app/views/view_environment.hpp"

namespace cadrio::app::views {

class BusyIndicator : public QWidget {
    Q_OBJECT
public:
    static constexpr Clock::Duration kStep = std::chrono::milliseconds(80);

    /// `colour` invalid: the palette's text colour.
    BusyIndicator(ViewEnvironment& environment, int diameter, QColor colour = {}, QWidget* parent = nullptr);
    ~BusyIndicator() override;

    bool isTurning() const { return timer_ != 0; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void turn();
    void stop();

    ViewEnvironment& environment_;
    QColor colour_;
    int angle_ = 0;
    SerialExecutor::TimerId timer_ = 0;
};

}  // namespace cadrio::app::views
