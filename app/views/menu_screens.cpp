// The panel's real screens, apart from MenuContent's switching so that the
// switching is tested on its own.

#include "app/views/menu_content.hpp"
#include "app/views/sign_in_view.hpp"
#include "app/views/status_view.hpp"
#include "app/views/two_factor_view.hpp"

namespace cadrio::app::views {

MenuContent::Screens MenuContent::standardScreens(AppModel& model, ViewEnvironment& environment) {
    return {
        .signIn = [&model, &environment](QWidget* parent) { return new SignInView(model, environment, parent); },
        .twoFactor = [&model, &environment](const TwoFactorChallenge& challenge, QWidget* parent) {
            return new TwoFactorView(model, environment, challenge, parent);
        },
        .status = [&model, &environment](QWidget* parent) { return new StatusView(model, environment, parent); },
    };
}

}  // namespace cadrio::app::views
