#pragma once
// Contents as files: one file per storage object under <root>/objects and
// <root>/thumbnails, and a staging area for bodies being received. An
// object is immutable once committed; a new content is a new object, so a
// download in progress keeps reading the version it opened.
//
// Storage keys are "objects/" + 32 hex digits or "thumbnails/" + hex
// digits + "_" + WxH + ".jpg"; anything else is refused, so a key can never
// name a path outside the root.
//
// Thread safety: all members may be called from any thread; the store holds
// no mutable state besides the file system. A StagedBlob belongs to one
// thread.

#include "devserver/digest.hpp"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace cadrio::devserver {

/// A file being received into the staging area, with its size and SHA-256
/// kept as it grows. Removed on destruction unless committed.
class StagedBlob {
public:
    explicit StagedBlob(std::filesystem::path path);
    /// A complete file of `size` bytes made elsewhere, to hand to
    /// BlobStore::commit; the destructor leaves it in place.
    static StagedBlob adopt(std::filesystem::path path, std::int64_t size);
    ~StagedBlob();
    StagedBlob(StagedBlob&&) noexcept;
    StagedBlob& operator=(StagedBlob&&) = delete;
    StagedBlob(const StagedBlob&) = delete;
    StagedBlob& operator=(const StagedBlob&) = delete;

    /// False when the disk refuses the bytes.
    bool write(const char* data, std::size_t size);
    std::int64_t size() const { return size_; }
    /// Flushes and closes the file and gives the SHA-256 of its bytes.
    /// Throws std::runtime_error when the file cannot be completed.
    std::string finish();
    const std::filesystem::path& path() const { return path_; }
    /// The file now belongs to someone else: the destructor leaves it.
    void release() { released_ = true; }

private:
    StagedBlob() = default;

    std::filesystem::path path_;
    std::FILE* file_ = nullptr;
    Digest digest_{Digest::Kind::sha256};
    std::int64_t size_ = 0;
    bool failed_ = false;
    bool released_ = false;
};

class BlobStore {
public:
    /// Creates the directories; empties the staging area.
    explicit BlobStore(std::filesystem::path root);

    static bool isValidKey(std::string_view key);
    static std::string newObjectKey();
    /// A new thumbnail key of `size` ("64x64", "256x256").
    static std::string newThumbnailKey(std::string_view size);

    /// The file of an object; throws std::invalid_argument for a bad key.
    std::filesystem::path pathOf(std::string_view key) const;

    StagedBlob stage() const;
    /// A private directory in the staging area (multipart parts).
    std::filesystem::path newStagingDirectory() const;
    /// Moves a finished staged file into place as `key`.
    void commit(StagedBlob& blob, std::string_view key) const;
    /// Stores `bytes` as `key`; returns their SHA-256.
    std::string put(std::string_view key, std::string_view bytes) const;
    /// Removes an object; a missing one or a bad key is ignored.
    void remove(std::string_view key) const noexcept;
    /// Removes every object and every staged file.
    void clear() const;

    const std::filesystem::path& root() const { return root_; }

private:
    std::filesystem::path root_;
};

}  // namespace cadrio::devserver
