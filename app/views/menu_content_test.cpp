#include "app/views/menu_content.hpp"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QPushButton>

#include <string>
#include <vector>

#include "app/model/testing/model_fixture.hpp"
#include "app/views/sign_in_view.hpp"
#include "app/views/status_view.hpp"
#include "app/views/two_factor_view.hpp"

namespace cadrio::app::views {
namespace {

using testing::kAccount;
using testing::ModelFixture;

constexpr auto kChallenge = R"({"two_factor_required":true,"pending_token":"%1","methods":["totp"]})";

struct MenuContentTest : ::testing::Test {
    ModelFixture f;
    std::vector<std::string> built;
    std::unique_ptr<MenuContent> content;

    void SetUp() override {
        f.launch();
        f.executor.runReady();
        MenuContent::Screens screens{
            .signIn = [this](QWidget* parent) { return screen("sign-in", parent); },
            .twoFactor = [this](const TwoFactorChallenge& challenge, QWidget* parent) {
                // Its one button is "Revenir à la connexion": the screen goes
                // away from inside its own click.
                auto* button = screen("second factor " + challenge.pendingToken, parent);
                QObject::connect(button, &QPushButton::clicked, [this] { f.model->backToSignIn(); });
                return button;
            },
            .status = [this](QWidget* parent) { return screen("status", parent); },
        };
        content = std::make_unique<MenuContent>(*f.model, std::move(screens));
    }

    QPushButton* screen(std::string name, QWidget* parent) {
        built.push_back(name);
        return new QPushButton(QString::fromStdString(name), parent);
    }

    void signIn(int status, const QString& body = {}) {
        f.transport->api.enqueue(status, body.toStdString());
        f.model->signIn(kAccount, "pw");
        f.executor.runReady();
    }

    static void deleteReplacedScreens() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }
};

TEST_F(MenuContentTest, KeepsTheSignInFormAcrossConnectingAndFailure) {
    QPointer<QWidget> form = content->screen();
    signIn(403);
    ASSERT_EQ(f.model->status().kind(), AppStatus::Kind::failed);
    EXPECT_EQ(content->screen(), form);
    EXPECT_EQ(built, std::vector<std::string>{"sign-in"});
}

TEST_F(MenuContentTest, EveryChallengeGetsAFreshScreenAndLeavingItAFreshForm) {
    QPointer<QWidget> firstForm = content->screen();
    signIn(200, QString(kChallenge).arg("p1"));
    QPointer<QWidget> challengeScreen = content->screen();
    static_cast<QPushButton*>(challengeScreen.data())->click();
    deleteReplacedScreens();
    EXPECT_TRUE(firstForm.isNull());
    EXPECT_TRUE(challengeScreen.isNull());

    signIn(200, QString(kChallenge).arg("p2"));
    f.transport->api.enqueue(410);  // the challenge expired: back to the form, with the message
    f.model->verifyTwoFactor(*f.model->status().challenge(), "123456", TwoFactorMethod::totp, true);
    f.executor.runReady();
    ASSERT_EQ(f.model->status().kind(), AppStatus::Kind::failed);

    EXPECT_EQ(built, (std::vector<std::string>{"sign-in", "second factor p1", "sign-in", "second factor p2",
                                               "sign-in"}));
    EXPECT_TRUE(content->screen()->isVisibleTo(content.get()));
}

TEST_F(MenuContentTest, ReadyShowsTheStatusPanelUntilSignOut) {
    f.transport->api.enqueue(200, R"({"access_token":"t"})");
    signIn(200, R"({"quota_used":1,"quota_max":2})");
    ASSERT_EQ(f.model->status(), AppStatus::ready());
    EXPECT_EQ(built.back(), "status");

    f.model->signOut();
    f.executor.runReady();
    EXPECT_EQ(built, (std::vector<std::string>{"sign-in", "status", "sign-in"}));
}

}  // namespace
}  // namespace cadrio::app::views
