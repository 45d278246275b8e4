#pragma once
// Rewrites one file whole from bytes its owner prepared under its own lock,
// so that the owner's lock is never held across the disk write. Writes go
// one at a time and never backwards: each set of bytes carries the
// generation of the state it shows, and bytes of an older generation that
// reach the writer after a newer one was written are dropped (two savers
// may reach the writer in another order than they took their state).
//
// A failed write is dropped (the previous file stays) and does not count:
// the next write, even of an older generation, may still land, since it is
// newer than what the file holds.
//
// Threads: any thread may call write(). mutex_ guards written_ and is held
// across the write itself: that is its purpose. Owners must not hold their
// own lock when calling write(); nothing here calls back.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string_view>

#include "core/support/thread_annotations.hpp"

namespace cadrio {

class OrderedFileWriter {
  public:
    /// How the file is replaced (writeFileAtomically unless a test says
    /// otherwise); throws on failure.
    using Write = std::function<void(const std::filesystem::path&, std::string_view)>;

    /// Without a path every write does nothing.
    explicit OrderedFileWriter(std::optional<std::filesystem::path> path, Write write = {});

    /// Writes `bytes` unless bytes of `generation` or a later one were
    /// written already; returns whether the file now holds them.
    bool write(std::uint64_t generation, std::string_view bytes) CADRIO_EXCLUDES(mutex_);

  private:
    const std::optional<std::filesystem::path> path_;
    const Write write_;
    Mutex mutex_;
    std::uint64_t written_ CADRIO_GUARDED_BY(mutex_) = 0;
};

}  // namespace cadrio
