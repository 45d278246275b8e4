#include "app/model/desktop_alerts.hpp"

#include <gtest/gtest.h>

#include "app/model/testing/model_fixture.hpp"

namespace cadrio::app {
namespace {

using namespace std::chrono_literals;
using testing::kAccount;

struct RecordingNotifier final : desktop::Notifier {
    std::vector<std::string> bodies;
    void post(desktop::Notification notification) override { bodies.push_back(std::move(notification.body)); }
};

struct AlertsFixture : testing::ModelFixture {
    std::shared_ptr<RecordingNotifier> notifier = std::make_shared<RecordingNotifier>();
    std::shared_ptr<DesktopAlerts> alerts;
    DomainSummary summary;

    void conflict(const std::string& name, Clock::WallTime date) {
        summary.recordConflict(name, name + " (conflit)", date);
        summary.save(summaryFile());
    }
    void launchWithAlerts() {
        sessions->save({kAccount, "token", "pw"});
        transport->api.enqueue(200, "{}");
        launch();
        alerts = DesktopAlerts::create(*model, executor, *domains, notifier);
        executor.runReady();
    }
    ~AlertsFixture() { alerts.reset(); }
};

TEST(DesktopAlerts, EachNewConflictOnceAndNoneOfThoseThereAtStart) {
    AlertsFixture f;
    f.conflict("Ancien.txt", VirtualClock::kDefaultWallStart - 1h);
    f.launchWithAlerts();
    ASSERT_TRUE(f.model->conflictText());
    f.executor.advance(20s);
    EXPECT_TRUE(f.notifier->bodies.empty());

    f.conflict("Rapport.pdf", f.clock.wallNow());
    f.executor.advance(10s);  // the summary is read again every 10 s
    EXPECT_EQ(f.notifier->bodies, std::vector{*f.model->conflictText()});
    f.executor.advance(30s);
    f.conflict("Vieux.txt", VirtualClock::kDefaultWallStart - 2h);  // newest first, yet older than one seen
    f.executor.advance(10s);
    EXPECT_EQ(f.notifier->bodies.size(), 1u);

    f.conflict("Budget.ods", f.clock.wallNow());
    f.executor.advance(10s);
    EXPECT_EQ(f.notifier->bodies.size(), 2u);
}

TEST(DesktopAlerts, EachRefusalOfTheSignedInAccountOnce) {
    AlertsFixture f;
    f.launchWithAlerts();
    f.domains->refuse({kAccount, "Notes.txt", "Le fichier est verrouillé."});
    f.domains->refuse({"autre@cadrio.test", "Autre.txt", "Refus."});
    f.executor.runReady();
    EXPECT_EQ(f.notifier->bodies, std::vector<std::string>{"Notes.txt : Le fichier est verrouillé."});

    f.alerts.reset();
    f.domains->refuse({kAccount, "Notes.txt", "Encore."});
    f.executor.runReady();
    EXPECT_EQ(f.notifier->bodies.size(), 1u);
}

}  // namespace
}  // namespace cadrio::app
