#include "app/views/live_indicator.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

#include "app/model/status_texts.hpp"
#include "app/views/style.hpp"

namespace cadrio::app::views {

class LiveIndicator::Dot : public QWidget {
public:
    static constexpr int kDiameter = 9;
    static constexpr int kHalo = 2;

    explicit Dot(QWidget* parent) : QWidget(parent) { setFixedSize(kDiameter + 2 * kHalo, kDiameter + 2 * kHalo); }
    void setColour(const QColor& colour) {
        colour_ = colour;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        QColor halo = colour_;
        halo.setAlphaF(0.35 * colour_.alphaF());
        painter.setBrush(halo);
        painter.drawEllipse(rect());
        painter.setBrush(colour_);
        painter.drawEllipse(QRect(kHalo, kHalo, kDiameter, kDiameter));
    }

private:
    QColor colour_;
};

LiveIndicator::LiveIndicator(QWidget* parent) : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6 - Dot::kHalo);
    dot_ = new Dot(this);
    label_ = makeLabel({}, TextRole::caption, this, true);
    label_->setObjectName("liveText");
    row->addWidget(dot_);
    row->addWidget(label_, 1);
    setStatus(std::nullopt);
}

void LiveIndicator::setStatus(const std::optional<DriveEventStream::Status>& status) {
    using Kind = DriveEventStream::Status::Kind;
    colour_ = secondaryText(*this);
    if (status && status->kind() == Kind::disconnected) colour_ = warningOrange();
    if (status && status->kind() == Kind::connected) colour_ = brandGreen();
    dot_->setColour(colour_);
    label_->setText(QString::fromStdString(liveIndicatorText(status)));
}

QString LiveIndicator::text() const { return label_->text(); }

}  // namespace cadrio::app::views
