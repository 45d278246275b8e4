#pragma once

// "Réglages": the two switches that must both be on for the drive to show
// in the user's files, named as the approval card names them: "Afficher le
// Cadrio dans vos fichiers : Zelvano Cadrio" (the signed-in account's
// domain, its user-enabled flag at the host) and "Extensions → Fournisseurs
// de fichiers : Zelvano Cadrio" (the plug-in's election).
//
// The switches show what the host says: they are read again whenever the
// window is shown and whenever the account changes, and after every change.
// A switch whose state cannot be told is disabled, with the reason beside
// it. A change the host refuses puts the switch back and shows the host's
// message. While a read or a change is under way both switches wait
// disabled, so two changes never cross.
//
// Threads: the Qt main thread. The host is asked on the background
// executor (its calls block); the answers come back on the serial one,
// and are dropped once the window is gone or a newer read started.
// The model, the executors and the controller outlive the window.

#include <memory>
#include <optional>
#include <string>

#include <QWidget>

#include "app/domain/domain_controlling.hpp"
#include "app/model/app_model.hpp"

class QAbstractButton;
class QLabel;

namespace cadrio::app::views {

class SettingsWindow : public QWidget {
    Q_OBJECT
public:
    SettingsWindow(AppModel& model, std::shared_ptr<DomainControlling> domains, SerialExecutor& executor,
                   Executor& background, QWidget* parent = nullptr);
    ~SettingsWindow() override;

    /// Asks the host for both switches again.
    void reload();

protected:
    void showEvent(QShowEvent* event) override;

private:
    struct Reading {
        std::optional<std::string> account;
        std::optional<bool> domainEnabled;
        std::optional<bool> extensionEnabled;
    };
    enum class Switch { domain, extension };

    void apply(const Reading& reading);
    void change(Switch which, bool on);
    void setWaiting();

    AppModel& model_;
    std::shared_ptr<DomainControlling> domains_;
    SerialExecutor& executor_;
    Executor& background_;
    AppModel::ObserverId observer_ = 0;
    std::uint64_t round_ = 0;  // the read or change whose answer counts
    std::optional<std::string> account_;
    QAbstractButton* domainSwitch_;
    QLabel* domainNote_;
    QAbstractButton* extensionSwitch_;
    QLabel* extensionNote_;
    QLabel* error_;
};

}  // namespace cadrio::app::views
