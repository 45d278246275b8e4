#include "app/views/launch_at_login_row.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "app/views/style.hpp"
#include "app/views/switch_toggle.hpp"
#include "app/views/symbol_label.hpp"

namespace cadrio::app::views {
namespace {

QPushButton* makeLink(const QString& text, QWidget* parent) {
    auto* link = new QPushButton(text, parent);
    link->setFlat(true);
    link->setCursor(Qt::PointingHandCursor);
    link->setFont(views::font(TextRole::caption));
    link->setStyleSheet("QPushButton { border: none; padding: 0; color: palette(link); }");
    return link;
}

}  // namespace

LaunchAtLoginRow::LaunchAtLoginRow(AppModel& model, ViewEnvironment& environment, QWidget* parent)
    : QWidget(parent), model_(model) {
    setObjectName("launchAtLoginRow");
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);

    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    toggle_ = new SwitchToggle(this);
    toggle_->setObjectName("launchAtLoginSwitch");
    toggle_->setAccessibleName("Ouvrir à l'ouverture de session");
    row->addWidget(makeSymbolLabel("arrow.up.forward.app", 14, std::nullopt, this));
    row->addWidget(makeLabel("Ouvrir à l'ouverture de session", TextRole::callout, this), 1);
    row->addWidget(toggle_);
    column->addLayout(row);

    approval_ = new QWidget(this);
    approval_->setObjectName("loginApproval");
    auto* approvalRow = new QHBoxLayout(approval_);
    approvalRow->setContentsMargins(22, 0, 0, 0);
    QLabel* wait = makeLabel("À autoriser dans les Réglages.", TextRole::caption, approval_);
    setTextColour(*wait, warningOrange());
    QPushButton* open = makeLink("Ouvrir les Réglages", approval_);
    open->setObjectName("loginApprovalLink");
    approvalRow->addWidget(wait);
    approvalRow->addWidget(open);
    approvalRow->addStretch(1);
    column->addWidget(approval_);

    connect(toggle_, &SwitchToggle::clicked, this, [this](bool wanted) {
        model_.setLaunchAtLogin(wanted);
        refresh();  // the system's answer, even when it did not change
    });
    connect(open, &QPushButton::clicked, this, [&environment] {
        if (environment.openSettings) environment.openSettings();
    });
    observer_ = model_.observe([this](AppModel::Field field) {
        if (field == AppModel::Field::launchAtLogin || field == AppModel::Field::launchAtLoginNeedsApproval) refresh();
    });
    refresh();
}

LaunchAtLoginRow::~LaunchAtLoginRow() { model_.unobserve(observer_); }

void LaunchAtLoginRow::refresh() {
    const QSignalBlocker quiet(toggle_);
    toggle_->setChecked(model_.launchAtLogin());
    approval_->setVisible(model_.launchAtLoginNeedsApproval());
}

}  // namespace cadrio::app::views
