#include <cstdio>

#include "app/model/app_model.hpp"
#include "app/model/app_model_internals.hpp"
#include "app/model/error_text.hpp"
#include "core/model/time_zone.hpp"

namespace cadrio::app {

std::string AppModel::statusText() const {
    switch (status_.kind()) {
        case AppStatus::Kind::twoFactor:
            return "Code de vérification attendu";
        case AppStatus::Kind::failed:
            return status_.message();
        case AppStatus::Kind::signedOut:
            return "Non connecté";
        case AppStatus::Kind::connecting:
            return "Connexion…";
        case AppStatus::Kind::ready:
            break;
    }
    return extensionNeedsApproval_ ? "En attente d'autorisation" : "Cadrio à jour";
}

std::optional<std::string> AppModel::lastSyncText() const {
    if (!lastSyncSignal_) return std::nullopt;
    const std::string zone = deps_.timeZone.empty() ? currentTimeZoneName() : deps_.timeZone;
    const LocalDateTime local = localDateTime(*lastSyncSignal_, zone);
    char time[8];
    std::snprintf(time, sizeof time, "%02d:%02d", local.hour, local.minute);
    return std::string("Actualisé à ") + time;
}

std::optional<std::string> AppModel::conflictText() const {
    if (!summary_ || summary_->conflicts.empty()) return std::nullopt;
    const double dismissedUntil = deps_.defaults->number("conflictDismissedUntil").value_or(0);
    if (unixSeconds(summary_->conflicts.front().date) <= dismissedUntil) return std::nullopt;
    return summary_->lastConflictLabel();
}

void AppModel::dismissConflict() {
    if (!summary_ || summary_->conflicts.empty()) return;
    deps_.defaults->set("conflictDismissedUntil", unixSeconds(summary_->conflicts.front().date));
    notify(Field::conflictDismissal);
}

// Launch at login --------------------------------------------------------------

void AppModel::registerLoginItemOnce() {
    if (!deps_.loginItem) return;
    if (!deps_.defaults->boolean("launchAtLoginChosen").value_or(false)) {
        deps_.defaults->set("launchAtLoginChosen", true);
        try {
            deps_.loginItem->registerItem();
            deps_.logger.info("Ouverture à l'ouverture de session activée.");
        } catch (...) {
            deps_.logger.error("Ouverture à l'ouverture de session impossible : {}",
                               errorText(std::current_exception()));
        }
    }
    refreshLoginItem();
}

void AppModel::setLaunchAtLogin(bool wanted) {
    if (!deps_.loginItem) return;
    deps_.defaults->set("launchAtLoginChosen", true);
    try {
        if (wanted) {
            deps_.loginItem->registerItem();
        } else {
            deps_.loginItem->unregisterItem();
        }
    } catch (...) {
        deps_.logger.error("Réglage de l'ouverture automatique impossible : {}", errorText(std::current_exception()));
    }
    refreshLoginItem();
}

void AppModel::refreshLoginItem() {
    if (!deps_.loginItem) return;
    const desktop::LoginItemStatus status = deps_.loginItem->status();
    publish(Field::launchAtLogin, launchAtLogin_,
            status == desktop::LoginItemStatus::enabled || status == desktop::LoginItemStatus::requiresApproval);
    publish(Field::launchAtLoginNeedsApproval, launchAtLoginNeedsApproval_,
            status == desktop::LoginItemStatus::requiresApproval);
}

}  // namespace cadrio::app
