#include "app/views/status_view.hpp"

#include <gtest/gtest.h>

#include <QLabel>

#include "app/updates/updater.hpp"
#include "app/views/conflict_banner.hpp"
#include "app/views/fast_tooltip.hpp"
#include "app/views/icon_button.hpp"
#include "app/views/testing/panel_bench.hpp"
#include "app/views/update_banner.hpp"
#include "app/views/update_icon_button.hpp"

namespace cadrio::app::views {
namespace {

using testing::PanelBench;
using testing::child;
using testing::click;
using testing::writeArtifact;

constexpr int kContentWidth = 296;  // the panel's 320 less its padding

struct Panel : PanelBench {
    std::unique_ptr<StatusView> view;

    StatusView& open() {
        view = std::make_unique<StatusView>(*model, environment);
        view->setFixedWidth(kContentWidth);
        view->show();
        return *view;
    }
    bool shows(const char* name) const { return child(*view, name).isVisibleTo(view.get()); }
    QString text(const char* name) const { return child<QLabel>(*view, name).text(); }
    QString statusSymbol() const { return child(*view, "statusSymbol").property("symbol").toString(); }
    ~Panel() { view.reset(); }
};

TEST(StatusView, TransferRowTakesPrecedenceOverTheApprovalState) {
    for (const bool approvalAwaited : {false, true}) {
        SCOPED_TRACE(approvalAwaited);
        Panel p;
        p.domains->setUserEnabled(!approvalAwaited);
        p.domains->setTransferLabel("Envoi de 3 fichiers");
        p.launchSignedIn();
        p.open();
        ASSERT_EQ(p.model->extensionNeedsApproval(), approvalAwaited);

        EXPECT_TRUE(p.shows("transferSpinner"));
        EXPECT_FALSE(p.shows("statusSymbol"));
        EXPECT_EQ(p.text("statusText"), "Envoi de 3 fichiers");
        EXPECT_EQ(p.shows("approvalCard"), approvalAwaited);
        click(*p.view, "statusRow");
        EXPECT_EQ(p.calls["openSettings"], 0);
        if (approvalAwaited) writeArtifact(*p.view, "status-view-transfer");

        p.domains->setTransferLabel(std::nullopt);
        p.executor.advance(AppModel::kActivityPeriod);
        EXPECT_FALSE(p.shows("transferSpinner"));
        EXPECT_EQ(p.statusSymbol(), approvalAwaited ? "hourglass" : "checkmark.circle.fill");
        EXPECT_EQ(p.text("statusText").toStdString(), p.model->statusText());
        click(*p.view, "statusRow");
        EXPECT_EQ(p.calls["openSettings"], approvalAwaited ? 1 : 0);
        if (approvalAwaited) {
            click(*p.view, "openSettingsButton");
            EXPECT_EQ(p.calls["openSettings"], 2);
        }
        writeArtifact(*p.view, approvalAwaited ? "status-view-approval" : "status-view-plain");
    }
}

TEST(StatusView, QuotaConflictAndArchiveFollowTheModel) {
    Panel p;
    DomainSummary summary;
    summary.archivedFileIDs = {4012, 4013};
    summary.recordConflict("Rapport.pdf", "Rapport (conflit Linux 2024-03-05 14h07).pdf",
                           VirtualClock::kDefaultWallStart);
    summary.save(p.summaryFile());
    p.launchSignedIn();
    p.open();

    EXPECT_TRUE(p.shows("quotaBar"));
    EXPECT_EQ(child<ConflictBanner>(*p.view, "conflictBanner").text().toStdString(), p.model->conflictText());
    EXPECT_TRUE(p.shows("archiveNotice"));
    writeArtifact(*p.view, "status-view-quota-conflict");

    click(child(*p.view, "conflictBanner"), "dismissButton");
    EXPECT_FALSE(p.shows("conflictBanner"));
}

TEST(StatusView, ActionsAndTheLoginSwitchReachTheModelAndTheDesktop) {
    Panel p;
    p.launchSignedIn();
    p.open();
    EXPECT_EQ(p.view->findChild<UpdateIconButton*>(), nullptr);  // no feed, no update controls
    EXPECT_EQ(p.view->findChild<UpdateBanner*>(), nullptr);

    click(*p.view, "folderButton");
    click(*p.view, "quitButton");
    EXPECT_EQ(p.calls["openFolder"], 1);
    EXPECT_EQ(p.calls["quit"], 1);

    auto& refresh = child<IconButton>(*p.view, "refreshButton");
    refresh.click();
    EXPECT_TRUE(refresh.isBusy());
    p.executor.runReady();
    EXPECT_FALSE(refresh.isBusy());
    EXPECT_EQ(refresh.tip().toStdString(), "Actualiser maintenant · " + *p.model->lastSyncText());

    auto& toggle = child<QAbstractButton>(*p.view, "launchAtLoginSwitch");
    EXPECT_TRUE(toggle.isChecked());  // registered once by default
    EXPECT_FALSE(p.shows("loginApproval"));
    toggle.click();
    EXPECT_FALSE(p.model->launchAtLogin());
    EXPECT_FALSE(toggle.isChecked());

    click(*p.view, "signOutButton");
    p.executor.runReady();
    EXPECT_EQ(p.model->status(), AppStatus::signedOut());
}

// An appcast with one item, as the update feed serves it.
std::string appcast(const std::string& version) {
    return R"(<?xml version="1.0" encoding="utf-8"?>
<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">
<channel><title>Zelvano Cadrio</title>
<item><title>Version )" + version + R"(</title>
<sparkle:version>)" + version + R"(</sparkle:version>
<sparkle:shortVersionString>)" + version + R"(</sparkle:shortVersionString>
<sparkle:releaseNotesLink>https://cadrio.test/notes/)" + version + R"(</sparkle:releaseNotesLink>
<enclosure url="https://cadrio.test/zelvano-cadrio-)" + version + R"(.deb" length="4096" type="application/octet-stream"/>
</item></channel></rss>)";
}

TEST(StatusView, UpdateControlsFollowThePendingVersion) {
    Panel p;
    auto feed = std::make_shared<cadrio::testing::ScriptedTransport>();
    feed->enqueue(200, appcast("0.2.0"));
    std::shared_ptr<Updater> updater = Updater::create({
        .executor = p.executor,
        .background = p.executor,
        .transport = feed,
        .feedURL = "http://127.0.0.1:8931/appcast.xml",
        .currentVersion = "0.1.0",
        .openUrl = [&p](const std::string& url) { p.openedUrls.push_back(url); },
        .logger = log::Logger("zelvano.cadrio.sync", "updates", p.log, p.clock),
    });
    p.environment.updater = updater.get();
    p.launchSignedIn();
    p.open();
    ASSERT_EQ(updater->pendingVersion(), "0.2.0");

    auto& button = child<UpdateIconButton>(*p.view, "updateButton");
    auto& banner = child<UpdateBanner>(*p.view, "updateBanner");
    EXPECT_TRUE(button.hasBadge());
    EXPECT_TRUE(banner.isVisibleTo(p.view.get()));
    EXPECT_EQ(banner.text(), "Mise à jour 0.2.0 disponible");
    writeArtifact(*p.view, "status-view-update");

    click(banner, "installButton");
    p.executor.runReady();
    EXPECT_EQ(p.openedUrls.size(), 1u);
    EXPECT_EQ(button.tip(), "Rechercher les mises à jour · version 0.1.0 (1)");
    EXPECT_FALSE(button.hasBadge());
    EXPECT_FALSE(banner.isVisibleTo(p.view.get()));
    p.view.reset();
}

}  // namespace
}  // namespace cadrio::app::views
