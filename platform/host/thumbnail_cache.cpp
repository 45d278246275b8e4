#include "platform/host/thumbnail_cache.hpp"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "core/support/atomic_file.hpp"
#include "core/support/hexadecimal.hpp"
#include "platform/host/host_logger.hpp"

namespace cadrio::host {
namespace fs = std::filesystem;

namespace {


constexpr std::string_view kUriKey = "tEXt::Thumb::URI";
constexpr std::string_view kModifiedKey = "tEXt::Thumb::MTime";
constexpr std::string_view kSizeKey = "tEXt::Thumb::Size";
constexpr std::string_view kVersionKey = "tEXt::X-Cadrio::ContentVersion";
// A preview is a few hundred kilobytes; more pixels than this is an image
// built to exhaust memory.
constexpr std::uint64_t kMaxPixels = 64u << 20;
constexpr std::size_t kLoaderChunk = 64u << 10;

struct ObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
using Pixbuf = std::unique_ptr<GdkPixbuf, ObjectUnref>;
using Loader = std::unique_ptr<GdkPixbufLoader, ObjectUnref>;

struct GFree {
    void operator()(gpointer memory) const { g_free(memory); }
};
using OwnedText = std::unique_ptr<gchar, GFree>;

struct ErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};
using OwnedError = std::unique_ptr<GError, ErrorFree>;

void onSizePrepared(GdkPixbufLoader*, gint width, gint height, gpointer tooLarge) {
    const auto pixels = static_cast<std::uint64_t>(std::max(width, 0)) *
                        static_cast<std::uint64_t>(std::max(height, 0));
    if (pixels > kMaxPixels) *static_cast<bool*>(tooLarge) = true;
}

/// The upright image, or null when `image` is no image we accept.
Pixbuf decode(std::string_view image) {
    if (image.empty() || image.size() > ThumbnailCache::kMaxImageBytes) return nullptr;
    const Loader loader(gdk_pixbuf_loader_new());
    bool tooLarge = false;
    g_signal_connect(loader.get(), "size-prepared", G_CALLBACK(onSizePrepared), &tooLarge);
    bool written = true;
    for (std::size_t offset = 0; written && !tooLarge && offset < image.size();
         offset += kLoaderChunk) {
        const std::size_t length = std::min(kLoaderChunk, image.size() - offset);
        written = gdk_pixbuf_loader_write(
            loader.get(), reinterpret_cast<const guchar*>(image.data() + offset), length, nullptr);
    }
    // Closing is required even after a failure; its error adds nothing.
    const bool closed = gdk_pixbuf_loader_close(loader.get(), nullptr);
    if (!written || !closed || tooLarge) return nullptr;
    GdkPixbuf* decoded = gdk_pixbuf_loader_get_pixbuf(loader.get());  // owned by the loader
    if (decoded == nullptr) return nullptr;
    return Pixbuf(gdk_pixbuf_apply_embedded_orientation(decoded));
}

Pixbuf scaledToFit(GdkPixbuf* image, int pixels) {
    const int width = gdk_pixbuf_get_width(image);
    const int height = gdk_pixbuf_get_height(image);
    if (width <= pixels && height <= pixels) return Pixbuf(GDK_PIXBUF(g_object_ref(image)));
    const double factor = static_cast<double>(pixels) / std::max(width, height);
    const int scaledWidth = std::max(1, static_cast<int>(std::lround(width * factor)));
    const int scaledHeight = std::max(1, static_cast<int>(std::lround(height * factor)));
    return Pixbuf(gdk_pixbuf_scale_simple(image, scaledWidth, scaledHeight, GDK_INTERP_BILINEAR));
}

std::string encodePng(GdkPixbuf* image, const std::string& uri, const ThumbnailStamp& stamp) {
    const std::string modified = std::to_string(stamp.modifiedSeconds);
    const std::string size = std::to_string(stamp.size);
    const std::string version = hexadecimal(stamp.contentVersion);
    std::vector<char*> keys, values;
    for (const auto& [key, value] :
         {std::pair{kUriKey, &uri}, std::pair{kModifiedKey, &modified}, std::pair{kSizeKey, &size},
          std::pair{kVersionKey, &version}}) {
        keys.push_back(const_cast<char*>(key.data()));
        values.push_back(const_cast<char*>(value->c_str()));
    }
    keys.push_back(nullptr);
    values.push_back(nullptr);
    gchar* buffer = nullptr;
    gsize length = 0;
    GError* rawError = nullptr;
    if (!gdk_pixbuf_save_to_bufferv(image, &buffer, &length, "png", keys.data(), values.data(),
                                    &rawError)) {
        const OwnedError error(rawError);
        throw std::system_error(
            std::make_error_code(std::errc::io_error),
            std::string("cannot encode a thumbnail: ") + (error ? error->message : ""));
    }
    const OwnedText owned(buffer);
    return std::string(buffer, length);
}

std::uint32_t bigEndian(const unsigned char* bytes) {
    return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 |
           std::uint32_t{bytes[2]} << 8 | bytes[3];
}

/// The tEXt chunks ahead of a PNG's image data, read without decoding it:
/// checking a folder's thumbnails must cost little. Nothing for what is no
/// PNG or is cut short.
std::optional<std::map<std::string, std::string>> pngTexts(const fs::path& path) {
    constexpr std::string_view kSignature = "\x89PNG\r\n\x1a\n";
    constexpr std::uint32_t kMaxTextBytes = 64u << 10;
    std::ifstream in(path, std::ios::binary);
    char signature[8];
    if (!in.read(signature, sizeof signature) ||
        std::string_view(signature, sizeof signature) != kSignature) {
        return std::nullopt;
    }
    std::map<std::string, std::string> texts;
    unsigned char head[8];
    while (in.read(reinterpret_cast<char*>(head), sizeof head)) {
        const std::uint32_t length = bigEndian(head);
        const std::string_view type(reinterpret_cast<const char*>(head + 4), 4);
        if (type == "IDAT" || type == "IEND") return texts;
        if (type == "tEXt" && length <= kMaxTextBytes) {
            std::string data(length, '\0');
            if (!in.read(data.data(), length)) return std::nullopt;
            const std::size_t separator = data.find('\0');
            if (separator != std::string::npos)
                texts.emplace(data.substr(0, separator), data.substr(separator + 1));
            in.seekg(4, std::ios::cur);  // CRC
        } else {
            in.seekg(std::streamoff{length} + 4, std::ios::cur);
        }
    }
    return std::nullopt;
}

std::optional<std::string> textOf(const std::map<std::string, std::string>& texts,
                                  std::string_view key) {
    const auto found = texts.find(std::string(key.substr(key.find("::") + 2)));  // without "tEXt::"
    if (found == texts.end()) return std::nullopt;
    return found->second;
}

void createPrivateFolder(const fs::path& folder) {
    if (fs::create_directories(folder)) fs::permissions(folder, fs::perms::owner_all);
}

}  // namespace

ThumbnailCache::ThumbnailCache(fs::path root) : root_(std::move(root)) {}

fs::path ThumbnailCache::defaultRoot() {
    const char* cacheHome = std::getenv("XDG_CACHE_HOME");
    if (cacheHome != nullptr && fs::path(cacheHome).is_absolute())
        return fs::path(cacheHome) / "thumbnails";
    const char* home = std::getenv("HOME");
    return fs::path(home != nullptr ? home : "/") / ".cache" / "thumbnails";
}

std::string ThumbnailCache::uriOf(const fs::path& absolutePath) {
    const OwnedText uri(g_filename_to_uri(absolutePath.c_str(), nullptr, nullptr));
    if (!uri) throw std::invalid_argument("not an absolute path: " + absolutePath.string());
    return std::string(uri.get());
}

fs::path ThumbnailCache::thumbnailOf(const fs::path& absolutePath, Flavour flavour) const {
    const std::string uri = uriOf(absolutePath);
    const OwnedText digest(g_compute_checksum_for_string(G_CHECKSUM_MD5, uri.c_str(),
                                                         static_cast<gssize>(uri.size())));
    return root_ / (flavour == Flavour::normal ? "normal" : "large") /
           (std::string(digest.get()) + ".png");
}

bool ThumbnailCache::store(const fs::path& file, const ThumbnailStamp& stamp,
                           std::string_view image) {
    const Pixbuf decoded = decode(image);
    if (!decoded) {
        if (!loggedUndecodable_.exchange(true)) {
            hostLogger().notice("Aperçu illisible, aucune vignette écrite ({} octets)", image.size());
        } else {
            hostLogger().debug("Aperçu illisible, aucune vignette écrite ({} octets)", image.size());
        }
        return false;
    }
    const std::string uri = uriOf(file);
    for (const auto& [flavour, pixels] :
         {std::pair{Flavour::normal, kNormalPixels}, std::pair{Flavour::large, kLargePixels}}) {
        const Pixbuf scaled = scaledToFit(decoded.get(), pixels);
        if (!scaled)
            throw std::system_error(std::make_error_code(std::errc::not_enough_memory),
                                    "cannot scale a thumbnail");
        const fs::path target = thumbnailOf(file, flavour);
        createPrivateFolder(root_);
        createPrivateFolder(target.parent_path());
        writeFileAtomically(target, encodePng(scaled.get(), uri, stamp));
    }
    return true;
}

bool ThumbnailCache::isCurrent(const fs::path& file, const ThumbnailStamp& stamp) const {
    const std::string uri = uriOf(file);
    for (const Flavour flavour : {Flavour::normal, Flavour::large}) {
        const auto texts = pngTexts(thumbnailOf(file, flavour));
        if (!texts) return false;
        if (textOf(*texts, kUriKey) != uri) return false;
        if (textOf(*texts, kModifiedKey) != std::to_string(stamp.modifiedSeconds)) return false;
        const std::optional<std::string> version = textOf(*texts, kVersionKey);
        if (version && *version != hexadecimal(stamp.contentVersion)) return false;
    }
    return true;
}

void ThumbnailCache::remove(const fs::path& file) const {
    std::error_code ignored;
    for (const Flavour flavour : {Flavour::normal, Flavour::large})
        fs::remove(thumbnailOf(file, flavour), ignored);
}

}  // namespace cadrio::host
