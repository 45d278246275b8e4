#include "core/model/drive_error.hpp"

#include <array>
#include <stdexcept>
#include <utility>

namespace cadrio {
namespace {

struct CaseText {
    std::string_view name;
    std::string_view message;  // for the payload cases: the prefix
};

// Indexed by Kind; the order of the enumeration.
constexpr std::array<CaseText, 16> kCases{{
    {"http", "Erreur du serveur (HTTP "},
    {"transport", "Le Cadrio est injoignable. "},
    {"decoding", "Réponse du serveur illisible. "},
    {"notAuthenticated", "Session expirée, reconnexion nécessaire."},
    {"notFound", "Cet élément n'existe plus sur le Cadrio."},
    {"insufficientQuota", "Espace de stockage insuffisant sur le Cadrio."},
    {"payloadTooLarge", "Fichier trop volumineux pour un envoi direct."},
    {"reinforced", "Ce fichier est en stockage renforcé : modifiez-le depuis le web."},
    {"locked", "Ce fichier est ouvert dans l'éditeur en ligne. Nouvel essai dans un instant."},
    {"versionConflict", "Ce fichier a été modifié ailleurs entre-temps."},
    {"archived", "Ce fichier est archivé, il reste disponible depuis le web."},
    {"cursorExpired", "La synchronisation doit repartir d'un état complet du Cadrio."},
    {"twoFactorInvalidCode", "Code invalide."},
    {"twoFactorExpired", "La vérification a expiré. Reconnectez-vous."},
    {"tooManyAttempts", "Trop de tentatives, réessayez dans quelques minutes."},
    {"twoFactorClientUnsupported",
     "Cette version d'Zelvano Cadrio ne sait pas gérer la double authentification. Mettez l'app à jour."},
}};

const CaseText& caseText(DriveError::Kind kind) {
    return kCases.at(static_cast<std::size_t>(kind));
}

bool hasPayload(DriveError::Kind kind) {
    return kind == DriveError::Kind::http || kind == DriveError::Kind::transport ||
           kind == DriveError::Kind::decoding;
}

std::string messageFor(DriveError::Kind kind, int status, const std::string& text) {
    std::string message(caseText(kind).message);
    if (kind == DriveError::Kind::http) {
        message += std::to_string(status);
        message += "). ";
    }
    if (hasPayload(kind)) message += text;
    return message;
}

}  // namespace

DriveError::DriveError(Kind kind, int status, std::string text, bool requestNeverSent)
    : kind_(kind),
      status_(status),
      text_(std::move(text)),
      message_(messageFor(kind_, status_, text_)),
      requestNeverSent_(requestNeverSent) {}

DriveError DriveError::http(int status, std::string body) { return {Kind::http, status, std::move(body)}; }
DriveError DriveError::transport(std::string text) { return {Kind::transport, 0, std::move(text)}; }
DriveError DriveError::transportBeforeSending(std::string text) {
    return {Kind::transport, 0, std::move(text), true};
}
DriveError DriveError::decoding(std::string text) { return {Kind::decoding, 0, std::move(text)}; }

DriveError DriveError::of(Kind kind) {
    if (hasPayload(kind)) {
        throw std::invalid_argument("DriveError::of needs a case without payload");
    }
    return {kind, 0, {}};
}

DriveError DriveError::notAuthenticated() { return of(Kind::notAuthenticated); }
DriveError DriveError::notFound() { return of(Kind::notFound); }
DriveError DriveError::insufficientQuota() { return of(Kind::insufficientQuota); }
DriveError DriveError::payloadTooLarge() { return of(Kind::payloadTooLarge); }
DriveError DriveError::reinforced() { return of(Kind::reinforced); }
DriveError DriveError::locked() { return of(Kind::locked); }
DriveError DriveError::versionConflict() { return of(Kind::versionConflict); }
DriveError DriveError::archived() { return of(Kind::archived); }
DriveError DriveError::cursorExpired() { return of(Kind::cursorExpired); }
DriveError DriveError::twoFactorInvalidCode() { return of(Kind::twoFactorInvalidCode); }
DriveError DriveError::twoFactorExpired() { return of(Kind::twoFactorExpired); }
DriveError DriveError::tooManyAttempts() { return of(Kind::tooManyAttempts); }
DriveError DriveError::twoFactorClientUnsupported() { return of(Kind::twoFactorClientUnsupported); }

bool DriveError::isRetryable() const noexcept {
    return kind_ == Kind::transport || (kind_ == Kind::http && status_ >= 500);
}

std::string_view kindName(DriveError::Kind kind) { return caseText(kind).name; }

}  // namespace cadrio
