#pragma once

// "Ouvrir à l'ouverture de session" with a switch that reads the model's
// launchAtLogin and, when the user flips it, asks the model to register or
// unregister the login item; the switch then shows what the system reports,
// not what was asked. While the model says the item awaits approval, a
// second line "À autoriser dans les Réglages." with a link "Ouvrir les
// Réglages".
//
// Threads: the Qt main thread (the model's executor). The model and the
// environment must outlive the row.

#include <QWidget>

#include "app/model/app_model.hpp"
#include "app/views/view_environment.hpp"

class QLabel;
class QPushButton;

namespace cadrio::app::views {

class SwitchToggle;

class LaunchAtLoginRow : public QWidget {
    Q_OBJECT
public:
    LaunchAtLoginRow(AppModel& model, ViewEnvironment& environment, QWidget* parent = nullptr);
    ~LaunchAtLoginRow() override;

private:
    void refresh();

    AppModel& model_;
    AppModel::ObserverId observer_;
    SwitchToggle* toggle_;
    QWidget* approval_;
};

}  // namespace cadrio::app::views
