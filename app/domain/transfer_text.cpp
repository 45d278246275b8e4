#include "app/domain/transfer_text.hpp"

#include <cmath>

namespace cadrio::app {
namespace {

std::string percentOf(const TransferReading& reading) {
    return std::to_string(static_cast<long long>(std::round(reading.fraction() * 100.0)));
}

}  // namespace

bool TransferReading::isActive() const {
    return !finished && totalBytes > 0 && fraction() < 1.0;
}

double TransferReading::fraction() const {
    if (totalBytes <= 0 || completedBytes <= 0) return 0.0;
    return static_cast<double>(completedBytes) / static_cast<double>(totalBytes);
}

std::optional<std::string> transferText(const TransferReading& upload, const TransferReading& download) {
    const bool uploading = upload.isActive();
    const bool downloading = download.isActive();
    if (uploading && downloading)
        return "Envoi " + percentOf(upload) + " %, téléchargement " + percentOf(download) + " %";
    if (uploading) return "Envoi en cours… " + percentOf(upload) + " %";
    if (downloading) return "Téléchargement en cours… " + percentOf(download) + " %";
    return std::nullopt;
}

}  // namespace cadrio::app
