#pragma once

// The signed-in panel: the header (icon, name and version, account, the
// event stream's state, the update button when there is a feed), the status
// row, the quota, the newest conflict, the archive notice, the approval
// card, the update banner, the launch-at-login row, and the four actions
// (refresh, open the folder, sign out, quit).
//
// The status row shows, first that applies: a transfer under way (spinner
// and its label, whatever the approval state); approval awaited (orange
// hourglass, and the row opens the settings); all well (green check).
//
// Threads: the Qt main thread (the model's executor). The model and the
// environment (its updater included) must outlive the view.

#include <QWidget>

#include "app/model/app_model.hpp"
#include "app/views/view_environment.hpp"

class QAbstractButton;
class QLabel;

namespace cadrio::app::views {

class BusyIndicator;
class ConflictBanner;
class ExtensionApprovalCard;
class IconButton;
class LiveIndicator;
class QuotaBar;

class StatusView : public QWidget {
    Q_OBJECT
public:
    StatusView(AppModel& model, ViewEnvironment& environment, QWidget* parent = nullptr);
    ~StatusView() override;

protected:
    /// The login item's state can change behind the application's back.
    void showEvent(QShowEvent* event) override;

private:
    QLayout* buildHeader();
    QWidget* buildStatusRow();
    QLayout* buildActions();
    void refresh();
    void refreshStatusRow();

    AppModel& model_;
    ViewEnvironment& environment_;
    AppModel::ObserverId observer_ = 0;
    QLabel* account_ = nullptr;
    LiveIndicator* live_ = nullptr;
    QAbstractButton* statusRow_ = nullptr;
    BusyIndicator* spinner_ = nullptr;
    QLabel* statusSymbol_ = nullptr;
    QLabel* statusText_ = nullptr;
    QuotaBar* quota_ = nullptr;
    ConflictBanner* conflict_ = nullptr;
    QWidget* archive_ = nullptr;
    QLabel* archiveText_ = nullptr;
    ExtensionApprovalCard* approval_ = nullptr;
    IconButton* refresh_ = nullptr;
};

}  // namespace cadrio::app::views
