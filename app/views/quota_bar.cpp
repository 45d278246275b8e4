#include "app/views/quota_bar.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include "app/model/status_texts.hpp"
#include "app/views/style.hpp"

namespace cadrio::app::views {

class QuotaBar::Track : public QWidget {
public:
    explicit Track(QWidget* parent) : QWidget(parent) { setFixedHeight(6); }
    void set(double ratio, const QColor& tint) {
        ratio_ = ratio;
        tint_ = tint;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF all(rect());
        const qreal radius = all.height() / 2;
        QColor empty = palette().color(QPalette::WindowText);
        empty.setAlphaF(0.1);
        QPainterPath track;
        track.addRoundedRect(all, radius, radius);
        painter.fillPath(track, empty);
        if (ratio_ <= 0) return;
        QPainterPath filled;
        filled.addRoundedRect(QRectF(all.left(), all.top(), std::max(all.height(), all.width() * ratio_), all.height()),
                              radius, radius);
        painter.fillPath(filled, tint_);
    }

private:
    double ratio_ = 0;
    QColor tint_;
};

QuotaBar::QuotaBar(const DriveQuota& quota, QWidget* parent) : QWidget(parent) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(5);
    track_ = new Track(this);
    used_ = makeLabel({}, TextRole::caption, this, true);
    used_->setObjectName("quotaUsed");
    max_ = makeLabel({}, TextRole::caption, this, true);
    max_->setObjectName("quotaMax");
    auto* texts = new QHBoxLayout;
    texts->addWidget(used_);
    texts->addStretch(1);
    texts->addWidget(max_);
    column->addWidget(track_);
    column->addLayout(texts);
    setQuota(quota);
}

void QuotaBar::setQuota(const DriveQuota& quota) {
    ratio_ = quota.fraction();
    tint_ = quota.maxMegabytes > 0 && ratio_ > kWarningShare ? warningOrange() : brandGreen();
    track_->set(ratio_, tint_);
    used_->setText(QString::fromStdString(gigabytesText(quota.usedMegabytes, 1) + " utilisés"));
    max_->setText(QString::fromStdString("sur " + gigabytesText(quota.maxMegabytes, 0)));
}

}  // namespace cadrio::app::views
