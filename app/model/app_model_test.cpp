#include "app/model/app_model.hpp"

#include <gtest/gtest.h>

#include "app/model/testing/model_fixture.hpp"

namespace cadrio::app {
namespace {

using namespace std::chrono_literals;
using testing::kAccount;
using testing::ModelFixture;
using Kind = AppStatus::Kind;

TEST(AppModelRestore, OutcomesAtLaunch) {
    struct Case {
        const char* name;
        bool stored;
        bool mounted;
        std::optional<std::string> mountFailure;
        Kind status;
        std::vector<std::string> calls;
    };
    const std::string account = kAccount;
    const Case cases[] = {
        {"no session", false, false, std::nullopt, Kind::signedOut, {}},
        {"mounted already", true, true, std::nullopt, Kind::ready, {"isMounted " + account}},
        {"mounted now", true, false, std::nullopt, Kind::ready, {"isMounted " + account, "mount " + account}},
        {"mount refused", true, false, "Hôte absent", Kind::failed, {"isMounted " + account, "mount " + account}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ModelFixture f;
        if (c.stored) f.sessions->save({kAccount, "token", "pw"});
        if (c.mounted) f.domains->setMounted(kAccount);
        f.domains->failMount(c.mountFailure);
        f.transport->api.enqueue(200, "{}");  // the quota, once ready
        f.launch();
        f.executor.runReady();
        f.model->restoreSession();  // a second entry is ignored
        f.executor.runReady();

        EXPECT_EQ(f.model->status().kind(), c.status);
        auto calls = f.domains->calls();
        calls.resize(std::min(calls.size(), c.calls.size()));  // the live session's calls follow
        EXPECT_EQ(calls, c.calls);
        EXPECT_EQ(f.model->hasLiveSession(), c.status == Kind::ready);
        if (c.mountFailure) {
            EXPECT_EQ(f.model->status().message(), *c.mountFailure);
        }
    }
}

TEST(AppModelSignIn, PasswordOutcomes) {
    struct Case {
        const char* name;
        int status;
        std::string body;
        Kind expected;
        std::string message;  // empty for a failure: any explanation
    };
    const Case cases[] = {
        {"signed in", 200, R"({"access_token":"t"})", Kind::ready, ""},
        {"passkey only", 200, R"({"two_factor_required":true,"pending_token":"p","methods":["webauthn"]})",
         Kind::failed, ""},
        {"recovery only", 200, R"({"two_factor_required":true,"pending_token":"p","methods":["recovery"]})",
         Kind::twoFactor, ""},
        {"wrong password", 403, "", Kind::failed, DriveError::notAuthenticated().errorDescription()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ModelFixture f;
        f.launch();
        f.executor.runReady();
        f.transport->api.enqueue(c.status, c.body);
        f.transport->api.enqueue(200, "{}");  // the quota, once ready
        f.model->signIn(kAccount, "pw");
        EXPECT_EQ(f.model->status().kind(), Kind::connecting);
        f.executor.runReady();
        EXPECT_EQ(f.model->status().kind(), c.expected);
        const std::string message = f.model->status().message();
        if (!c.message.empty()) {
            EXPECT_EQ(message, c.message);
        }
        EXPECT_EQ(message.empty(), c.expected != Kind::failed);
        EXPECT_EQ(f.model->lastEmail(), kAccount);
    }
}

TEST(AppModelSignIn, SecondFactorExpiryRetryAndSuccess) {
    ModelFixture f;
    f.launch();
    f.executor.runReady();
    f.transport->api.enqueue(200, R"({"two_factor_required":true,"pending_token":"p","methods":["totp"]})");
    f.model->signIn(kAccount, "pw");
    f.executor.runReady();
    ASSERT_EQ(f.model->status().kind(), Kind::twoFactor);
    const TwoFactorChallenge challenge = *f.model->status().challenge();
    auto verify = [&] { f.model->verifyTwoFactor(challenge, "123456", TwoFactorMethod::totp, true); };

    // A wrong code keeps the form, with the error under it; a double tap
    // sends one request.
    f.transport->api.enqueue(401);
    verify();
    verify();
    f.executor.runReady();
    ASSERT_EQ(f.transport->api.requests().size(), 2u);
    EXPECT_EQ(f.model->status().kind(), Kind::twoFactor);
    EXPECT_EQ(f.model->twoFactorError(), DriveError::twoFactorInvalidCode().errorDescription());
    EXPECT_FALSE(f.model->isVerifying());
    EXPECT_EQ(nlohmann::json::parse(f.transport->api.requests()[1].body)["device_label"], "Linux");

    f.transport->api.enqueue(410);
    verify();
    f.executor.runReady();
    EXPECT_EQ(f.model->status(),
              AppStatus::failed("La vérification a expiré. Saisissez de nouveau votre mot de passe."));

    f.transport->api.enqueue(200, R"({"access_token":"t"})");
    f.transport->api.enqueue(200, "{}");
    verify();
    EXPECT_TRUE(f.model->isVerifying());
    EXPECT_FALSE(f.model->twoFactorError());
    f.executor.runReady();
    EXPECT_EQ(f.model->status(), AppStatus::ready());
    EXPECT_EQ(f.model->account(), kAccount);
    EXPECT_FALSE(f.model->isVerifying());
}

TEST(AppModelLoginItem, RegisteredOnceByDefaultNeverAgain) {
    ModelFixture f;
    f.launchSignedIn();
    EXPECT_EQ(f.loginItem->registrations, 1);
    EXPECT_TRUE(f.model->launchAtLogin());

    // The user switched it off; the next launch leaves it so.
    f.model->setLaunchAtLogin(false);
    f.transport->api.enqueue(200, "{}");
    f.launch();
    f.executor.runReady();
    EXPECT_EQ(f.model->status(), AppStatus::ready());
    EXPECT_EQ(f.loginItem->registrations, 1);
    EXPECT_FALSE(f.model->launchAtLogin());
}

TEST(AppModelConflict, DismissalHoldsAcrossLaunchesUntilANewerConflict) {
    ModelFixture f;
    DomainSummary summary;
    summary.recordConflict("Rapport.pdf", "Rapport (conflit).pdf", VirtualClock::kDefaultWallStart);
    summary.save(f.summaryFile());
    f.launchSignedIn();
    EXPECT_EQ(f.model->conflictText(), summary.lastConflictLabel());

    std::vector<AppModel::Field> told;
    f.model->observe([&](AppModel::Field field) { told.push_back(field); });
    f.model->dismissConflict();
    EXPECT_EQ(told, std::vector{AppModel::Field::conflictDismissal});
    EXPECT_FALSE(f.model->conflictText());

    f.transport->api.enqueue(200, "{}");
    f.launch();
    f.executor.runReady();
    ASSERT_TRUE(f.model->summary());
    EXPECT_FALSE(f.model->conflictText());

    summary.recordConflict("Budget.ods", "Budget (conflit).ods", VirtualClock::kDefaultWallStart + 1s);
    summary.save(f.summaryFile());
    f.executor.advance(10s);  // the activity tick re-reads the summary
    EXPECT_EQ(f.model->conflictText(), summary.lastConflictLabel());
}

TEST(AppModelRefresh, ASecondCallWhileOneRunsReturnsAtOnce) {
    ModelFixture f;
    f.launchSignedIn();
    f.transport->api.enqueue(404);  // the quota of the refresh: the bar goes away
    bool firstDone = false, secondDone = false;
    f.model->refresh([&] { firstDone = true; });
    f.model->refresh([&] { secondDone = true; });
    EXPECT_TRUE(secondDone);
    EXPECT_FALSE(firstDone);
    EXPECT_TRUE(f.model->isSynchronizing());
    f.executor.runReady();
    EXPECT_TRUE(firstDone);
    EXPECT_EQ(f.domains->count(std::string("signal ") + kAccount + " wait"), 1u);
    EXPECT_FALSE(f.model->quota());
    EXPECT_FALSE(f.model->isSynchronizing());
    EXPECT_EQ(f.model->lastSyncText(), "Actualisé à 15:07");  // 14:07 UTC in Paris, in March
}

TEST(AppModelFolder, TheHostsFolderElseTheFallback) {
    ModelFixture f;
    std::filesystem::path shown;
    f.launchSignedIn();
    f.model->userVisibleFolder([&](std::filesystem::path path) { shown = path; });
    f.executor.runReady();
    EXPECT_EQ(shown, f.folder.path() / "Cadrio");
    f.domains->setRoot("/home/anne/Cadrio");
    f.model->userVisibleFolder([&](std::filesystem::path path) { shown = path; });
    f.executor.runReady();
    EXPECT_EQ(shown, "/home/anne/Cadrio");
}

}  // namespace
}  // namespace cadrio::app
