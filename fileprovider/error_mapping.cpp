#include "fileprovider/error_mapping.hpp"

#include "core/support/cancellation.hpp"

namespace cadrio {

using fileprovider::Error;
using Code = fileprovider::FileProviderErrorCode;

Error mapError(const DriveError& error) {
    switch (error.kind()) {
        case DriveError::Kind::http:
            return Error::fileProvider(error.status() >= 500 ? Code::serverUnreachable : Code::cannotSynchronize);
        case DriveError::Kind::transport:
        case DriveError::Kind::locked:
        case DriveError::Kind::versionConflict:
        case DriveError::Kind::tooManyAttempts:
            return Error::serverUnreachable();
        case DriveError::Kind::decoding:
        case DriveError::Kind::payloadTooLarge:
            return Error::cannotSynchronize();
        case DriveError::Kind::notAuthenticated:
        case DriveError::Kind::twoFactorInvalidCode:
        case DriveError::Kind::twoFactorExpired:
        case DriveError::Kind::twoFactorClientUnsupported:
            return Error::notAuthenticated();
        case DriveError::Kind::notFound:
        case DriveError::Kind::archived:
            return Error::noSuchItem();
        case DriveError::Kind::insufficientQuota:
            return Error::insufficientQuota();
        case DriveError::Kind::reinforced:
            return Error::cocoa(fileprovider::CocoaErrorCode::fileWriteNoPermission, error.errorDescription());
        case DriveError::Kind::cursorExpired:
            return Error::syncAnchorExpired();
    }
    return Error::cannotSynchronize();
}

Error mapError(std::exception_ptr error) {
    try {
        if (error) std::rethrow_exception(error);
    } catch (const DriveError& driveError) {
        return mapError(driveError);
    } catch (const CancellationError&) {
        return Error::userCancelled();
    } catch (...) {
        return fileprovider::errorFromException(std::current_exception());
    }
    return fileprovider::errorFromException(error);
}

std::string describeError(std::exception_ptr error) {
    try {
        if (error) std::rethrow_exception(error);
    } catch (const DriveError& driveError) {
        return driveError.errorDescription();
    } catch (const std::exception& other) {
        return other.what();
    } catch (...) {
    }
    return "Erreur inconnue.";
}

}  // namespace cadrio
