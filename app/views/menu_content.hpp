#pragma once

// The panel's root: the screen the model's status calls for, 320 px wide
// with 12 px of padding. Signed out, connecting or failed: the sign-in
// screen, kept across those three so that a failure shows on the form the
// user filled in; a second-factor challenge: its screen, built afresh for
// every new challenge; ready: the status panel. A screen that is replaced
// is deleted once control is back in the event loop, since the change may
// come from one of its own buttons.
//
// Threads: the Qt main thread. The model and the environment outlive the
// widget.

#include <functional>

#include <QWidget>

#include "app/model/app_model.hpp"
#include "app/views/view_environment.hpp"

class QVBoxLayout;

namespace cadrio::app::views {

class MenuContent : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 320;
    static constexpr int kPadding = 12;

    /// How each screen is made; the content takes ownership of the widget.
    struct Screens {
        std::function<QWidget*(QWidget* parent)> signIn;
        std::function<QWidget*(const TwoFactorChallenge& challenge, QWidget* parent)> twoFactor;
        std::function<QWidget*(QWidget* parent)> status;
    };
    /// SignInView, TwoFactorView and StatusView.
    static Screens standardScreens(AppModel& model, ViewEnvironment& environment);

    MenuContent(AppModel& model, ViewEnvironment& environment, QWidget* parent = nullptr);
    MenuContent(AppModel& model, Screens screens, QWidget* parent = nullptr);
    ~MenuContent() override;

    /// The screen shown now; never null.
    QWidget* screen() const { return screen_; }

Q_SIGNALS:
    /// A new screen is in place (the panel fits its height to it).
    void screenChanged();

private:
    enum class Kind { signIn, twoFactor, status };
    void update();

    AppModel& model_;
    Screens screens_;
    AppModel::ObserverId observer_ = 0;
    QVBoxLayout* layout_;
    QWidget* screen_ = nullptr;
    Kind kind_ = Kind::signIn;
    std::optional<TwoFactorChallenge> challenge_;
};

}  // namespace cadrio::app::views
