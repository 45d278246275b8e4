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
    auto& query = connection_.statement(
        "SELECT i.inode FROM items i JOIN pending p ON p.inode = i.inode WHERE i.parent = ?1 AND "
        "i.name = ?2 AND i.is_folder = ?3 AND ((p.sending & ?4) <> 0 OR "
        "((p.queued & ?4) <> 0 AND p.may_already_exist = 1)) LIMIT 1");
    query.bind(1, static_cast<std::int64_t>(next.parentInode))
        .bind(2, next.name)
        .bind(3, std::int64_t{next.isFolder})
        .bind(4, static_cast<std::int64_t>(toBits(LocalChange::creation)));
    const std::optional<Inode> creation =
        query.step() ? std::optional(static_cast<Inode>(query.integer(0))) : std::nullopt;
    query.reset();
    if (!creation) return false;
    heldBack_[key] = {*creation, copied(item), generation_};
    return true;
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
    for (const ItemPtr& item : released) upsert(*item, notices);
}

}  // namespace cadrio::host::replica_detail
