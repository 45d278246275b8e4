#pragma once

// The one observable object of the application: it owns the session's life
// (restore at launch, password and second-factor sign-in, sign-out), decides
// what the menu shows through `status`, and runs the background work of a
// signed-in session: the drive's event stream, the coalesced signals that
// make the host read the drive again, the transfer indicator, the periodic
// re-reading of the domain summary the plug-in writes, and the checks that
// the user has not switched the domain or the plug-in off.
//
// Log lines (subsystem "zelvano.cadrio.sync", category "app"): "Reprise de
// session impossible : %s", "Temps réel : %s", "Signal envoyé au système.",
// "Indicateur de transfert : %s", "Autorisations : domaine %s, extension
// %s", "Autorisations données : relecture du Cadrio.", "Autorisation
// attendue dans les Réglages (domaine %s, extension %s).", "Ouverture à
// l'ouverture de session activée.", "Ouverture à l'ouverture de session
// impossible : %s", "Réglage de l'ouverture automatique impossible : %s".
//
// Threads: every member, and every observer and completion, runs on the
// serial executor; the model has no lock. Blocking work (sign-in, quota,
// the domain controller) runs on the background executor and posts its
// result back. The event stream runs on one thread of the live session's
// own and posts what it reports. Timers (debounce, ticks, the safety net)
// are the executor's, on its clock. Work posted by the model holds it
// weakly: once the last owner lets go, nothing of it runs again.
//
// Ownership: create() returns the only strong owner's handle; the executors,
// the clock and everything in Dependencies must outlive the model, and the
// serial executor must outlive the background one (whose jobs post their
// results to it): drain the background executor first.
//
// A sign-out, a new sign-in or "Revenir à la connexion" makes the results
// of sign-in steps still under way stale: they are dropped when they come
// back, so a sign-out is never followed by a mount or a live session.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/domain/domain_controlling.hpp"
#include "app/model/app_status.hpp"
#include "app/model/executor.hpp"
#include "core/api/drive_api.hpp"
#include "core/events/drive_event_stream.hpp"
#include "core/http/api_client.hpp"
#include "core/model/domain_summary.hpp"
#include "core/model/drive_records.hpp"
#include "platform/desktop/login_item.hpp"
#include "platform/desktop/user_defaults.hpp"
#include "platform/log/logger.hpp"

namespace cadrio::app {

/// Wake notifications: observe() starts watching and returns a token; the
/// watch ends when the token is destroyed. `onWake` may come on any thread.
class WakeNotifications {
public:
    virtual ~WakeNotifications() = default;
    virtual std::shared_ptr<void> observe(std::function<void()> onWake) = 0;
};

class AppModel : public std::enable_shared_from_this<AppModel> {
public:
    /// The published fields, as observers are told of them.
    enum class Field {
        status, account, lastEmail, twoFactorError, isVerifying, launchAtLogin,
        launchAtLoginNeedsApproval, extensionNeedsApproval, quota, lastSyncSignal,
        isSynchronizing, summary, liveStatus, transferLabel,
        conflictDismissal,  // conflictText may have changed without summary changing
    };
    using Observer = std::function<void(Field)>;
    using ObserverId = std::uint64_t;
    /// Called on the executor when an asynchronous operation has ended.
    using Completion = std::function<void()>;

    struct Dependencies {
        SerialExecutor& executor;
        Executor& background;
        std::shared_ptr<ApiClient> client;
        std::shared_ptr<DomainControlling> domains;
        std::shared_ptr<desktop::UserDefaults> defaults;
        /// Null for a front end that is not what opens at login: the model
        /// then leaves the login item and its setting alone.
        std::shared_ptr<desktop::LoginItem> loginItem;
        std::shared_ptr<WakeNotifications> wake;
        /// The trusted-device label; blocking, run on the background executor.
        std::function<std::string()> computerName;
        /// Where the event stream connects (pushBaseURL()).
        std::string pushBaseURL;
        /// Folder shown when the host cannot tell the domain's (~/Cadrio).
        std::filesystem::path fallbackFolder;
        /// The account's summary file; none for no location.
        std::function<std::optional<std::filesystem::path>(const std::string& account)> summaryLocation;
        /// Removes the account's item store and summary; never throws.
        std::function<void(const std::string& account)> removeLocalState;
        /// The IANA zone of lastSyncText; empty: the user's own.
        std::string timeZone = {};
        log::Logger logger{"zelvano.cadrio.sync", "app"};
    };

    static constexpr Clock::Duration kSignalDebounce = std::chrono::milliseconds(500);
    static constexpr Clock::Duration kSignalTimeout = std::chrono::seconds(60);
    static constexpr Clock::Duration kSafetyNetPeriod = std::chrono::seconds(300);
    static constexpr Clock::Duration kActivityPeriod = std::chrono::seconds(2);
    static constexpr int kSummaryEveryTicks = 5;
    static constexpr int kApprovalEveryTicks = 15;
    static constexpr int kPingSeconds = 30;

    /// Reads "lastEmail", then queues the launch restore on the executor.
    /// Throws std::invalid_argument when client, domains or defaults is
    /// null (wake may be: no wake signals then).
    static std::shared_ptr<AppModel> create(Dependencies dependencies);
    ~AppModel();

    // Published fields ---------------------------------------------------------
    const AppStatus& status() const { return status_; }
    const std::optional<std::string>& account() const { return account_; }
    const std::string& lastEmail() const { return lastEmail_; }
    const std::optional<std::string>& twoFactorError() const { return twoFactorError_; }
    bool isVerifying() const { return isVerifying_; }
    bool launchAtLogin() const { return launchAtLogin_; }
    bool launchAtLoginNeedsApproval() const { return launchAtLoginNeedsApproval_; }
    bool extensionNeedsApproval() const { return extensionNeedsApproval_; }
    const std::optional<DriveQuota>& quota() const { return quota_; }
    const std::optional<Clock::WallTime>& lastSyncSignal() const { return lastSyncSignal_; }
    bool isSynchronizing() const { return isSynchronizing_; }
    const std::optional<DomainSummary>& summary() const { return summary_; }
    const std::optional<DriveEventStream::Status>& liveStatus() const { return liveStatus_; }
    const std::optional<std::string>& transferLabel() const { return transferLabel_; }

    ObserverId observe(Observer observer);
    void unobserve(ObserverId id);

    // Operations of the views ------------------------------------------------
    /// `email` comes trimmed.
    void signIn(std::string email, std::string password, Completion done = {});
    /// A second call while one verification is in flight is ignored.
    void verifyTwoFactor(TwoFactorChallenge challenge, std::string code, TwoFactorMethod method,
                         bool rememberDevice, Completion done = {});
    void signOut(Completion done = {});
    /// Signals and waits for the domain to settle (at most 60 s), then reads
    /// the quota; a call while one runs returns at once.
    void refresh(Completion done = {});
    /// The domain's folder (the fallback when the host cannot tell).
    void userVisibleFolder(std::function<void(std::filesystem::path)> done);
    void dismissConflict();
    /// "Revenir à la connexion" on the second-factor screen.
    void backToSignIn();

    // Launch at login -----------------------------------------------------------
    void registerLoginItemOnce();
    void setLaunchAtLogin(bool wanted);
    void refreshLoginItem();

    // Derived texts ---------------------------------------------------------------
    std::string statusText() const;
    /// "Actualisé à 14:07" in local time; none before the first refresh.
    std::optional<std::string> lastSyncText() const;
    std::optional<std::string> conflictText() const;

    // The steps below are the model's own; public for the tests that drive
    // the live session step by step.
    void restoreSession(Completion done = {});
    /// Runs `done` once the launch restore has ended (at once if it has).
    void whenRestored(Completion done);
    void scheduleSignal();
    bool hasLiveSession() const { return live_ != nullptr; }
    bool hasPendingSignal() const { return signalTimer_ != 0 || signalInFlight_; }

private:
    struct LiveSession;
    template <class T>
    struct Outcome;

    explicit AppModel(Dependencies dependencies);

    /// Runs `work` on the background executor, then `then(model, outcome)`
    /// on the serial one if the model still exists.
    template <class Work, class Then>
    void offload(Work work, Then then) {
        offloadTo(deps_.background, std::move(work), std::move(then));
    }
    /// The same, after every change of the session or the domain asked before.
    template <class Work, class Then>
    void offloadInOrder(Work work, Then then) {
        offloadTo(*sessionLane_, std::move(work), std::move(then));
    }
    template <class Work, class Then>
    void offloadTo(Executor& where, Work work, Then then);

    template <class T>
    void publish(Field field, T& member, T value);
    void notify(Field field);
    void setStatus(AppStatus status) { publish(Field::status, status_, std::move(status)); }

    void startRestore(Completion done);
    void didSignIn(std::string account, std::uint64_t epoch, Completion done);
    void becomeReady(const std::string& account, Completion done);
    void loadQuota(Completion done);
    void startLive(const std::string& account);
    void stopLive();
    bool isLive(std::uint64_t liveId) const { return live_ && liveId == liveId_; }
    void sendSignal();
    void handleLiveStatus(const DriveEventStream::Status& status);
    void armSafetyNet();
    void activityTick();
    struct TickResult;
    void finishTick(TickResult result);
    void applyApproval(std::optional<bool> domainEnabled, std::optional<bool> extensionEnabled);

    Dependencies deps_;
    std::unique_ptr<Executor> sessionLane_;  // a SerialLane on the background executor
    std::shared_ptr<const DriveAPI> api_;
    AppStatus status_ = AppStatus::signedOut();
    std::optional<std::string> account_;
    std::string lastEmail_;
    std::optional<std::string> twoFactorError_;
    bool isVerifying_ = false;
    bool launchAtLogin_ = false;
    bool launchAtLoginNeedsApproval_ = false;
    bool extensionNeedsApproval_ = false;
    std::optional<DriveQuota> quota_;
    std::optional<Clock::WallTime> lastSyncSignal_;
    bool isSynchronizing_ = false;
    std::optional<DomainSummary> summary_;
    std::optional<DriveEventStream::Status> liveStatus_;
    std::optional<std::string> transferLabel_;

    // Bumped by sign-out, sign-in and backToSignIn: sign-in steps carry the
    // value they started with and are dropped once it moved on.
    std::uint64_t epoch_ = 0;
    bool signingOut_ = false;
    std::unique_ptr<LiveSession> live_;
    std::uint64_t liveId_ = 0;  // the current live session's; posts of older ones are dropped
    SerialExecutor::TimerId signalTimer_ = 0;
    bool signalInFlight_ = false;
    bool signalPending_ = false;
    std::uint64_t signalRound_ = 0;  // bumped by stopLive: a signal under way then starts no follow-up
    bool hasRestored_ = false;
    bool restoreEnded_ = false;
    std::vector<Completion> restoreWaiters_;
    std::int64_t activityTicks_ = 0;
    std::int64_t extensionChecks_ = 0;
    std::map<ObserverId, Observer> observers_;
    ObserverId nextObserver_ = 1;
};

}  // namespace cadrio::app
