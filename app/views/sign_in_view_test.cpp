#include "app/views/sign_in_view.hpp"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QToolButton>

#include "app/views/message_banner.hpp"
#include "app/views/primary_button.hpp"
#include "app/views/testing/form_bench.hpp"

namespace cadrio::app::views {
namespace {

using testing::FormBench;

TEST(SignInView, SubmitsWhenBothFieldsHoldTextAndSendsTheAddressTrimmed) {
    struct Case {
        const char* name;
        QString email;
        QString password;
        bool enabled;
        std::string sent;
    };
    const Case cases[] = {
        {"spaces only", "   ", "pw", true, ""},
        {"padded", " \tanne@cadrio.test  ", "p w ", true, "anne@cadrio.test"},
        {"no password", "anne@cadrio.test", "", false, ""},
        {"no address", "", "pw", false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FormBench bench;
        testing::Panel panel;
        auto& view = panel.show<SignInView>(*bench.model.model, bench.environment);
        auto& email = *view.findChild<QLineEdit*>("emailField");
        auto& password = *view.findChild<QLineEdit*>("passwordField");
        auto& submit = *view.findChild<PrimaryButton*>("submitButton");
        testing::typeText(email, c.email, bench);
        testing::typeText(password, c.password, bench);
        EXPECT_EQ(submit.isEnabled(), c.enabled);
        if (!c.enabled) continue;

        bench.model.transport->api.enqueue(403);
        testing::pressReturn(password);
        EXPECT_TRUE(submit.isBusy());
        EXPECT_FALSE(submit.isEnabled());
        testing::savePng(view, "sign-in-connecting");
        bench.model.executor.runReady();

        const auto sent = bench.sent("/auth/login-jmap");
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0]["email"], c.sent);
        EXPECT_EQ(sent[0]["password"], c.password.toStdString());
        const auto& banner = *view.findChild<MessageBanner*>("errorBanner");
        EXPECT_TRUE(banner.isVisible());
        EXPECT_EQ(banner.text().toStdString(), bench.model.model->status().message());
        EXPECT_TRUE(submit.isEnabled());
        testing::savePng(view, "sign-in-failed");
    }
}

TEST(SignInView, AppearsWithTheLastAddressAndFocusOnWhatIsLeftToType) {
    FormBench bench;
    AppModel& model = *bench.model.model;
    {
        testing::Panel panel;
        auto& view = panel.show<SignInView>(model, bench.environment);
        EXPECT_EQ(view.focusWidget(), view.findChild<QLineEdit*>("emailField"));
        EXPECT_FALSE(view.findChild<MessageBanner*>("errorBanner")->isVisible());
        testing::savePng(view, "sign-in-empty");
    }
    bench.model.transport->api.enqueue(403);
    model.signIn("anne@cadrio.test", "pw");
    bench.model.executor.runReady();

    testing::Panel panel;
    auto& view = panel.show<SignInView>(model, bench.environment);
    auto& password = *view.findChild<QLineEdit*>("passwordField");
    EXPECT_EQ(view.findChild<QLineEdit*>("emailField")->text(), "anne@cadrio.test");
    EXPECT_EQ(view.focusWidget(), &password);

    auto& reveal = *view.findChild<QToolButton*>("revealButton");
    testing::typeText(password, "secret", bench);
    reveal.click();
    EXPECT_EQ(password.echoMode(), QLineEdit::Normal);
    testing::savePng(view, "sign-in-revealed");
    reveal.click();
    EXPECT_EQ(password.echoMode(), QLineEdit::Password);
    EXPECT_EQ(password.text(), "secret");
}

}  // namespace
}  // namespace cadrio::app::views
