#include "fileprovider/creations_in_doubt.hpp"

#include <algorithm>
#include <vector>

namespace cadrio {

void CreationsInDoubt::begin(const Attempt& attempt, const ItemStore& store) {
    std::set<std::int64_t> held;
    for (const DriveFile& file : store.filesLike(attempt.name, attempt.contentHash)) held.insert(file.id);
    LockGuard lock(mutex_);
    if (heldBefore_.insert_or_assign(attempt, std::move(held)).second) order_.push_back(attempt);
    while (order_.size() > kKept) {
        heldBefore_.erase(order_.front());
        order_.pop_front();
    }
}

void CreationsInDoubt::answered(const Attempt& attempt) {
    LockGuard lock(mutex_);
    if (heldBefore_.erase(attempt) > 0) std::erase(order_, attempt);
}

std::optional<DriveFile> CreationsInDoubt::movedAway(const Attempt& attempt, const ItemStore& store) const {
    std::set<std::int64_t> held;
    {
        LockGuard lock(mutex_);
        const auto found = heldBefore_.find(attempt);
        if (found == heldBefore_.end()) return std::nullopt;
        held = found->second;
    }
    std::optional<DriveFile> landed;
    for (const DriveFile& file : store.filesLike(attempt.name, attempt.contentHash)) {
        if (held.contains(file.id)) continue;
        if (landed) return std::nullopt;
        landed = file;
    }
    return landed;
}

}  // namespace cadrio
