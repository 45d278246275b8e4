#include "app/views/settings_window.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QVBoxLayout>

#include <exception>

#include "app/views/style.hpp"
#include "app/views/switch_toggle.hpp"

namespace cadrio::app::views {
namespace {

constexpr auto kProductName = "Zelvano Cadrio";

QAbstractButton* addSwitch(QVBoxLayout& column, const QString& heading, const QString& objectName, QLabel*& note,
                           QWidget* parent) {
    column.addWidget(makeLabel(heading, TextRole::headline, parent));
    auto* row = new QHBoxLayout();
    row->addWidget(makeLabel(kProductName, TextRole::body, parent));
    row->addStretch();
    auto* toggle = new SwitchToggle(parent);
    toggle->setObjectName(objectName);
    toggle->setAccessibleName(heading + " : " + kProductName);
    toggle->setEnabled(false);
    row->addWidget(toggle);
    column.addLayout(row);
    note = makeLabel({}, TextRole::caption, parent, true);
    note->setObjectName(objectName + "Note");
    note->setWordWrap(true);
    note->hide();
    column.addWidget(note);
    return toggle;
}

void showNote(QLabel& note, const QString& text) {
    note.setText(text);
    note.setVisible(!text.isEmpty());
}

}  // namespace

SettingsWindow::SettingsWindow(AppModel& model, std::shared_ptr<DomainControlling> domains,
                               SerialExecutor& executor, Executor& background, QWidget* parent)
    : QWidget(parent, Qt::Window),
      model_(model),
      domains_(std::move(domains)),
      executor_(executor),
      background_(background) {
    setObjectName("settingsWindow");
    setWindowTitle("Réglages");
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(16, 16, 16, 16);
    column->setSpacing(6);
    domainSwitch_ = addSwitch(*column, "Afficher le Cadrio dans vos fichiers", "domainSwitch", domainNote_, this);
    column->addSpacing(10);
    extensionSwitch_ =
        addSwitch(*column, "Extensions → Fournisseurs de fichiers", "extensionSwitch", extensionNote_, this);
    error_ = makeLabel({}, TextRole::caption, this);
    error_->setObjectName("settingsError");
    error_->setWordWrap(true);
    setTextColour(*error_, errorRed());
    error_->hide();
    column->addSpacing(6);
    column->addWidget(error_);
    column->addStretch();
    setMinimumWidth(340);

    // `clicked` comes from the user only, never from apply()'s setChecked.
    connect(domainSwitch_, &QAbstractButton::clicked, this, [this](bool on) { change(Switch::domain, on); });
    connect(extensionSwitch_, &QAbstractButton::clicked, this, [this](bool on) { change(Switch::extension, on); });
    observer_ = model_.observe([this](AppModel::Field field) {
        if (field == AppModel::Field::account && model_.account() != account_ && isVisible()) reload();
    });
}

SettingsWindow::~SettingsWindow() { model_.unobserve(observer_); }

void SettingsWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    reload();
}

void SettingsWindow::setWaiting() {
    domainSwitch_->setEnabled(false);
    extensionSwitch_->setEnabled(false);
}

void SettingsWindow::reload() {
    setWaiting();
    const std::uint64_t round = ++round_;
    Reading reading;
    reading.account = model_.account();
    background_.post([domains = domains_, reading, &executor = executor_, self = QPointer(this), round]() mutable {
        if (reading.account) reading.domainEnabled = domains->isUserEnabled(*reading.account);
        reading.extensionEnabled = domains->extensionEnabled();
        executor.post([self, reading, round] {
            if (self && round == self->round_) self->apply(reading);
        });
    });
}

void SettingsWindow::apply(const Reading& reading) {
    account_ = reading.account;
    domainSwitch_->setChecked(reading.domainEnabled.value_or(false));
    domainSwitch_->setEnabled(reading.domainEnabled.has_value());
    if (!reading.account) {
        showNote(*domainNote_, "Connectez-vous pour choisir où le Cadrio s'affiche.");
    } else if (!reading.domainEnabled) {
        showNote(*domainNote_, "Le Cadrio de " + QString::fromStdString(*reading.account) +
                                   " n'est pas encore monté.");
    } else {
        showNote(*domainNote_, {});
    }
    extensionSwitch_->setChecked(reading.extensionEnabled.value_or(false));
    extensionSwitch_->setEnabled(reading.extensionEnabled.has_value());
    showNote(*extensionNote_, reading.extensionEnabled ? QString() : "L'état de l'extension est inconnu.");
}

void SettingsWindow::change(Switch which, bool on) {
    QAbstractButton* toggle = which == Switch::domain ? domainSwitch_ : extensionSwitch_;
    if (which == Switch::domain && !account_) return;
    setWaiting();
    error_->hide();
    const std::uint64_t round = ++round_;
    background_.post([domains = domains_, which, on, account = account_.value_or(std::string()),
                      &executor = executor_, self = QPointer(this), toggle = QPointer(toggle), round] {
        std::optional<std::string> failure;
        try {
            if (which == Switch::domain) {
                domains->setUserEnabled(account, on);
            } else {
                domains->setExtensionEnabled(on);
            }
        } catch (const std::exception& error) {
            failure = error.what();
        }
        executor.post([self, toggle, on, failure, round] {
            if (!self || round != self->round_) return;
            if (failure) {
                if (toggle) toggle->setChecked(!on);
                self->error_->setText(QString::fromStdString(*failure));
                self->error_->show();
            }
            self->reload();
        });
    });
}

}  // namespace cadrio::app::views
