#include "platform/host/bus_error.hpp"

#include <systemd/sd-bus.h>

#include <charconv>
#include <cstdint>

#include "platform/host/bus_text.hpp"

namespace cadrio::host {
namespace {

using fileprovider::CocoaErrorCode;
using fileprovider::FileProviderErrorCode;

std::string_view fileProviderName(std::int64_t code) {
    switch (static_cast<FileProviderErrorCode>(code)) {
        case FileProviderErrorCode::notAuthenticated:
            return "NotAuthenticated";
        case FileProviderErrorCode::syncAnchorExpired:
            return "SyncAnchorExpired";
        case FileProviderErrorCode::insufficientQuota:
            return "InsufficientQuota";
        case FileProviderErrorCode::serverUnreachable:
            return "ServerUnreachable";
        case FileProviderErrorCode::noSuchItem:
            return "NoSuchItem";
        case FileProviderErrorCode::deletionRejected:
            return "DeletionRejected";
        case FileProviderErrorCode::cannotSynchronize:
            return "CannotSynchronize";
        case FileProviderErrorCode::excludedFromSync:
            return "ExcludedFromSync";
    }
    return "Failed";
}

std::string_view cocoaName(std::int64_t code) {
    switch (static_cast<CocoaErrorCode>(code)) {
        case CocoaErrorCode::fileWriteNoPermission:
            return "WriteNotPermitted";
        case CocoaErrorCode::userCancelled:
            return "Cancelled";
        case CocoaErrorCode::featureUnsupported:
            return "NotSupported";
    }
    return "Failed";
}

fileprovider::Error foreign(std::string_view message) {
    return fileprovider::Error{std::string(fileprovider::kForeignErrorDomain), 0,
                               std::string(message)};
}

}  // namespace

std::string busErrorName(const fileprovider::Error& error) {
    std::string_view suffix = "Failed";
    if (error.domain == fileprovider::kFileProviderErrorDomain) {
        suffix = fileProviderName(error.code);
    } else if (error.domain == fileprovider::kCocoaErrorDomain) {
        suffix = cocoaName(error.code);
    } else if (error.domain == fileprovider::kPosixErrorDomain) {
        suffix = "Posix";
    }
    return std::string(kBusErrorPrefix).append(suffix);
}

std::string busErrorMessage(const fileprovider::Error& error) {
    return toBusString(error.domain + ":" + std::to_string(error.code) + ": " + error.description);
}

fileprovider::Error errorFromBusMessage(std::string_view message) {
    // The domain is the only part that could hold ": ", and ours never do:
    // the first ": " ends the code.
    const std::size_t end = message.find(": ");
    if (end == std::string_view::npos) return foreign(message);
    const std::string_view head = message.substr(0, end);
    const std::size_t colon = head.rfind(':');
    if (colon == std::string_view::npos || colon == 0) return foreign(message);
    const std::string_view digits = head.substr(colon + 1);
    std::int64_t code = 0;
    const auto [last, failure] =
        std::from_chars(digits.data(), digits.data() + digits.size(), code);
    if (failure != std::errc() || last != digits.data() + digits.size() || digits.empty())
        return foreign(message);
    return fileprovider::Error{std::string(head.substr(0, colon)), code,
                               std::string(message.substr(end + 2))};
}

int setBusError(sd_bus_error* target, const fileprovider::Error& error) {
    const std::string name = busErrorName(error);
    const std::string message = busErrorMessage(error);
    const int result = sd_bus_error_set(target, name.c_str(), message.c_str());
    return result < 0 ? result : -EIO;
}

}  // namespace cadrio::host
