#include "app/updates/updater.hpp"

#include <exception>
#include <stdexcept>
#include <utility>

#include "app/updates/appcast.hpp"
#include "app/updates/feed_download.hpp"
#include "app/updates/version_order.hpp"
#include "core/http/request_url.hpp"
#include "core/support/cancellation.hpp"

namespace cadrio::app {

/// What a check brought back: the feed read, or why it could not be.
struct Updater::FeedAnswer {
    std::optional<Appcast> appcast;
    std::string error;
};

namespace {

/// The newest item the user may be sent to: its addresses are https, or
/// plain http from a feed that is itself on loopback.
const AppcastItem* newestOpenable(Appcast& appcast, const std::string& feedURL) {
    const RedirectPolicy policy = storageDownloadRedirects(feedURL);
    std::erase_if(appcast.items, [policy](const AppcastItem& item) {
        for (const std::string* url : {&item.releaseNotesURL, &item.enclosureURL}) {
            if (!url->empty() && !redirectAllowed(policy, *url)) return true;
        }
        return false;
    });
    return appcast.newest();
}

}  // namespace

std::shared_ptr<Updater> Updater::create(Dependencies dependencies) {
    if (!dependencies.feedURL.empty()) {
        requireSecureBaseURL(dependencies.feedURL, "Flux de mises à jour");
        if (!dependencies.transport) throw std::invalid_argument("Flux de mises à jour sans transport.");
    }
    std::shared_ptr<Updater> updater(new Updater(std::move(dependencies)));
    if (updater->deps_.feedURL.empty()) return updater;
    std::weak_ptr<Updater> weak = updater;
    updater->deps_.executor.post([weak] {
        if (const auto self = weak.lock()) self->startCheck(false);
    });
    updater->armPeriodicCheck();
    return updater;
}

Updater::Updater(Dependencies dependencies) : deps_(std::move(dependencies)) {}

Updater::~Updater() {
    stop_.request_stop();
    if (periodicTimer_ != 0) deps_.executor.cancel(periodicTimer_);
}

void Updater::armPeriodicCheck() {
    std::weak_ptr<Updater> weak = weak_from_this();
    periodicTimer_ = deps_.executor.postAfter(kCheckPeriod, [weak] {
        const auto self = weak.lock();
        if (!self) return;
        self->armPeriodicCheck();
        self->startCheck(false);
    });
}

void Updater::checkForUpdates() {
    if (pendingVersion_) {
        const std::string page = pendingPage_;
        setPending(std::nullopt, {});
        open(page);
        return;
    }
    if (deps_.feedURL.empty()) return;
    startCheck(true);
}

void Updater::startCheck(bool interactive) {
    interactiveWanted_ = interactiveWanted_ || interactive;
    if (checking_) return;
    checking_ = true;
    std::weak_ptr<Updater> weak = weak_from_this();
    deps_.background.post([weak, executor = &deps_.executor, transport = deps_.transport, url = deps_.feedURL,
                           stop = stop_.get_token()] {
        FeedAnswer answer;
        try {
            answer.appcast = parseAppcast(downloadFeed(*transport, url, kMaxFeedBytes, stop));
        } catch (const CancellationError&) {
            return;  // the updater is gone
        } catch (const std::exception& error) {
            answer.error = error.what();
        } catch (...) {
            answer.error = "erreur inconnue";
        }
        executor->post([weak, answer = std::move(answer)]() mutable {
            if (const auto self = weak.lock()) self->finishCheck(std::move(answer));
        });
    });
}

void Updater::finishCheck(FeedAnswer answer) {
    checking_ = false;
    const bool interactive = std::exchange(interactiveWanted_, false);
    if (!answer.appcast) {
        deps_.logger.error("Vérification des mises à jour impossible : {}", answer.error);
        return;
    }
    if (answer.appcast->rejectedItems > 0) {
        deps_.logger.notice("Flux de mises à jour : {} version(s) incomplète(s) ignorée(s).",
                            answer.appcast->rejectedItems);
    }
    const AppcastItem* newest = newestOpenable(*answer.appcast, deps_.feedURL);
    if (newest == nullptr || !isNewerVersion(newest->version, deps_.currentVersion)) {
        deps_.logger.info("Aucune mise à jour : version {} à jour.", deps_.currentVersion);
        setPending(std::nullopt, {});
        return;
    }
    deps_.logger.info("Mise à jour disponible : {}.", newest->shortVersion);
    if (interactive) {
        setPending(std::nullopt, {});
        open(newest->pageURL());
        return;
    }
    setPending(newest->shortVersion, newest->pageURL());
}

void Updater::setPending(std::optional<std::string> version, std::string page) {
    pendingPage_ = std::move(page);
    if (version == pendingVersion_) return;
    pendingVersion_ = std::move(version);
    // Copied: an observer may unobserve itself or others.
    const auto observers = observers_;
    for (const auto& entry : observers) entry.second();
}

void Updater::open(const std::string& page) {
    if (deps_.openUrl && !page.empty()) deps_.openUrl(page);
}

Updater::ObserverId Updater::observe(std::function<void()> changed) {
    const ObserverId id = nextObserver_++;
    observers_.emplace(id, std::move(changed));
    return id;
}

void Updater::unobserve(ObserverId id) { observers_.erase(id); }

}  // namespace cadrio::app
