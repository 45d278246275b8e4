#pragma once
// Sync anchors: the bytes the host keeps between change enumerations. This
// plug-in's anchors are the UTF-8 text "v3:" followed by the change-feed
// cursor in decimal ("v3:1834"), nothing else. Anything else is an anchor
// of an older layout (or a damaged one): the host must then list the working
// set again.

#include <cstdint>
#include <optional>

#include "platform/fileprovider/byte_strings.hpp"

namespace cadrio {

fileprovider::SyncAnchor syncAnchor(std::int64_t cursor);

/// The cursor of an anchor of this layout: "v3:" then an optional sign and
/// decimal digits within the signed 64-bit range. Absent otherwise.
std::optional<std::int64_t> cursorOfSyncAnchor(const fileprovider::SyncAnchor& anchor);

}  // namespace cadrio
