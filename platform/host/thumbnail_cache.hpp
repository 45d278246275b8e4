#pragma once
// The desktop's shared thumbnail cache, written the way file managers read
// it, so that they show a preview of a file on the drive without reading
// (and so downloading) it:
// - <root>/normal/<md5>.png at most 128 pixels a side and
//   <root>/large/<md5>.png at most 256, where <md5> is the lower-case hex
//   MD5 of the file's URI (see uriOf); the image keeps its aspect ratio and
//   is never enlarged;
// - each PNG carries Thumb::URI and Thumb::MTime (the file's st_mtime in
//   whole seconds, which a file manager compares with the file's own),
//   Thumb::Size, and the content version it shows under our own key;
// - files are written whole or not at all (temporary file, then rename),
//   mode 0600, in folders created with mode 0700.
//
// Threads: every member may be called from any thread; the cache keeps no
// state but a flag that makes the first undecodable image the only one
// logged as a notice.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/fileprovider/byte_strings.hpp"

namespace cadrio::host {

/// What a thumbnail was made from.
struct ThumbnailStamp {
    std::int64_t modifiedSeconds = 0;
    std::int64_t size = 0;
    fileprovider::ByteString contentVersion;

    bool operator==(const ThumbnailStamp&) const = default;
};

class ThumbnailCache {
  public:
    enum class Flavour { normal, large };
    static constexpr int kNormalPixels = 128;
    static constexpr int kLargePixels = 256;
    /// Image data above this is not decoded.
    static constexpr std::size_t kMaxImageBytes = 16u << 20;

    /// `root` is the thumbnails folder (see defaultRoot()); created on the
    /// first store().
    explicit ThumbnailCache(std::filesystem::path root);

    /// $XDG_CACHE_HOME/thumbnails, or ~/.cache/thumbnails when that variable
    /// is unset or relative.
    static std::filesystem::path defaultRoot();

    /// "file://" and the absolute path, percent-encoded as the desktop's own
    /// library encodes it (so that the MD5 matches the file manager's).
    /// Throws std::invalid_argument for a relative path.
    static std::string uriOf(const std::filesystem::path& absolutePath);
    std::filesystem::path thumbnailOf(const std::filesystem::path& absolutePath,
                                      Flavour flavour) const;

    /// Decodes `image` (JPEG, PNG or any format the desktop's image loader
    /// reads, turned upright by its orientation tag) and writes both
    /// thumbnails of `file`. Returns false, writing nothing, when the data
    /// cannot be decoded or is too large; throws std::system_error when a
    /// thumbnail cannot be written.
    bool store(const std::filesystem::path& file, const ThumbnailStamp& stamp,
               std::string_view image);

    /// Whether both thumbnails of `file` show it at `stamp`. A thumbnail
    /// without our content version (the file manager made it from the file)
    /// counts when its URI and time match.
    bool isCurrent(const std::filesystem::path& file, const ThumbnailStamp& stamp) const;

    /// Removes both thumbnails of `file`, when they exist.
    void remove(const std::filesystem::path& file) const;

  private:
    std::filesystem::path root_;
    std::atomic<bool> loggedUndecodable_{false};
};

}  // namespace cadrio::host
