#pragma once

// The password form shown while nobody is signed in (status signedOut,
// connecting or failed): the address and the password with its eye button,
// the last failure in a red banner, "Se connecter", and a footer with the
// version and the quit button.
//
// The button may be pressed when both fields hold any text (the address is
// judged raw, then sent trimmed of spaces and tabs; the server decides) and
// no sign-in is under way. On every appearance an empty address takes the
// last one used and the focus goes to the first field still to fill.
//
// Threads: the Qt main thread. The model and the environment must outlive
// the view; it observes the model from construction to destruction.

#include <QWidget>

#include "app/model/app_model.hpp"
#include "app/views/view_environment.hpp"

class QLineEdit;
class QToolButton;

namespace cadrio::app::views {

class FieldBox;
class MessageBanner;
class PrimaryButton;

class SignInView : public QWidget {
    Q_OBJECT
public:
    SignInView(AppModel& model, ViewEnvironment& environment, QWidget* parent = nullptr);
    ~SignInView() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void buildHeader();
    void buildFields();
    void buildFooter();
    void toggleReveal();
    bool maySubmit() const;
    void submit();
    void refresh();

    AppModel& model_;
    ViewEnvironment& environment_;
    AppModel::ObserverId observer_ = 0;
    bool revealPassword_ = false;
    QLineEdit* email_ = nullptr;
    QLineEdit* password_ = nullptr;
    QToolButton* reveal_ = nullptr;
    MessageBanner* banner_ = nullptr;
    PrimaryButton* submit_ = nullptr;
};

}  // namespace cadrio::app::views
