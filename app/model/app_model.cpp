#include "app/model/app_model.hpp"

#include <stdexcept>

#include "app/model/app_model_internals.hpp"
#include "app/model/error_text.hpp"
#include "app/model/serial_lane.hpp"
#include "core/model/drive_error.hpp"

namespace cadrio::app {
namespace {

constexpr auto kPasskeyOnly =
    "Cette boîte n'accepte que les clés d'accès. Connectez-vous depuis le webmail, ou ajoutez une "
    "application d'authentification depuis l'espace Comptes.";
constexpr auto kVerificationExpired = "La vérification a expiré. Saisissez de nouveau votre mot de passe.";
constexpr auto kDeviceFallback = "Linux";

void finish(const AppModel::Completion& done) {
    if (done) done();
}

}  // namespace

std::shared_ptr<AppModel> AppModel::create(Dependencies dependencies) {
    if (!dependencies.client || !dependencies.domains || !dependencies.defaults) {
        throw std::invalid_argument("AppModel: client, domains and defaults are required");
    }
    std::shared_ptr<AppModel> model(new AppModel(std::move(dependencies)));
    model->deps_.executor.post([weak = std::weak_ptr<AppModel>(model)] {
        if (const auto self = weak.lock()) self->restoreSession();
    });
    return model;
}

AppModel::AppModel(Dependencies dependencies)
    : deps_(std::move(dependencies)),
      sessionLane_(std::make_unique<SerialLane>(deps_.background)),
      api_(std::make_shared<const DriveAPI>(deps_.client)) {
    lastEmail_ = deps_.defaults->string("lastEmail").value_or("");
}

AppModel::~AppModel() {
    observers_.clear();  // the views may be half gone; nobody is told of the teardown
    stopLive();
}

// Observers ------------------------------------------------------------------

AppModel::ObserverId AppModel::observe(Observer observer) {
    const ObserverId id = nextObserver_++;
    observers_.emplace(id, std::move(observer));
    return id;
}

void AppModel::unobserve(ObserverId id) { observers_.erase(id); }

void AppModel::notify(Field field) {
    // An observer may add or remove observers while it is told.
    const std::map<ObserverId, Observer> observers = observers_;
    for (const auto& entry : observers) {
        if (observers_.contains(entry.first)) entry.second(field);
    }
}

// Restore at launch ----------------------------------------------------------

void AppModel::restoreSession(Completion done) {
    if (hasRestored_) return finish(done);
    hasRestored_ = true;
    startRestore([weak = weak_from_this(), done] {
        if (const auto self = weak.lock()) {
            self->restoreEnded_ = true;
            const std::vector<Completion> waiters = std::move(self->restoreWaiters_);
            self->restoreWaiters_.clear();
            for (const Completion& waiter : waiters) finish(waiter);
        }
        finish(done);
    });
}

void AppModel::whenRestored(Completion done) {
    if (restoreEnded_) return finish(done);
    restoreWaiters_.push_back(std::move(done));
}

void AppModel::startRestore(Completion done) {
    const std::uint64_t epoch = epoch_;
    auto failed = [](AppModel& self, const std::exception_ptr& error) {
        const std::string text = errorText(error);
        self.deps_.logger.error("Reprise de session impossible : {}", text);
        self.setStatus(AppStatus::failed(text));
    };
    offloadInOrder(
        [client = deps_.client] {
            return client->restoreSession() ? client->account() : std::nullopt;
        },
        [epoch, done, failed](AppModel& self, Outcome<std::optional<std::string>> restored) {
            if (epoch != self.epoch_) return finish(done);
            if (restored.error) {
                failed(self, restored.error);
                return finish(done);
            }
            if (!*restored.value) {
                self.setStatus(AppStatus::signedOut());
                return finish(done);
            }
            const std::string account = **restored.value;
            self.publish(Field::account, self.account_, std::optional<std::string>(account));
            self.offloadInOrder(
                [domains = self.deps_.domains, account] {
                    if (!domains->isMounted(account)) domains->mount(account);
                    return true;
                },
                [epoch, account, done, failed](AppModel& self, Outcome<bool> mounted) {
                    if (epoch != self.epoch_) return finish(done);
                    if (mounted.error) {
                        failed(self, mounted.error);
                        return finish(done);
                    }
                    self.becomeReady(account, done);
                });
        });
}

// Sign-in --------------------------------------------------------------------

void AppModel::signIn(std::string email, std::string password, Completion done) {
    const std::uint64_t epoch = ++epoch_;
    publish(Field::lastEmail, lastEmail_, email);
    deps_.defaults->set("lastEmail", email);
    setStatus(AppStatus::connecting());
    offloadInOrder([client = deps_.client, email, password] { return client->login(email, password); },
            [epoch, done](AppModel& self, Outcome<LoginOutcome> outcome) {
                if (epoch != self.epoch_) return finish(done);
                if (outcome.error) {
                    self.setStatus(AppStatus::failed(errorText(outcome.error)));
                    return finish(done);
                }
                if (const DriveSession* session = outcome.value->session()) {
                    return self.didSignIn(session->account, epoch, done);
                }
                const TwoFactorChallenge& challenge = *outcome.value->challenge();
                if (challenge.acceptsAnyCode()) {
                    self.publish(Field::twoFactorError, self.twoFactorError_, std::optional<std::string>());
                    self.setStatus(AppStatus::twoFactor(challenge));
                } else {
                    self.setStatus(AppStatus::failed(kPasskeyOnly));
                }
                finish(done);
            });
}

void AppModel::verifyTwoFactor(TwoFactorChallenge challenge, std::string code, TwoFactorMethod method,
                               bool rememberDevice, Completion done) {
    if (isVerifying_) return finish(done);
    const std::uint64_t epoch = epoch_;
    publish(Field::isVerifying, isVerifying_, true);
    publish(Field::twoFactorError, twoFactorError_, std::optional<std::string>());
    auto verify = [client = deps_.client, name = deps_.computerName, challenge = std::move(challenge),
                   code = std::move(code), method, rememberDevice] {
        std::string label = name ? name() : std::string();
        if (label.empty()) label = kDeviceFallback;
        return client->verifyTwoFactor(challenge, method, code, rememberDevice, label);
    };
    offloadInOrder(std::move(verify), [epoch, done](AppModel& self, Outcome<DriveSession> outcome) {
        const Completion ended = [weak = self.weak_from_this(), done] {
            if (const auto model = weak.lock()) model->publish(Field::isVerifying, model->isVerifying_, false);
            finish(done);
        };
        if (epoch != self.epoch_) return ended();
        if (outcome.value) return self.didSignIn(outcome.value->account, epoch, ended);
        try {
            std::rethrow_exception(outcome.error);
        } catch (const DriveError& error) {
            if (error.kind() == DriveError::Kind::twoFactorExpired) {
                self.setStatus(AppStatus::failed(kVerificationExpired));
                return ended();
            }
        } catch (...) {
        }
        self.publish(Field::twoFactorError, self.twoFactorError_, std::optional(errorText(outcome.error)));
        ended();
    });
}

void AppModel::backToSignIn() {
    ++epoch_;
    publish(Field::twoFactorError, twoFactorError_, std::optional<std::string>());
    setStatus(AppStatus::signedOut());
}

void AppModel::didSignIn(std::string account, std::uint64_t epoch, Completion done) {
    publish(Field::account, account_, std::optional<std::string>(account));
    offloadInOrder(
        [domains = deps_.domains, account] {
            domains->mount(account);
            return true;
        },
        [epoch, account, done](AppModel& self, Outcome<bool> mounted) {
            if (epoch != self.epoch_) return finish(done);
            if (mounted.error) {
                self.setStatus(AppStatus::failed(errorText(mounted.error)));
                return finish(done);
            }
            self.becomeReady(account, done);
        });
}

void AppModel::becomeReady(const std::string& account, Completion done) {
    setStatus(AppStatus::ready());
    registerLoginItemOnce();
    const std::uint64_t epoch = epoch_;
    loadQuota([weak = weak_from_this(), epoch, account, done] {
        const auto self = weak.lock();
        if (self && epoch == self->epoch_) self->startLive(account);
        finish(done);
    });
}

// Sign-out -------------------------------------------------------------------

void AppModel::signOut(Completion done) {
    ++epoch_;
    signingOut_ = true;
    stopLive();
    offloadInOrder(
        [domains = deps_.domains, client = deps_.client, remove = deps_.removeLocalState, account = account_] {
            // Every step is tried whatever the one before it did.
            if (account) {
                try {
                    domains->unmount(*account);
                } catch (...) {
                }
                if (remove) remove(*account);
            }
            try {
                client->logout();
            } catch (...) {
            }
            return true;
        },
        [done](AppModel& self, Outcome<bool>) {
            self.signingOut_ = false;
            self.publish(Field::account, self.account_, std::optional<std::string>());
            self.publish(Field::quota, self.quota_, std::optional<DriveQuota>());
            self.publish(Field::summary, self.summary_, std::optional<DomainSummary>());
            self.setStatus(AppStatus::signedOut());
            finish(done);
        });
}

// Quota, summary, refresh ----------------------------------------------------

void AppModel::loadQuota(Completion done) {
    struct Loaded {
        std::optional<DriveQuota> quota;
        std::optional<DomainSummary> summary;
    };
    auto locate = deps_.summaryLocation;
    offload(
        [api = api_, locate, account = account_] {
            Loaded loaded;
            try {
                loaded.quota = api->quota();
            } catch (...) {
                // No quota bar rather than a message: the drive works without it.
            }
            if (account && locate) loaded.summary = DomainSummary::load(locate(*account));
            return loaded;
        },
        [done, epoch = epoch_, hadAccount = account_.has_value()](AppModel& self, Outcome<Loaded> loaded) {
            if (epoch != self.epoch_) return finish(done);  // signed out meanwhile: nothing to show
            if (!loaded.value) loaded.value.emplace();  // a summary location that threw: nothing known
            self.publish(Field::quota, self.quota_, loaded.value->quota);
            if (hadAccount && self.account_) self.publish(Field::summary, self.summary_, loaded.value->summary);
            finish(done);
        });
}

void AppModel::refresh(Completion done) {
    if (!account_ || isSynchronizing_ || signingOut_) return finish(done);
    publish(Field::isSynchronizing, isSynchronizing_, true);
    offload(
        [domains = deps_.domains, account = *account_] {
            return domains->signal(account, true, kSignalTimeout);
        },
        [done](AppModel& self, Outcome<bool>) {
            self.loadQuota([weak = self.weak_from_this(), done] {
                if (const auto model = weak.lock()) {
                    model->publish(Field::lastSyncSignal, model->lastSyncSignal_,
                                   std::optional(model->deps_.executor.clock().wallNow()));
                    model->publish(Field::isSynchronizing, model->isSynchronizing_, false);
                }
                finish(done);
            });
        });
}

void AppModel::userVisibleFolder(std::function<void(std::filesystem::path)> done) {
    if (!account_) return done(deps_.fallbackFolder);
    offload([domains = deps_.domains, account = *account_] { return domains->userVisibleRoot(account); },
            [done](AppModel& self, Outcome<std::filesystem::path> root) {
                done(root.value && !root.value->empty() ? *root.value : self.deps_.fallbackFolder);
            });
}

}  // namespace cadrio::app
