#include "platform/fileprovider/error.hpp"

#include <utility>

namespace cadrio::fileprovider {
namespace {

std::string orStandard(std::string description, std::string_view domain, std::int64_t code) {
    if (!description.empty()) return description;
    return std::string(standardDescription(domain, code));
}

}  // namespace

std::string_view standardDescription(std::string_view domain, std::int64_t code) {
    if (domain == kFileProviderErrorDomain) {
        switch (static_cast<FileProviderErrorCode>(code)) {
            case FileProviderErrorCode::notAuthenticated: return "Authentification requise.";
            case FileProviderErrorCode::syncAnchorExpired: return "Le point de reprise de la synchronisation a expiré.";
            case FileProviderErrorCode::insufficientQuota: return "Espace de stockage insuffisant.";
            case FileProviderErrorCode::serverUnreachable: return "Serveur injoignable.";
            case FileProviderErrorCode::noSuchItem: return "Élément introuvable.";
            case FileProviderErrorCode::deletionRejected: return "Suppression refusée.";
            case FileProviderErrorCode::cannotSynchronize: return "Synchronisation impossible.";
            case FileProviderErrorCode::excludedFromSync: return "Élément exclu de la synchronisation.";
        }
    } else if (domain == kCocoaErrorDomain) {
        switch (static_cast<CocoaErrorCode>(code)) {
            case CocoaErrorCode::fileWriteNoPermission: return "Écriture non autorisée.";
            case CocoaErrorCode::userCancelled: return "Opération annulée.";
            case CocoaErrorCode::featureUnsupported: return "Fonction non prise en charge.";
        }
    }
    return {};
}

Error Error::fileProvider(FileProviderErrorCode code, std::string description) {
    const auto value = static_cast<std::int64_t>(code);
    return Error{std::string(kFileProviderErrorDomain), value,
                 orStandard(std::move(description), kFileProviderErrorDomain, value)};
}

Error Error::cocoa(CocoaErrorCode code, std::string description) {
    const auto value = static_cast<std::int64_t>(code);
    return Error{std::string(kCocoaErrorDomain), value, orStandard(std::move(description), kCocoaErrorDomain, value)};
}

Error Error::posix(int errnoValue, std::string description) {
    if (description.empty()) description = std::generic_category().message(errnoValue);
    return Error{std::string(kPosixErrorDomain), errnoValue, std::move(description)};
}

bool Error::is(FileProviderErrorCode c) const noexcept {
    return domain == kFileProviderErrorDomain && code == static_cast<std::int64_t>(c);
}

bool Error::is(CocoaErrorCode c) const noexcept {
    return domain == kCocoaErrorDomain && code == static_cast<std::int64_t>(c);
}

std::ostream& operator<<(std::ostream& out, const Error& error) {
    return out << error.domain << ' ' << error.code << " (" << error.description << ')';
}

Error errorFromException(std::exception_ptr exception) {
    if (!exception) return Error{std::string(kForeignErrorDomain), 0, "Erreur inconnue."};
    try {
        std::rethrow_exception(exception);
    } catch (const ErrorException& e) {
        return e.error();
    } catch (const std::system_error& e) {
        const auto& category = e.code().category();
        if (category == std::generic_category() || category == std::system_category()) {
            return Error::posix(e.code().value(), e.what());
        }
        return Error{std::string(kForeignErrorDomain), 0, e.what()};
    } catch (const std::exception& e) {
        return Error{std::string(kForeignErrorDomain), 0, e.what()};
    } catch (...) {
        return Error{std::string(kForeignErrorDomain), 0, "Erreur inconnue."};
    }
}

}  // namespace cadrio::fileprovider
