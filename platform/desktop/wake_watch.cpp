#include "platform/desktop/wake_watch.hpp"

#include <atomic>
#include <cstring>
#include <exception>

#include "platform/desktop/logind_sleep_signal.hpp"

namespace cadrio::desktop {
namespace {

// Every sign-in starts a new watch: a machine without a system bus is said
// so once per run, not once per sign-in.
std::atomic<bool> noBusSaid{false};

}  // namespace

struct WakeWatch::Loop {
    std::function<void()> onWake;
    log::Logger logger;
    std::unique_ptr<LogindSleepSignal> signal;

    void announced(bool sleeping) const {
        if (sleeping) return;
        try {
            onWake();
        } catch (const std::exception& e) {
            logger.error("Sortie de veille non traitée : {}", e.what());
        } catch (...) {
            logger.error("Sortie de veille non traitée");
        }
    }
};

WakeWatch::WakeWatch(std::function<void()> onWake, log::Logger logger, std::optional<std::string> busAddress)
    : loop_(std::make_unique<Loop>(Loop{std::move(onWake), std::move(logger), nullptr})) {
    Loop* loop = loop_.get();
    loop_->signal = std::make_unique<LogindSleepSignal>([loop](bool sleeping) { loop->announced(sleeping); },
                                                        busAddress);
    if (!loop_->signal->busReached()) {
        if (!noBusSaid.exchange(true)) loop_->logger.info("Pas de bus système : réveil non suivi.");
        loop_.reset();
        return;
    }
    if (!loop_->signal->subscribed()) {
        loop_->logger.error("Suivi du réveil impossible : {}", std::strerror(-loop_->signal->error()));
        loop_.reset();
        return;
    }
    loop_->signal->start();
}

WakeWatch::~WakeWatch() = default;

bool WakeWatch::watching() const { return loop_ != nullptr; }

}  // namespace cadrio::desktop
