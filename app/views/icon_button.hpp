#pragma once

// A small square button showing a symbol (or a busy indicator in its place)
// on a background that shows only while the pointer is over it, with a
// FastTooltip below it aligned to `edge`; its accessible name is the tip.
//
// Threads: the Qt main thread.

#include <functional>

#include <QAbstractButton>
#include <QString>

#include "app/views/view_environment.hpp"

namespace cadrio::app::views {

class BusyIndicator;
class FastTooltip;

enum class TooltipEdge { leading, centre, trailing };

class IconButton : public QAbstractButton {
    Q_OBJECT
public:
    IconButton(ViewEnvironment& environment, QString systemImage, QString tip, TooltipEdge edge,
               std::function<void()> action, int size = 14, QWidget* parent = nullptr);

    void setTip(const QString& tip);
    QString tip() const;
    void setBusy(bool busy);
    bool isBusy() const;
    FastTooltip& tooltip() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QString systemImage_;
    int size_;
    bool busy_ = false;
    bool hovering_ = false;
    FastTooltip* tooltip_;
    BusyIndicator* busyIndicator_;  // shown in the symbol's place while busy
};

}  // namespace cadrio::app::views
