#include "platform/host/local_changes.hpp"

#include "core/support/uuid.hpp"

namespace cadrio::host {
namespace {

constexpr std::string_view kProvisionalPrefix = "cadrio-local:";

}  // namespace

bool isProvisional(const fileprovider::ItemIdentifier& identifier) {
    return identifier.rawValue().starts_with(kProvisionalPrefix);
}

fileprovider::ItemIdentifier newProvisionalIdentifier() {
    return fileprovider::ItemIdentifier(std::string(kProvisionalPrefix) + randomUUID());
}

}  // namespace cadrio::host
