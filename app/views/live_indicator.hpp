#pragma once

// The state of the drive's event stream: a 9-point dot in the state's
// colour with a faint halo, and its text in caption. Secondary colour while
// connecting (no status yet) and once stopped as unauthorized, orange while
// disconnected, the brand green while connected.
//
// Threads: the Qt main thread.

#include <optional>

#include <QColor>
#include <QWidget>

#include "core/events/drive_event_stream.hpp"

class QLabel;

namespace cadrio::app::views {

class LiveIndicator : public QWidget {
    Q_OBJECT
public:
    explicit LiveIndicator(QWidget* parent = nullptr);

    void setStatus(const std::optional<DriveEventStream::Status>& status);
    QColor dotColour() const { return colour_; }
    QString text() const;

private:
    class Dot;
    Dot* dot_;
    QLabel* label_;
    QColor colour_;
};

}  // namespace cadrio::app::views
