#pragma once

// "Expire dans 4:59" down to the challenge's expiry, redrawn every second
// on the executor's clock: orange below 31 seconds, "Expiré" in orange
// from 0. Remaining time is whole seconds of calendar time (the clock's
// wallNow) until `expiresAt`, cut towards zero.
//
// Threads: the Qt main thread. The environment must outlive the label; its
// timer is cancelled on destruction.

#include <QLabel>

#include "app/views/view_environment.hpp"
#include "core/model/date.hpp"

namespace cadrio::app::views {

class ExpiryCountdown : public QLabel {
    Q_OBJECT
public:
    static constexpr int kWarningBelowSeconds = 31;

    ExpiryCountdown(ViewEnvironment& environment, Date expiresAt, QWidget* parent = nullptr);
    ~ExpiryCountdown() override;

private:
    void redraw();
    void tick();

    ViewEnvironment& environment_;
    Date expiresAt_;
    SerialExecutor::TimerId timer_ = 0;
};

}  // namespace cadrio::app::views
