#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>

namespace cadrio {

/// Counts the writes of a store and remembers the latest one of each key,
/// so that an answer asked for before some of them (a folder listing that
/// came back late) can tell which records are newer than what it holds.
///
/// Past `capacity` keys everything is forgotten at once: a stamp taken
/// before that is no longer known(), and its caller must assume the worst.
/// Not thread-safe: the owner's mutex guards it, as the records it stamps.
template <class Key>
class WriteStamps {
  public:
    using Stamp = std::uint64_t;

    explicit WriteStamps(std::size_t capacity = 65536) : capacity_(capacity) {}

    /// The stamp of the latest write; what is noted after it is newer.
    Stamp latest() const { return count_; }

    void note(const Key& key) {
        if (written_.size() >= capacity_ && !written_.contains(key)) {
            written_.clear();
            forgottenUpTo_ = count_;
        }
        written_[key] = ++count_;
    }

    /// Whether writtenSince() still tells for writes after `since`.
    bool known(Stamp since) const { return since >= forgottenUpTo_; }

    /// Whether `key` was written after `since`; for a known stamp only.
    bool writtenSince(const Key& key, Stamp since) const {
        const auto found = written_.find(key);
        return found != written_.end() && found->second > since;
    }

  private:
    std::size_t capacity_;
    Stamp count_ = 0;
    Stamp forgottenUpTo_ = 0;
    std::unordered_map<Key, Stamp> written_;
};

}  // namespace cadrio
