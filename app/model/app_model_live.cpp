// The live session of a signed-in model: the event stream, the safety net,
// the activity tick with its approval check, the wake observation, and the
// coalesced signals they all end in.

#include "app/model/app_model.hpp"
#include "app/model/app_model_internals.hpp"
#include "app/model/error_text.hpp"

namespace cadrio::app {
namespace {

std::string domainWord(std::optional<bool> enabled) {
    if (!enabled) return "inconnu";
    return *enabled ? "actif" : "désactivé";
}

std::string extensionWord(std::optional<bool> enabled) {
    if (!enabled) return "inconnue";
    return *enabled ? "active" : "désactivée";
}

}  // namespace

struct AppModel::TickResult {
    std::optional<std::string> label;
    bool summaryRead = false;
    std::optional<DomainSummary> summary;
    bool approvalChecked = false;
    std::optional<bool> domainEnabled;
    std::optional<bool> extensionEnabled;
};

void AppModel::startLive(const std::string& account) {
    stopLive();
    live_ = std::make_unique<LiveSession>();
    live_->account = account;
    // Each session starts its counts over, so it checks the approvals at once.
    activityTicks_ = 0;
    extensionChecks_ = 0;
    const std::uint64_t id = ++liveId_;
    const std::weak_ptr<AppModel> weak = weak_from_this();
    SerialExecutor& serial = deps_.executor;
    // Everything the session's own threads report is posted to the executor
    // and dropped there once this session is over.
    auto onExecutor = [weak, &serial, id](auto step) {
        serial.post([weak, id, step = std::move(step)] {
            const auto self = weak.lock();
            if (self && self->isLive(id)) step(*self);
        });
    };
    try {
        auto stream = std::make_shared<const DriveEventStream>(deps_.client, deps_.pushBaseURL, kPingSeconds);
        live_->stream = std::make_shared<std::jthread>([stream, onExecutor, logger = deps_.logger](std::stop_token stop) {
            try {
                stream->run([&] { onExecutor([](AppModel& self) { self.scheduleSignal(); }); },
                            [&](const DriveEventStream::Status& status) {
                                onExecutor([status](AppModel& self) { self.handleLiveStatus(status); });
                            },
                            stop);
            } catch (...) {
                logger.error("Temps réel arrêté sur une erreur : {}", errorText(std::current_exception()));
            }
        });
    } catch (...) {
        deps_.logger.error("Temps réel impossible : {}", errorText(std::current_exception()));
    }
    armSafetyNet();
    activityTick();
    scheduleSignal();
    if (deps_.wake) {
        live_->wake = deps_.wake->observe([onExecutor] { onExecutor([](AppModel& self) { self.scheduleSignal(); }); });
    }
}

void AppModel::stopLive() {
    if (live_) {
        if (live_->safetyNet != 0) deps_.executor.cancel(live_->safetyNet);
        if (live_->activity != 0) deps_.executor.cancel(live_->activity);
        if (live_->stream) {
            live_->stream->request_stop();
            // Joined off the executor: a transfer may take a moment to notice.
            deps_.background.post([thread = std::move(live_->stream)] {});
        }
        live_->wake.reset();
        live_.reset();
    }
    if (signalTimer_ != 0) deps_.executor.cancel(signalTimer_);
    signalTimer_ = 0;
    signalInFlight_ = false;
    signalPending_ = false;
    ++signalRound_;
    publish(Field::liveStatus, liveStatus_, std::optional<DriveEventStream::Status>());
    publish(Field::transferLabel, transferLabel_, std::optional<std::string>());
}

void AppModel::handleLiveStatus(const DriveEventStream::Status& status) {
    if (!liveStatus_ || *liveStatus_ != status) deps_.logger.info("Temps réel : {}", status.description());
    publish(Field::liveStatus, liveStatus_, std::optional(status));
    if (status.kind() == DriveEventStream::Status::Kind::unauthorized) {
        setStatus(AppStatus::failed("Session expirée : reconnectez-vous."));
    }
}

// Signals ----------------------------------------------------------------------

void AppModel::scheduleSignal() {
    if (!account_ || signingOut_) return;
    if (signalTimer_ != 0 || signalInFlight_) {
        signalPending_ = true;
        return;
    }
    signalTimer_ = deps_.executor.postAfter(kSignalDebounce, [weak = weak_from_this()] {
        if (const auto self = weak.lock()) self->sendSignal();
    });
}

void AppModel::sendSignal() {
    signalTimer_ = 0;
    if (!account_) return;
    signalInFlight_ = true;
    deps_.logger.debug("Signal envoyé au système.");
    offload([domains = deps_.domains, account = *account_] { return domains->signal(account, false, kSignalTimeout); },
            [round = signalRound_](AppModel& self, Outcome<bool>) {
                if (round != self.signalRound_) return;
                self.signalInFlight_ = false;
                if (self.signalPending_) {
                    self.signalPending_ = false;
                    self.scheduleSignal();
                }
            });
}

void AppModel::armSafetyNet() {
    live_->safetyNet = deps_.executor.postAfter(kSafetyNetPeriod, [weak = weak_from_this(), id = liveId_] {
        const auto self = weak.lock();
        if (!self || !self->isLive(id)) return;
        self->scheduleSignal();
        self->armSafetyNet();
    });
}

// Activity tick and approval check -----------------------------------------------

void AppModel::activityTick() {
    live_->activity = 0;
    const bool readSummary = (activityTicks_ + 1) % kSummaryEveryTicks == 0;
    const bool checkApproval = extensionNeedsApproval_ || (extensionChecks_ + 1) % kApprovalEveryTicks == 1;
    auto work = [domains = deps_.domains, locate = deps_.summaryLocation, account = live_->account, readSummary,
                 checkApproval] {
        TickResult result;
        result.label = domains->transferLabel(account);
        if (readSummary && locate) {
            result.summaryRead = true;
            result.summary = DomainSummary::load(locate(account));
        }
        if (checkApproval) {
            result.approvalChecked = true;
            result.domainEnabled = domains->isUserEnabled(account);
            result.extensionEnabled = domains->extensionEnabled();
        }
        return result;
    };
    offload(std::move(work), [id = liveId_](AppModel& self, Outcome<TickResult> result) {
        if (!self.isLive(id)) return;
        if (!result.value) {
            // A tick that failed counts as one that saw nothing new.
            result.value.emplace();
            result.value->label = self.transferLabel_;
        }
        self.finishTick(std::move(*result.value));
    });
}

void AppModel::finishTick(TickResult result) {
    if (result.label != transferLabel_) {
        deps_.logger.debug("Indicateur de transfert : {}", result.label.value_or("au repos"));
        publish(Field::transferLabel, transferLabel_, std::move(result.label));
    }
    ++activityTicks_;
    if (result.summaryRead && account_) publish(Field::summary, summary_, std::move(result.summary));
    ++extensionChecks_;
    if (result.approvalChecked) applyApproval(result.domainEnabled, result.extensionEnabled);
    if (!live_) return;  // the approval's signal cannot end the session, but stay safe
    live_->activity = deps_.executor.postAfter(kActivityPeriod, [weak = weak_from_this(), id = liveId_] {
        const auto self = weak.lock();
        if (self && self->isLive(id)) self->activityTick();
    });
}

void AppModel::applyApproval(std::optional<bool> domainEnabled, std::optional<bool> extensionEnabled) {
    if (extensionChecks_ == 1) {
        deps_.logger.info("Autorisations : domaine {}, extension {}", domainWord(domainEnabled),
                          extensionWord(extensionEnabled));
    }
    // Unknown counts as enabled: a host that cannot tell must not raise the card.
    const bool needs = domainEnabled == false || extensionEnabled == false;
    if (needs == extensionNeedsApproval_) return;
    publish(Field::extensionNeedsApproval, extensionNeedsApproval_, needs);
    if (!needs) {
        deps_.logger.info("Autorisations données : relecture du Cadrio.");
        scheduleSignal();
    } else {
        deps_.logger.info("Autorisation attendue dans les Réglages (domaine {}, extension {}).",
                          domainEnabled == false ? "désactivé" : "actif",
                          extensionEnabled == false ? "coupée" : "active");
    }
}

}  // namespace cadrio::app
