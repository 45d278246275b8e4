#pragma once

// An on/off switch: a rounded track (the brand green when on) with a round
// knob. Checkable; the user's click toggles it and emits clicked(checked).
//
// Threads: the Qt main thread.

#include <QAbstractButton>

namespace cadrio::app::views {

class SwitchToggle : public QAbstractButton {
    Q_OBJECT
public:
    explicit SwitchToggle(QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace cadrio::app::views
