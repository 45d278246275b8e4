#pragma once
// The opaque byte strings that pass between the host and a plug-in: item
// versions, sync anchors and enumeration pages. The host stores them and
// hands them back unchanged; only the plug-in that made one reads it.
// ByteString is a std::string used as a byte container: it may hold any
// byte, NUL included, and need not be UTF-8.

#include <string>
#include <string_view>

namespace cadrio::fileprovider {

using ByteString = std::string;

/// The version of an item as its plug-in describes it. The content version
/// changes when the bytes change; the metadata version when anything else
/// the host shows changes (name, parent, dates).
struct ItemVersion {
    ByteString contentVersion;
    ByteString metadataVersion;

    bool operator==(const ItemVersion&) const = default;
};

/// The position of a change enumeration, kept by the host between calls.
struct SyncAnchor {
    ByteString bytes;

    bool operator==(const SyncAnchor&) const = default;
};

/// A position inside an item enumeration. The two initial pages ask for the
/// first page of a listing sorted by name or by date.
struct Page {
    ByteString bytes;

    static Page initialSortedByName() { return Page{"NSFileProviderInitialPageSortedByName"}; }
    static Page initialSortedByDate() { return Page{"NSFileProviderInitialPageSortedByDate"}; }
    bool isInitial() const { return *this == initialSortedByName() || *this == initialSortedByDate(); }

    bool operator==(const Page&) const = default;
};

}  // namespace cadrio::fileprovider
