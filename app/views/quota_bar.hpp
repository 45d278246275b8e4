#pragma once

// The drive's storage: a thin bar filled to the used share, then "1,5 Go
// utilisés" at the leading side and "sur 10 Go" at the trailing side
// (caption, secondary colour). The bar turns orange above 90 % of a
// positive maximum (a full or overfull drive included) and is the brand
// green otherwise; a maximum of 0 gives an empty green bar.
//
// Threads: the Qt main thread.

#include <QColor>
#include <QWidget>

#include "core/model/drive_records.hpp"

class QLabel;

namespace cadrio::app::views {

class QuotaBar : public QWidget {
    Q_OBJECT
public:
    static constexpr double kWarningShare = 0.9;

    explicit QuotaBar(const DriveQuota& quota, QWidget* parent = nullptr);

    void setQuota(const DriveQuota& quota);
    /// The filled share, in [0, 1].
    double ratio() const { return ratio_; }
    QColor tint() const { return tint_; }

private:
    class Track;
    Track* track_;
    QLabel* used_;
    QLabel* max_;
    double ratio_ = 0;
    QColor tint_;
};

}  // namespace cadrio::app::views
