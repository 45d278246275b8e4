#pragma once
// The drive metadata in the data directory: one JSON file, replaced
// atomically (written beside it, flushed to disk, renamed over it), so a
// crash leaves either the old or the new state, never a mix.
//
// Thread safety: save() may be called from any thread; a mutex serialises
// writers, and a snapshot older than the one last written is skipped, so
// that changes finishing out of order never roll the file back.

#include "core/support/thread_annotations.hpp"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <optional>

namespace cadrio::devserver {

class MetadataFile {
public:
    explicit MetadataFile(std::filesystem::path path);

    /// The saved state; absent when there is no file. Throws
    /// std::runtime_error naming the file when it cannot be read or parsed.
    std::optional<nlohmann::json> load() const;
    /// Writes `state` unless a newer version was written already. Throws
    /// std::runtime_error when the file cannot be written.
    void save(std::uint64_t version, const nlohmann::json& state) CADRIO_EXCLUDES(mutex_);

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
    Mutex mutex_;
    std::uint64_t written_ CADRIO_GUARDED_BY(mutex_) = 0;
    bool anyWritten_ CADRIO_GUARDED_BY(mutex_) = false;
};

}  // namespace cadrio::devserver
