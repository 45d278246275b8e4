#include "app/views/two_factor_view.hpp"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/views/message_banner.hpp"
#include "app/views/primary_button.hpp"
#include "app/views/style.hpp"
#include "app/views/testing/form_bench.hpp"

namespace cadrio::app::views {
namespace {

using namespace std::chrono_literals;
using testing::FormBench;

TwoFactorChallenge challenge(FormBench& bench, std::vector<std::string> methods,
                             std::chrono::seconds lifetime = 300s) {
    return {"anne@cadrio.test", std::move(methods), bench.model.clock.wallNow() + lifetime, "pending", "pw"};
}

bool shown(const QWidget& view, const char* name) {
    const auto* widget = view.findChild<QWidget*>(name);
    return widget != nullptr && widget->isVisible();
}

TEST(TwoFactorView, AuthenticatorCodeKeepsSixDigitsAndVerifiesThemOnce) {
    struct Case {
        const char* name;
        QString typed;
        QString pasted;
    };
    const Case cases[] = {
        {"typed among letters, spaces and dashes", "1a2 3-4b5 6x7", ""},
        {"eight digits pasted", "", "12345678"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FormBench bench;
        testing::Panel panel;
        auto& view = panel.show<TwoFactorView>(*bench.model.model, bench.environment, challenge(bench, {"totp", "recovery"}));
        auto& code = *view.findChild<QLineEdit*>("codeField");
        EXPECT_EQ(view.focusWidget(), &code);
        testing::savePng(view, "two-factor-authenticator");
        bench.model.transport->api.enqueue(401);

        testing::typeText(code, c.typed, bench);
        if (!c.pasted.isEmpty()) testing::paste(code, c.pasted);
        bench.model.executor.runReady();
        testing::typeText(code, "9", bench);  // the code stays as it was: nothing more is sent

        EXPECT_EQ(code.text(), "123456");
        const auto sent = bench.sent("/auth/2fa/verify");
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0]["code"], "123456");
        EXPECT_EQ(sent[0]["method"], "totp");
        EXPECT_EQ(sent[0]["remember_device"], true);
        EXPECT_TRUE(shown(view, "errorBanner"));
        EXPECT_TRUE(view.findChild<PrimaryButton*>("submitButton")->isEnabled());
        testing::savePng(view, "two-factor-error");
    }
}

TEST(TwoFactorView, RecoveryCodeIsSentAsTyped) {
    FormBench bench;
    testing::Panel panel;
    auto& view = panel.show<TwoFactorView>(*bench.model.model, bench.environment, challenge(bench, {"totp", "recovery"}));
    auto& link = *view.findChild<QPushButton*>("modeLink");
    auto& code = *view.findChild<QLineEdit*>("codeField");
    auto& submit = *view.findChild<PrimaryButton*>("submitButton");
    testing::typeText(code, "12", bench);
    link.click();
    EXPECT_EQ(code.text(), "");

    testing::typeText(code, " \t ", bench);
    EXPECT_FALSE(submit.isEnabled());
    testing::typeText(code, "ab-cd ef12", bench);
    view.findChild<QCheckBox*>("rememberCheck")->setChecked(false);
    testing::savePng(view, "two-factor-recovery");
    bench.model.transport->api.enqueue(401);
    testing::pressReturn(code);
    EXPECT_TRUE(submit.isBusy());
    testing::savePng(view, "two-factor-verifying");
    bench.model.executor.runReady();

    const auto sent = bench.sent("/auth/2fa/verify");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0]["code"], "ab-cd ef12");  // the client trims the ends, the inner space stays
    EXPECT_EQ(sent[0]["method"], "recovery");
    EXPECT_EQ(sent[0]["remember_device"], false);
}

TEST(TwoFactorView, TheMethodsDecideBetweenModeLinkAndPasskeyNotice) {
    struct Case {
        const char* name;
        std::vector<std::string> methods;
        bool modeLink;
        bool notice;
    };
    const Case cases[] = {
        {"totp", {"totp"}, false, false},
        {"recovery", {"recovery"}, false, true},
        {"both", {"totp", "recovery"}, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FormBench bench;
        testing::Panel panel;
        auto& view = panel.show<TwoFactorView>(*bench.model.model, bench.environment, challenge(bench, c.methods));
        EXPECT_EQ(shown(view, "modeLink"), c.modeLink);
        EXPECT_EQ(shown(view, "passkeyNotice"), c.notice);
        EXPECT_EQ(shown(view, "codeField"), !c.notice);
        if (!c.notice) continue;
        testing::savePng(view, "two-factor-passkey");

        view.findChild<QPushButton*>("securityLink")->click();
        EXPECT_EQ(bench.openedUrls, std::vector<std::string>{"https://comptes.cadrio.test/security"});
        view.findChild<QPushButton*>("recoveryLink")->click();
        EXPECT_FALSE(shown(view, "passkeyNotice"));
        EXPECT_TRUE(shown(view, "codeField"));
        EXPECT_EQ(view.findChild<QLineEdit*>("codeField")->placeholderText(), "Code de secours");
    }
}

TEST(TwoFactorView, CountdownTurnsOrangeAtThirtySecondsAndExpiresAtZero) {
    FormBench bench;
    testing::Panel panel;
    auto& view = panel.show<TwoFactorView>(*bench.model.model, bench.environment, challenge(bench, {"totp"}, 31s));
    const auto& countdown = *view.findChild<QLabel*>("countdown");
    const QColor orange = warningOrange();
    struct Step {
        std::chrono::seconds after;
        QString text;
        bool orange;
    };
    const Step steps[] = {
        {0s, "Expire dans 0:31", false},
        {1s, "Expire dans 0:30", true},
        {30s, "Expiré", true},
        {60s, "Expiré", true},
    };
    for (const auto& step : steps) {
        bench.model.executor.advance(step.after);
        EXPECT_EQ(countdown.text(), step.text);
        EXPECT_EQ(textColour(countdown) == orange, step.orange) << countdown.text().toStdString();
    }
    testing::savePng(view, "two-factor-expired");

    bench.model.clock.setWallTime(bench.model.clock.wallNow() - 200s);  // the user set the clock back
    bench.model.executor.advance(1s);
    EXPECT_EQ(countdown.text(), "Expire dans 2:19");
}

TEST(TwoFactorView, BackLinkLeavesTheChallengeAndItsError) {
    FormBench bench;
    AppModel& model = *bench.model.model;
    bench.model.transport->api.enqueue(200, R"({"two_factor_required":true,"pending_token":"p","methods":["totp"]})");
    model.signIn("anne@cadrio.test", "pw");
    bench.model.executor.runReady();
    ASSERT_EQ(model.status().kind(), AppStatus::Kind::twoFactor);
    TwoFactorView view(model, bench.environment, *model.status().challenge());
    bench.model.transport->api.enqueue(401);
    testing::typeText(*view.findChild<QLineEdit*>("codeField"), "000000", bench);
    ASSERT_TRUE(model.twoFactorError().has_value());

    view.findChild<QPushButton*>("backLink")->click();
    EXPECT_EQ(model.status().kind(), AppStatus::Kind::signedOut);
    EXPECT_FALSE(model.twoFactorError().has_value());
}

}  // namespace
}  // namespace cadrio::app::views
