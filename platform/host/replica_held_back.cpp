// Items held back while a local creation of the same name waits for its
// answer. A creation whose answer was lost (or is still on its way) is on
// the drive already, and the next listing brings it in: shown beside the
// local file, it would be one file seen twice, and whatever the user did
// to the second copy would fork it.
#include "platform/host/replica_sqlite.hpp"

namespace cadrio::host::replica_detail {
namespace {

ItemPtr copied(const fileprovider::Item& item) {
    return std::make_shared<fileprovider::BasicItem>(fileprovider::BasicItem::copyOf(item));
}

}  // namespace

bool SqliteReplica::holdBack(const fileprovider::Item& item, const ReplicaEntry& next) {
    const std::string key = next.identifier.rawValue();
    const auto held = heldBack_.find(key);
    if (held != heldBack_.end()) {
        held->second = {held->second.creation, copied(item), generation_};
        return true;
    }
    // A creation went under the name and into the folder it had when it
    // left (its base), and may have been renamed, moved or removed here
    // since, while on its way or after its answer was lost; one whose
    // answer was lost goes again under that name too.
    auto& query = connection_.statement(
        "SELECT p.inode FROM pending p LEFT JOIN items i ON i.inode = p.inode WHERE p.is_folder = ?3 AND "
        "(((p.sending & ?4) <> 0 AND i.parent = ?1 AND i.name = ?2) OR "
        "(((p.sending & ?4) <> 0 OR (p.may_already_exist = 1 AND (p.queued & ?5) <> 0)) AND "
        "p.base_parent = ?6 AND p.base_name = ?2)) "
        "ORDER BY p.may_already_exist DESC, p.sequence LIMIT 1");
    query.bind(1, static_cast<std::int64_t>(next.parentInode))
        .bind(2, next.name)
        .bind(3, std::int64_t{next.isFolder})
        .bind(4, static_cast<std::int64_t>(toBits(LocalChange::creation)))
        .bind(5, static_cast<std::int64_t>(toBits(LocalChange::creation | LocalChange::deletion)))
        .bind(6, next.parentIdentifier.rawValue());
    const std::optional<Inode> creation =
        query.step() ? std::optional(static_cast<Inode>(query.integer(0))) : std::nullopt;
    query.reset();
    if (!creation) return false;
    heldBack_[key] = {*creation, copied(item), generation_};
    return true;
}

std::optional<ItemIdentifier> SqliteReplica::heldBackFor(Inode creation) {
    for (auto it = heldBack_.begin(); it != heldBack_.end(); ++it) {
        if (it->second.creation != creation) continue;
        ItemIdentifier identifier = it->second.item->itemIdentifier();
        heldBack_.erase(it);
        return identifier;
    }
    return std::nullopt;
}

ItemPtr SqliteReplica::takeHeldBack(const ItemIdentifier& identifier) {
    const auto held = heldBack_.find(identifier.rawValue());
    if (held == heldBack_.end()) return nullptr;
    ItemPtr item = held->second.item;
    heldBack_.erase(held);
    return item;
}

void SqliteReplica::releaseHeldBack(Inode creation, std::vector<KernelNotice>& notices) {
    std::vector<ItemPtr> released;
    for (auto it = heldBack_.begin(); it != heldBack_.end();) {
        if (it->second.creation == creation) {
            released.push_back(it->second.item);
            it = heldBack_.erase(it);
        } else {
            ++it;
        }
    }
    for (const ItemPtr& item : released) upsert(*item, notices, std::nullopt);
}

}  // namespace cadrio::host::replica_detail
