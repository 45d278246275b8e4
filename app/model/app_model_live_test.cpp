#include <gtest/gtest.h>

#include "app/model/app_model.hpp"
#include "app/model/testing/model_fixture.hpp"

namespace cadrio::app {
namespace {

using namespace std::chrono_literals;
using testing::kAccount;
using testing::ModelFixture;

// Signed in, with the launch's own signal sent and the stream connected.
struct LiveFixture : ModelFixture {
    std::shared_ptr<cadrio::testing::ScriptedStream> server = transport->events.enqueueStream();

    LiveFixture() {
        launchSignedIn();
        EXPECT_TRUE(executor.runUntil([&] { return model->liveStatus().has_value(); }));
        executor.advance(1s);
        EXPECT_EQ(signals(), 1u);
    }
};

TEST(AppModelLive, OneEventOneSignalHalfASecondLater) {
    LiveFixture f;
    f.sendChanges(*f.server, 1);
    f.executor.advance(499ms);
    EXPECT_EQ(f.signals(), 1u);
    f.executor.advance(1ms);
    EXPECT_EQ(f.signals(), 2u);
    EXPECT_EQ(f.model->liveStatus(), DriveEventStream::Status::connected());

    // Nothing more until the safety net, five minutes after the start.
    f.executor.advance(297s);
    EXPECT_EQ(f.signals(), 2u);
    f.executor.advance(3s);
    EXPECT_EQ(f.signals(), 3u);
}

TEST(AppModelLive, ABurstGivesOneSignalAndOneFollowUp) {
    LiveFixture f;
    f.sendChanges(*f.server, 25);
    f.executor.advance(300ms);
    f.sendChanges(*f.server, 25);
    f.executor.advance(200ms);
    EXPECT_EQ(f.signals(), 2u);
    f.executor.advance(10s);
    EXPECT_EQ(f.signals(), 3u);
}

TEST(AppModelLive, ApprovalSwitchedOffThenOnAgain) {
    LiveFixture f;
    f.domains->setUserEnabled(false);
    f.executor.advance(29s);  // the first check ran at 0 s, the next one runs at 30 s
    EXPECT_TRUE(f.model->extensionNeedsApproval());
    EXPECT_EQ(f.model->statusText(), "En attente d'autorisation");

    const std::size_t before = f.signals();
    f.domains->setUserEnabled(true);
    f.executor.advance(2s);
    EXPECT_FALSE(f.model->extensionNeedsApproval());
    EXPECT_EQ(f.model->statusText(), "Cadrio à jour");
    f.executor.advance(500ms);
    EXPECT_EQ(f.signals(), before + 1);
}

TEST(AppModelLive, UnknownApprovalsNeverRaiseTheCard) {
    struct Case {
        std::optional<bool> domain, extension;
        bool needs;
    };
    const Case cases[] = {
        {std::nullopt, std::nullopt, false},
        {true, false, true},
        {std::nullopt, false, true},
    };
    for (const auto& c : cases) {
        ModelFixture f;
        f.domains->setUserEnabled(c.domain);
        f.domains->setExtensionEnabled(c.extension);
        f.launchSignedIn();
        EXPECT_EQ(f.model->extensionNeedsApproval(), c.needs);
    }
}

TEST(AppModelLive, SignOutLeavesNothingBehind) {
    LiveFixture f;
    f.wake->wake();
    f.executor.runReady();
    EXPECT_TRUE(f.model->hasPendingSignal());  // the wake's signal, still debounced

    std::vector<AppModel::Field> told;
    f.model->observe([&](AppModel::Field field) { told.push_back(field); });
    f.model->signOut();
    EXPECT_FALSE(f.model->hasLiveSession());
    EXPECT_FALSE(f.model->hasPendingSignal());
    EXPECT_FALSE(f.wake->observed());
    f.executor.runReady();
    EXPECT_EQ(f.model->status(), AppStatus::signedOut());
    EXPECT_FALSE(f.model->account());
    EXPECT_FALSE(f.model->liveStatus());
    EXPECT_EQ(f.removedStates, std::vector<std::string>{kAccount});
    EXPECT_TRUE(f.domains->mounted().empty());
    EXPECT_EQ(std::count(told.begin(), told.end(), AppModel::Field::status), 1);

    const std::size_t before = f.signals();
    f.server->push(testing::kChangeEvent);  // the stream is gone: nobody reads it
    f.wake->wake();
    f.executor.advance(600s);
    EXPECT_EQ(f.signals(), before);
    EXPECT_EQ(f.executor.pendingTimers(), 0u);
}

TEST(AppModelLive, SignOutDuringSignInEndsSignedOut) {
    ModelFixture f;
    f.launch();
    f.executor.runReady();
    f.transport->api.enqueue(200, R"({"access_token":"t"})");
    f.model->signIn(kAccount, "pw");
    f.model->signOut();
    f.executor.runReady();
    EXPECT_EQ(f.model->status(), AppStatus::signedOut());
    EXPECT_EQ(f.domains->count("mount"), 0u);
    EXPECT_FALSE(f.model->hasLiveSession());
    EXPECT_FALSE(f.sessions->load());  // the logout came after the sign-in it undoes
}

}  // namespace
}  // namespace cadrio::app
