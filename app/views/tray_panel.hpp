#pragma once

// The panel the tray icon opens. As a popup: a frameless window that stays
// on top, opens next to the icon (panelPosition), follows its content's
// height, and closes when it loses focus or on Escape. As a window (a
// desktop without a tray): the same content in an ordinary small window
// with a title bar.
//
// A click on the icon while the popup is open first takes the focus from
// it, which closes it; the click that follows must not open it again, so a
// toggle shortly after such a close leaves it closed.
//
// Threads: the Qt main thread. The clock outlives the panel.

#include <optional>

#include <QRect>
#include <QWidget>

#include "core/support/clock.hpp"

namespace cadrio::app::views {

class TrayPanel : public QWidget {
    Q_OBJECT
public:
    enum class Mode { popup, window };
    static constexpr Clock::Duration kReopenGuard = std::chrono::milliseconds(300);

    /// Takes `content` as its only child.
    TrayPanel(Mode mode, QWidget* content, Clock& clock, QWidget* parent = nullptr);

    Mode mode() const { return mode_; }
    /// Opens next to `icon` (global coordinates; empty when unknown), raised
    /// and focused; a popup already open moves to it.
    void present(const QRect& icon = {});
    /// Opens, or closes when open.
    void toggle(const QRect& icon);

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void place();
    void closePopup();

    Mode mode_;
    Clock& clock_;
    QRect icon_;
    std::optional<Clock::TimePoint> closedByFocusAt_;
};

}  // namespace cadrio::app::views
