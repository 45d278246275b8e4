#include "app/views/fast_tooltip.hpp"

#include <algorithm>
#include <utility>

#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>

#include "app/views/style.hpp"

namespace cadrio::app::views {
namespace {

constexpr int kShadow = 4;  // room around the bubble for its shadow
constexpr int kPaddingX = 8;
constexpr int kPaddingY = 4;
constexpr int kGap = 2;  // between the anchor and the bubble

}  // namespace

FastTooltip::FastTooltip(ViewEnvironment& environment, QWidget& anchor, QString text, TooltipEdge edge,
                         Placement placement)
    : QWidget(&anchor, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus),
      environment_(environment),
      anchor_(anchor),
      text_(std::move(text)),
      edge_(edge),
      placement_(placement) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFont(views::font(TextRole::caption));
    anchor_.installEventFilter(this);
}

FastTooltip::~FastTooltip() { cancelTimer(); }

void FastTooltip::setText(const QString& text) {
    text_ = text;
    if (isVisible()) {
        resize(sizeHint());
        place();
        update();
    }
}

void FastTooltip::pointerEntered() {
    if (hovering_) return;
    hovering_ = true;
    cancelTimer();
    timer_ = environment_.executor.postAfter(kDelay, [this] {
        timer_ = 0;
        if (hovering_) appear();
    });
}

void FastTooltip::pointerLeft() {
    hovering_ = false;
    cancelTimer();
    if (!shown_) {
        hide();
        return;
    }
    shown_ = false;
    fadeStep(1, false);
}

void FastTooltip::appear() {
    shown_ = true;
    resize(sizeHint());
    place();
    setWindowOpacity(0);
    show();
    fadeStep(1, true);
}

void FastTooltip::fadeStep(int step, bool in) {
    const double progress = double(step) / kFadeSteps;
    // Ease-out on the way in: most of the change comes first.
    setWindowOpacity(in ? 1 - (1 - progress) * (1 - progress) : 1 - progress);
    if (step >= kFadeSteps) {
        if (!in) hide();
        return;
    }
    timer_ = environment_.executor.postAfter(kFade / kFadeSteps, [this, step, in] {
        timer_ = 0;
        fadeStep(step + 1, in);
    });
}

void FastTooltip::cancelTimer() {
    if (timer_ == 0) return;
    environment_.executor.cancel(timer_);
    timer_ = 0;
}

QSize FastTooltip::sizeHint() const {
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(text_) + 2 * (kPaddingX + kShadow), metrics.height() + 2 * (kPaddingY + kShadow)};
}

void FastTooltip::place() {
    const QPoint topLeft = anchor_.mapToGlobal(QPoint(0, 0));
    const int anchorWidth = anchor_.width();
    bool leading = edge_ == TooltipEdge::leading;
    bool trailing = edge_ == TooltipEdge::trailing;
    if (anchor_.isRightToLeft() && edge_ != TooltipEdge::centre) std::swap(leading, trailing);
    int x = topLeft.x() - kShadow;
    if (trailing) x = topLeft.x() + anchorWidth - width() + kShadow;
    if (edge_ == TooltipEdge::centre) x = topLeft.x() + (anchorWidth - width()) / 2;
    int y = placement_ == Placement::below ? topLeft.y() + anchor_.height() + kGap - kShadow
                                           : topLeft.y() - height() - kGap + kShadow;
    if (const QScreen* screen = anchor_.screen()) {
        const QRect area = screen->availableGeometry();
        x = std::clamp(x, area.left(), std::max(area.left(), area.right() - width() + 1));
        y = std::clamp(y, area.top(), std::max(area.top(), area.bottom() - height() + 1));
    }
    move(x, y);
}

void FastTooltip::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bubble = QRectF(rect()).adjusted(kShadow, kShadow, -kShadow, -kShadow);
    for (int i = kShadow; i > 0; --i) {  // a soft shadow, darker close to the bubble
        QPainterPath ring;
        ring.addRoundedRect(bubble.adjusted(-i, -i + 1, i, i + 1), 4 + i, 4 + i);
        painter.fillPath(ring, QColor(0, 0, 0, int(255 * 0.18 / kShadow)));
    }
    QColor border = palette().color(QPalette::WindowText);
    border.setAlphaF(0.15);
    painter.setPen(QPen(border, 0.5));
    painter.setBrush(palette().color(QPalette::Window));
    painter.drawRoundedRect(bubble, 4, 4);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(bubble, Qt::AlignCenter, text_);
}

bool FastTooltip::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &anchor_ && event->type() == QEvent::Hide) {
        hovering_ = false;
        shown_ = false;
        cancelTimer();
        hide();
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace cadrio::app::views
