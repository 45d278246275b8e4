#pragma once

// A small bubble that shows a control's tip sooner than the desktop's own
// tooltip: kDelay after the pointer entered, if it is still there, fading in
// over kFade. Leaving hides it at once (the bubble then fades out), so a
// pointer that only crosses the control never brings it up. The bubble sits
// above or below its anchor, aligned to the anchor's leading edge, centre
// or trailing edge, kept on the anchor's screen, and takes no pointer
// events.
//
// It is a tooltip window owned by the anchor: it hides with the anchor and
// dies with it. The delay and the fade run on the executor's clock.
//
// Threads: the Qt main thread (the executor's).

#include <QString>
#include <QWidget>

#include "app/views/icon_button.hpp"
#include "app/views/view_environment.hpp"

namespace cadrio::app::views {

class FastTooltip : public QWidget {
    Q_OBJECT
public:
    enum class Placement { above, below };

    static constexpr Clock::Duration kDelay = std::chrono::milliseconds(250);
    static constexpr Clock::Duration kFade = std::chrono::milliseconds(120);
    static constexpr int kFadeSteps = 6;

    FastTooltip(ViewEnvironment& environment, QWidget& anchor, QString text, TooltipEdge edge, Placement placement);
    ~FastTooltip() override;

    void setText(const QString& text);
    QString text() const { return text_; }

    /// The pointer entered or left the anchor.
    void pointerEntered();
    void pointerLeft();

    bool isHovering() const { return hovering_; }
    /// The bubble is up (true from kDelay after the pointer entered until it
    /// leaves, the fade-in included, the fade-out not).
    bool isShown() const { return shown_; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void appear();
    void fadeStep(int step, bool in);
    void cancelTimer();
    void place();

    ViewEnvironment& environment_;
    QWidget& anchor_;
    QString text_;
    TooltipEdge edge_;
    Placement placement_;
    bool hovering_ = false;
    bool shown_ = false;
    SerialExecutor::TimerId timer_ = 0;  // the delay, then each fade step
};

}  // namespace cadrio::app::views
