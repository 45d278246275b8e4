#include "app/views/settings_window.hpp"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDir>
#include <QLabel>

#include "app/model/testing/model_fixture.hpp"

namespace cadrio::app::views {
namespace {

using testing::kAccount;
using testing::ModelFixture;

struct SettingsWindowTest : ::testing::Test {
    ModelFixture f;
    std::unique_ptr<SettingsWindow> window;

    void open() {
        window = std::make_unique<SettingsWindow>(*f.model, f.domains, f.executor, f.executor);
        window->show();
        f.executor.runReady();
        f.domains->clearCalls();
    }
    QAbstractButton& toggle(const char* name) { return *window->findChild<QAbstractButton*>(name); }
    QLabel& label(const char* name) { return *window->findChild<QLabel*>(name); }
    void snapshot(const char* state) {
        QDir().mkpath(CADRIO_TEST_ARTIFACTS);
        window->grab().save(QString(CADRIO_TEST_ARTIFACTS) + "/settings-" + state + ".png");
    }
};

TEST_F(SettingsWindowTest, SwitchesShowAndChangeWhatTheHostHoldsAndARefusalPutsThemBack) {
    f.launchSignedIn();
    f.domains->setExtensionEnabled(false);
    open();
    snapshot("signed-in");
    EXPECT_TRUE(toggle("domainSwitch").isChecked());
    EXPECT_FALSE(toggle("extensionSwitch").isChecked());

    toggle("domainSwitch").click();
    EXPECT_FALSE(toggle("extensionSwitch").isEnabled()) << "no second change while one is under way";
    f.executor.runReady();
    toggle("extensionSwitch").click();
    f.executor.runReady();

    EXPECT_EQ(f.domains->count(std::string("setUserEnabled ") + kAccount + " off"), 1u);
    EXPECT_EQ(f.domains->count("setExtensionEnabled on"), 1u);
    EXPECT_FALSE(toggle("domainSwitch").isChecked());
    EXPECT_TRUE(toggle("extensionSwitch").isChecked());
    EXPECT_TRUE(toggle("domainSwitch").isEnabled() && toggle("extensionSwitch").isEnabled());
    EXPECT_FALSE(label("settingsError").isVisibleTo(window.get()));

    // A refused change puts the switch back, with the host's own words.
    f.domains->failSwitches("L'hôte de fichiers ne répond pas.");
    toggle("extensionSwitch").click();
    f.executor.runReady();
    snapshot("refused");

    EXPECT_TRUE(toggle("extensionSwitch").isChecked());
    EXPECT_TRUE(label("settingsError").isVisibleTo(window.get()));
    EXPECT_EQ(label("settingsError").text(), "L'hôte de fichiers ne répond pas.");
}

TEST_F(SettingsWindowTest, WhatCannotBeToldCannotBeSwitchedAndASignInRereads) {
    f.launch();
    f.executor.runReady();
    f.domains->setExtensionEnabled(std::nullopt);
    open();
    snapshot("signed-out");
    EXPECT_FALSE(toggle("domainSwitch").isEnabled());
    EXPECT_TRUE(label("domainSwitchNote").isVisibleTo(window.get()));
    EXPECT_FALSE(toggle("extensionSwitch").isEnabled());
    EXPECT_TRUE(label("extensionSwitchNote").isVisibleTo(window.get()));

    f.transport->api.enqueue(200, R"({"access_token":"t"})");
    f.transport->api.enqueue(200, "{}");
    f.model->signIn(kAccount, "pw");
    f.executor.runReady();
    EXPECT_TRUE(toggle("domainSwitch").isEnabled());
    EXPECT_FALSE(label("domainSwitchNote").isVisibleTo(window.get()));
}

}  // namespace
}  // namespace cadrio::app::views
