#include "app/model/status_texts.hpp"

#include <cmath>
#include <cstdio>

namespace cadrio::app {
namespace {

constexpr std::string_view kNoBreakSpace = "\u00A0";
// French digit groups are set apart by a narrow no-break space.
constexpr std::string_view kGroupSeparator = "\u202F";

std::string groupedDigits(std::string_view digits) {
    std::string out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += kGroupSeparator;
        out += digits[i];
    }
    return out;
}

}  // namespace

std::string liveIndicatorText(const std::optional<DriveEventStream::Status>& status) {
    if (!status) return "Temps réel en cours de connexion";
    switch (status->kind()) {
        case DriveEventStream::Status::Kind::disconnected:
            return "Temps réel interrompu, nouvel essai dans " + std::to_string(status->retryIn()) + " s";
        case DriveEventStream::Status::Kind::connected:
            return "Synchronisation en temps réel active";
        case DriveEventStream::Status::Kind::unauthorized:
            break;
    }
    return "Temps réel arrêté : reconnectez-vous";
}

std::string gigabytesText(double megabytes, int fractionDigits) {
    // A server's nonsense (NaN, infinities) reads as nothing rather than as "nan Go".
    const double gigabytes = std::isfinite(megabytes) ? megabytes / 1024 : 0;
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", fractionDigits < 0 ? 0 : fractionDigits, gigabytes);
    std::string_view text = buffer;
    std::string out;
    if (!text.empty() && text.front() == '-') {
        text.remove_prefix(1);
        if (text.find_first_not_of("0.") != std::string_view::npos) out += '-';  // never "-0,0"
    }
    const std::size_t point = text.find('.');
    out += groupedDigits(text.substr(0, point));
    if (point != std::string_view::npos) {
        out += ',';
        out += text.substr(point + 1);
    }
    out += kNoBreakSpace;
    out += "Go";
    return out;
}

std::string quotaText(const DriveQuota& quota) {
    return gigabytesText(quota.usedMegabytes, 1) + " utilisés sur " + gigabytesText(quota.maxMegabytes, 0);
}

}  // namespace cadrio::app
