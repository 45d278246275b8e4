#include "app/views/status_view.hpp"

#include <QAbstractButton>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include "app/views/busy_indicator.hpp"
#include "app/views/conflict_banner.hpp"
#include "app/views/extension_approval_card.hpp"
#include "app/views/icon_button.hpp"
#include "app/views/launch_at_login_row.hpp"
#include "app/views/live_indicator.hpp"
#include "app/views/quota_bar.hpp"
#include "app/views/style.hpp"
#include "app/views/symbol_label.hpp"
#include "app/views/symbols.hpp"
#include "app/views/update_banner.hpp"
#include "app/views/update_icon_button.hpp"

namespace cadrio::app::views {
namespace {

QString qs(const std::string& text) { return QString::fromStdString(text); }

/// A row of widgets that acts as one button only while `clickable`.
class RowButton : public QAbstractButton {
public:
    explicit RowButton(QWidget* parent) : QAbstractButton(parent) {}
    void setClickable(bool clickable) {
        clickable_ = clickable;
        setCursor(clickable ? Qt::PointingHandCursor : Qt::ArrowCursor);
        setFocusPolicy(clickable ? Qt::TabFocus : Qt::NoFocus);
    }
    bool isClickable() const { return clickable_; }
    QSize sizeHint() const override { return layout() ? layout()->sizeHint() : QSize(); }

protected:
    void paintEvent(QPaintEvent*) override {}
    bool hitButton(const QPoint& pos) const override { return clickable_ && QAbstractButton::hitButton(pos); }

private:
    bool clickable_ = false;
};

}  // namespace

StatusView::StatusView(AppModel& model, ViewEnvironment& environment, QWidget* parent)
    : QWidget(parent), model_(model), environment_(environment) {
    setObjectName("statusView");
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(14);
    column->addLayout(buildHeader());
    column->addWidget(buildStatusRow());

    quota_ = new QuotaBar(DriveQuota{}, this);
    quota_->setObjectName("quotaBar");
    column->addWidget(quota_);

    conflict_ = new ConflictBanner({}, [this] { model_.dismissConflict(); }, this);
    conflict_->setObjectName("conflictBanner");
    column->addWidget(conflict_);

    archive_ = new QWidget(this);
    archive_->setObjectName("archiveNotice");
    auto* archiveRow = new QHBoxLayout(archive_);
    archiveRow->setContentsMargins(0, 0, 0, 0);
    archiveRow->setSpacing(6);
    archiveText_ = makeLabel({}, TextRole::caption, archive_, true);
    archiveText_->setWordWrap(true);
    archiveRow->addWidget(makeSymbolLabel("archivebox", 12, secondaryText(*this), archive_), 0, Qt::AlignTop);
    archiveRow->addWidget(archiveText_, 1);
    column->addWidget(archive_);

    approval_ = new ExtensionApprovalCard(environment_.openSettings, this);
    approval_->setObjectName("approvalCard");
    column->addWidget(approval_);

    if (environment_.updater) column->addWidget(new UpdateBanner(*environment_.updater, this));
    column->addWidget(new LaunchAtLoginRow(model_, environment_, this));

    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Plain);
    divider->setStyleSheet("color: palette(mid);");
    column->addWidget(divider);
    column->addLayout(buildActions());

    observer_ = model_.observe([this](AppModel::Field) { refresh(); });
    refresh();
}

StatusView::~StatusView() { model_.unobserve(observer_); }

QLayout* StatusView::buildHeader() {
    auto* header = new QHBoxLayout;
    header->setSpacing(10);
    auto* icon = new QLabel(this);
    icon->setPixmap(applicationIcon().pixmap(QSize(30, 30), devicePixelRatioF()));
    icon->setFixedSize(30, 30);
    header->addWidget(icon, 0, Qt::AlignTop);

    auto* lines = new QVBoxLayout;
    lines->setSpacing(1);
    auto* titleRow = new QHBoxLayout;
    titleRow->setSpacing(6);
    titleRow->addWidget(makeLabel("Zelvano Cadrio", TextRole::headline, this));
    QLabel* version = makeLabel(qs(environment_.shortVersion), TextRole::caption, this, true);
    version->setFont(views::font(TextRole::caption, false, true));
    version->setObjectName("versionLabel");
    titleRow->addWidget(version);
    titleRow->addStretch(1);
    lines->addLayout(titleRow);
    account_ = makeLabel({}, TextRole::caption, this, true);
    account_->setObjectName("accountLabel");
    lines->addWidget(account_);
    live_ = new LiveIndicator(this);
    live_->setObjectName("liveIndicator");
    lines->addWidget(live_);
    header->addLayout(lines, 1);

    if (environment_.updater) header->addWidget(new UpdateIconButton(environment_, *environment_.updater, this), 0, Qt::AlignTop);
    return header;
}

QWidget* StatusView::buildStatusRow() {
    auto* button = new RowButton(this);
    statusRow_ = button;
    button->setObjectName("statusRow");
    auto* row = new QHBoxLayout(button);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    spinner_ = new BusyIndicator(environment_, 14, {}, button);
    spinner_->setObjectName("transferSpinner");
    statusSymbol_ = new QLabel(button);
    statusSymbol_->setObjectName("statusSymbol");
    statusText_ = makeLabel({}, TextRole::callout, button);
    statusText_->setObjectName("statusText");
    statusText_->setWordWrap(true);
    row->addWidget(spinner_);
    row->addWidget(statusSymbol_);
    row->addWidget(statusText_, 1);
    connect(button, &QAbstractButton::clicked, this, [this, button] {
        if (button->isClickable() && environment_.openSettings) environment_.openSettings();
    });
    return button;
}

QLayout* StatusView::buildActions() {
    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    refresh_ = new IconButton(environment_, "arrow.clockwise", "Actualiser maintenant", TooltipEdge::leading,
                              [this] { model_.refresh(); }, 14, this);
    refresh_->setObjectName("refreshButton");
    auto* folder = new IconButton(environment_, "folder", "Ouvrir dans le gestionnaire de fichiers",
                                  TooltipEdge::leading, [this] {
                                      if (environment_.openFolder) environment_.openFolder();
                                  }, 14, this);
    folder->setObjectName("folderButton");
    auto* signOut = new IconButton(environment_, "rectangle.portrait.and.arrow.right", "Se déconnecter",
                                   TooltipEdge::centre, [this] { model_.signOut(); }, 14, this);
    signOut->setObjectName("signOutButton");
    auto* quit = new IconButton(environment_, "power", "Quitter Zelvano Cadrio", TooltipEdge::trailing, [this] {
        if (environment_.quit) environment_.quit();
    }, 14, this);
    quit->setObjectName("quitButton");
    row->addWidget(refresh_);
    row->addWidget(folder);
    row->addStretch(1);
    row->addWidget(signOut);
    row->addStretch(1);
    row->addWidget(quit);
    return row;
}

void StatusView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    model_.refreshLoginItem();
}

void StatusView::refresh() {
    account_->setText(qs(model_.account().value_or("")));
    live_->setStatus(model_.liveStatus());
    refreshStatusRow();

    quota_->setVisible(model_.quota().has_value());
    if (model_.quota()) quota_->setQuota(*model_.quota());

    const std::optional<std::string> conflict = model_.conflictText();
    conflict_->setVisible(conflict.has_value());
    if (conflict) conflict_->setText(qs(*conflict));

    const std::optional<std::string> archived = model_.summary() ? model_.summary()->archivedLabel() : std::nullopt;
    archive_->setVisible(archived.has_value());
    if (archived) archiveText_->setText(qs(*archived));

    approval_->setVisible(model_.extensionNeedsApproval());

    const std::optional<std::string> lastSync = model_.lastSyncText();
    refresh_->setTip(lastSync ? "Actualiser maintenant · " + qs(*lastSync) : QString("Actualiser maintenant"));
    refresh_->setBusy(model_.isSynchronizing());
}

void StatusView::refreshStatusRow() {
    auto* row = static_cast<RowButton*>(statusRow_);
    const std::optional<std::string>& transfer = model_.transferLabel();
    const bool awaiting = !transfer && model_.extensionNeedsApproval();
    spinner_->setVisible(transfer.has_value());
    statusSymbol_->setVisible(!transfer);
    if (!transfer) {
        setSymbol(*statusSymbol_, awaiting ? "hourglass" : "checkmark.circle.fill", 14,
                  awaiting ? warningOrange() : brandGreen());
    }
    statusText_->setText(qs(transfer ? *transfer : model_.statusText()));
    row->setClickable(awaiting);
}

}  // namespace cadrio::app::views
