#include "platform/keychain/keychain_error.hpp"

namespace cadrio {

std::optional<std::string_view> keychainStatusText(std::int32_t status) {
    namespace ks = keychain_status;
    switch (status) {
    case ks::ioFailure: return "erreur d'entrée-sortie";
    case ks::invalidParameter: return "paramètre invalide";
    case ks::internalFailure: return "erreur interne du trousseau";
    case ks::notAvailable: return "aucun trousseau disponible";
    case ks::duplicateItem: return "l'élément existe déjà";
    case ks::itemNotFound: return "élément introuvable";
    case ks::locked: return "le trousseau est verrouillé";
    case ks::unreadableItem: return "élément illisible";
    default: return std::nullopt;
    }
}

namespace {

std::string describe(std::int32_t status, const std::string& message) {
    std::string text = "Accès au trousseau impossible : ";
    if (const auto known = keychainStatusText(status)) {
        text += *known;
        if (!message.empty()) {
            text += " (" + message + ")";
        }
    } else {
        if (!message.empty()) {
            text += message + ", ";
        }
        text += "code " + std::to_string(status);
    }
    return text;
}

}  // namespace

KeychainError::KeychainError(std::int32_t status, std::string message)
    : status_(status), message_(std::move(message)), description_(describe(status_, message_)) {}

}  // namespace cadrio
