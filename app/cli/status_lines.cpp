#include "app/cli/status_lines.hpp"

#include "app/model/status_texts.hpp"

namespace cadrio::app::cli {

void StatusLines::update(const AppModel& model) {
    show(Topic::status, "Statut : ", model.statusText());
    const bool live = model.status().kind() == AppStatus::Kind::ready;
    show(Topic::live, "",
         live ? std::optional(liveIndicatorText(model.liveStatus())) : std::nullopt);
    show(Topic::transfers, "Transferts : ",
         live ? std::optional(model.transferLabel().value_or("au repos")) : std::nullopt);
    show(Topic::quota, "Espace : ", model.quota() ? std::optional(quotaText(*model.quota())) : std::nullopt);
    show(Topic::conflict, "Conflit : ", model.conflictText(), "Conflit masqué.");
    show(Topic::archives, "Archives : ", model.summary() ? model.summary()->archivedLabel() : std::nullopt);
    show(Topic::lastSync, "", model.lastSyncText());
}

void StatusLines::show(Topic topic, const char* prefix, std::optional<std::string> text, const char* gone) {
    auto [shown, first] = shown_.try_emplace(topic);
    if (!first && shown->second == text) return;
    const bool wasShown = shown->second.has_value();
    shown->second = std::move(text);
    if (shown->second) {
        print_(prefix + *shown->second);
    } else if (wasShown && gone != nullptr) {
        print_(gone);
    }
}

}  // namespace cadrio::app::cli
