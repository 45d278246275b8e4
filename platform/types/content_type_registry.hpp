#pragma once
// The content-type registry: file names to types, conformance between types
// and the MIME type to send with an upload.
//
// Backed by the shared MIME database (globs2, aliases, subclasses); when the
// database cannot be read, a small built-in table of common types answers
// instead, so that a machine without shared-mime-info still gets sensible
// upload types. Every member may be called from any thread: the tables are
// immutable after construction, and the one mutable part, a bounded cache of
// the answers of dataTypeForName (listings ask for the same few extensions
// again and again), is guarded by its own mutex.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/support/thread_annotations.hpp"
#include "platform/types/content_type.hpp"
#include "platform/types/mime_globs.hpp"

namespace cadrio::types {

class ContentTypeRegistry {
public:
    /// Alias -> canonical type, and type -> its direct parents.
    using Aliases = std::unordered_map<std::string, std::string>;
    using Parents = std::unordered_multimap<std::string, std::string>;

    ContentTypeRegistry(std::vector<GlobRule> globs, Aliases aliases, Parents parents, bool builtin = false);
    ContentTypeRegistry(ContentTypeRegistry&&) noexcept;
    ~ContentTypeRegistry();

    /// The database in `mimeDirectory` ("/usr/share/mime"). A globs2 file
    /// that is missing, unreadable or holds no rule gives the built-in
    /// table; missing aliases or subclasses files just mean none.
    static ContentTypeRegistry fromDirectory(const std::filesystem::path& mimeDirectory);
    static ContentTypeRegistry builtin();

    /// The process-wide registry, read on first use (thread-safe) from the
    /// first "mime" directory of $XDG_DATA_DIRS (default
    /// "/usr/local/share:/usr/share") that holds a globs2 file.
    static const ContentTypeRegistry& shared();

    /// True when answers come from the built-in table.
    bool isBuiltin() const noexcept { return builtin_; }

    /// The type itself, or the type an alias stands for.
    ContentType canonical(const ContentType& type) const;

    /// Like the platform's type-from-extension look-up: the type registered
    /// for the extension, kept only when it conforms to `conformingTo`.
    std::optional<ContentType> typeForFilenameExtension(std::string_view extension,
                                                        const ContentType& conformingTo = ContentType::data()) const;

    /// Full shared-mime-info matching of a file name (literal names,
    /// "*.tar.gz"-style and other globs). Absent when nothing matches.
    std::optional<ContentType> typeForFileName(std::string_view fileName) const;

    /// The type of a regular file judged by its name's path extension, the
    /// generic data type when the extension is unknown or absent.
    ContentType dataTypeForName(std::string_view fileName) const;

    /// `type` is `other`, an alias of it, or descends from it; every type of
    /// byte content conforms to data(), every "text/" type to plainText().
    bool conforms(const ContentType& type, const ContentType& other) const;

    /// The MIME type that names `type` on the wire; absent for types that are
    /// not data (folders, links).
    std::optional<std::string> preferredMimeType(const ContentType& type) const;

    /// The MIME type to upload a file of this name with:
    /// "application/octet-stream" when its extension gives none.
    std::string uploadMimeType(std::string_view fileName) const;

    /// How many extensions the cache of dataTypeForName keeps at most;
    /// names from the network cannot grow it past this.
    static constexpr std::size_t kMaxCachedExtensions = 4096;

private:
    struct Cache {
        Mutex mutex;  // held for one look-up or one insertion, never while matching
        std::unordered_map<std::string, ContentType> dataTypes CADRIO_GUARDED_BY(mutex);
    };

    static bool isDataType(const std::string& canonicalIdentifier);

    GlobMatcher globs_;
    Aliases aliases_;
    Parents parents_;
    bool builtin_;
    std::unique_ptr<Cache> cache_;
};

}  // namespace cadrio::types
