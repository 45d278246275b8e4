#pragma once
// What the user changed in the mounted folder and the drive has not
// acknowledged yet, as the replica queues it: at most one record per inode,
// into which later changes of the same item merge.
//
// A record's bits move through two sets: `queued` (not yet handed to the
// plug-in; later changes merge here) and `sending` (handed to the plug-in,
// answer not yet applied). A change made while a send is in flight lands in
// `queued` and goes out after it, so the plug-in never sees two changes of
// one item at once and the order per item holds. A host that stops with
// bits in `sending` puts them back in `queued` at the next start; a creation
// among them is then sent with the may-already-exist option.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/fileprovider/bit_flags.hpp"
#include "platform/fileprovider/item.hpp"
#include "platform/fileprovider/item_identifier.hpp"

namespace cadrio::host {

using Inode = std::uint64_t;

enum class LocalChange : std::uint32_t {
    none = 0,
    /// The item exists only here; its creation sends its current name,
    /// parent and contents, so no other bit goes with it.
    creation = 1 << 0,
    contents = 1 << 1,
    filename = 1 << 2,
    parent = 1 << 3,
    /// Replaces every other bit: the item goes, whatever else changed.
    deletion = 1 << 4,
};

}  // namespace cadrio::host

template <>
struct cadrio::fileprovider::IsBitFlags<cadrio::host::LocalChange> : std::true_type {};

namespace cadrio::host {

using fileprovider::contains;
using fileprovider::toBits;
using fileprovider::operator|;
using fileprovider::operator&;
using fileprovider::operator~;
using fileprovider::operator|=;
using fileprovider::operator&=;

/// Identifiers the host makes up for items the drive has not heard of yet.
/// They never reach the plug-in: a change waits until its item and parent
/// carry the drive's identifiers.
bool isProvisional(const fileprovider::ItemIdentifier& identifier);
/// A fresh provisional identifier ("cadrio-local:" and a random UUID).
fileprovider::ItemIdentifier newProvisionalIdentifier();

struct PendingChange {
    Inode inode = 0;
    /// Order of the first queuing: records are tried oldest first.
    std::int64_t sequence = 0;
    LocalChange queued = LocalChange::none;
    LocalChange sending = LocalChange::none;
    /// The version the host last received for the item: the precondition
    /// under which a content change or deletion is sent, so that it never
    /// overwrites a version it has not seen.
    fileprovider::ItemVersion baseVersion;
    /// The name and parent the drive has, so that renaming back cancels a
    /// queued rename, and an editor's new file taking the name of an
    /// original moved aside takes over its identity.
    std::string baseName;
    fileprovider::ItemIdentifier baseParent = fileprovider::ItemIdentifier::rootContainer();
    bool isFolder = false;
    /// Renamed to a scratch name (an editor's backup): not sent while it
    /// keeps such a name.
    bool heldAsScratch = false;
    /// Where the file was here when it went to a scratch name or was
    /// removed: an editor's new file at that place is the file written anew,
    /// even while a local rename or move of it has not reached the drive.
    /// Unset otherwise (and in records of older replicas: the base applies).
    std::optional<std::string> asideName;
    Inode asideParent = 0;
    /// A creation whose earlier sending may have reached the server.
    bool mayAlreadyExist = false;
    /// Set when the plug-in refused for good: the record stays, is not tried
    /// again, and is cleared by the next local change of the item.
    std::optional<std::string> refusal;

    bool operator==(const PendingChange&) const = default;
};

/// A record handed to the uploader: the bits to send and the item as it
/// stands now, with its parent's identifier resolved.
struct OutgoingChange {
    PendingChange change;
    fileprovider::BasicItem item;
};

}  // namespace cadrio::host
