#include "fileprovider/sync_anchor.hpp"

#include <string>
#include <string_view>

#include "core/model/decimal_parsing.hpp"

namespace cadrio {
namespace {

constexpr std::string_view kPrefix = "v3:";

}  // namespace

fileprovider::SyncAnchor syncAnchor(std::int64_t cursor) {
    return fileprovider::SyncAnchor{std::string(kPrefix) + std::to_string(cursor)};
}

std::optional<std::int64_t> cursorOfSyncAnchor(const fileprovider::SyncAnchor& anchor) {
    // Bytes that are not UTF-8 can be neither the prefix nor digits, so the
    // check needs no decoding.
    const std::string_view bytes = anchor.bytes;
    if (!bytes.starts_with(kPrefix)) return std::nullopt;
    return parseSignedDecimal(bytes.substr(kPrefix.size()));
}

}  // namespace cadrio
