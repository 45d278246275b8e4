#pragma once

// Texts that the tray panel and the terminal front end show alike.

#include <optional>
#include <string>

#include "core/events/drive_event_stream.hpp"
#include "core/model/drive_records.hpp"

namespace cadrio::app {

/// "Temps réel en cours de connexion" (none yet), "Temps réel interrompu,
/// nouvel essai dans 5 s", "Synchronisation en temps réel active",
/// "Temps réel arrêté : reconnectez-vous".
std::string liveIndicatorText(const std::optional<DriveEventStream::Status>& status);

/// Megabytes shown as gigabytes in French notation with a no-break space
/// before "Go": `fractionDigits` 1 gives "1,5 Go", 0 gives "10 Go".
std::string gigabytesText(double megabytes, int fractionDigits);

/// "1,5 Go utilisés sur 10 Go".
std::string quotaText(const DriveQuota& quota);

}  // namespace cadrio::app
