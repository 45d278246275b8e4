#pragma once

// The second-factor form for one challenge: the six-digit authenticator
// code, or a recovery code, or (for an account whose only factor the app
// can use is a recovery code) the passkey notice first; the remember switch,
// the model's error, "Vérifier", the mode link when the account has both
// kinds of code, "Revenir à la connexion" and the expiry countdown.
//
// In authenticator mode the field keeps only digits, at most six, and a
// sixth digit starts the verification by itself, once per code: keys that
// leave the six digits as they were start nothing more. A recovery code is
// sent as typed. A new challenge needs a new view (mode, code and switch
// start afresh).
//
// Threads: the Qt main thread. The model and the environment must outlive
// the view; it observes the model from construction to destruction.

#include <QString>
#include <QWidget>

#include "app/model/app_model.hpp"
#include "app/views/view_environment.hpp"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace cadrio::app::views {

class FieldBox;
class MessageBanner;
class PasskeyOnlyNotice;
class PrimaryButton;

class TwoFactorView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kCodeLength = 6;

    TwoFactorView(AppModel& model, ViewEnvironment& environment, TwoFactorChallenge challenge,
                  QWidget* parent = nullptr);
    ~TwoFactorView() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void buildHeader();
    void buildBody();
    void buildLinks();
    bool showsPasskeyNotice() const;
    void switchMode();
    void codeEdited(const QString& text);
    bool mayVerify() const;
    void verify();
    void refresh();
    void applyMode();

    AppModel& model_;
    ViewEnvironment& environment_;
    const TwoFactorChallenge challenge_;
    AppModel::ObserverId observer_ = 0;
    bool useRecovery_ = false;
    QString code_;
    QLabel* subtitle_ = nullptr;
    PasskeyOnlyNotice* notice_ = nullptr;
    QLineEdit* codeField_ = nullptr;
    FieldBox* codeBox_ = nullptr;
    QCheckBox* remember_ = nullptr;
    MessageBanner* banner_ = nullptr;
    PrimaryButton* submit_ = nullptr;
    QPushButton* modeLink_ = nullptr;
};

}  // namespace cadrio::app::views
