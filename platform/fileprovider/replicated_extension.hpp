#pragma once
// The interface a plug-in implements for one domain, and that the host
// drives: lookups, enumerators, content downloads, creations, modifications,
// deletions and thumbnails.
//
// Contract for every entry point that takes a completion:
// - it returns at once with a progress object for the work; the host may
//   cancel that progress, after which the plug-in answers "user cancelled"
//   (or nothing more if it had already answered);
// - the completion is called exactly once, from any thread, possibly before
//   the entry point returns; the host must not hold a lock the completion
//   needs while calling in;
// - entry points may be called concurrently from several host threads.
// Errors go to the host as Error values (see error.hpp); enumerator() throws
// ErrorException.
//
// The entry points that a plug-in does not override answer "feature
// unsupported" (Cocoa 3328) rather than pretend success, so a host always
// learns that nothing was done.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/fileprovider/byte_strings.hpp"
#include "platform/fileprovider/enumerator.hpp"
#include "platform/fileprovider/error.hpp"
#include "platform/fileprovider/item.hpp"
#include "platform/fileprovider/item_flags.hpp"
#include "platform/fileprovider/progress.hpp"
#include "platform/fileprovider/request.hpp"

namespace cadrio::fileprovider {

struct ThumbnailSize {
    double width = 0;
    double height = 0;
};

class ReplicatedExtension {
public:
    using ItemCompletion = std::function<void(ItemPtr item, std::optional<Error> error)>;
    /// `contents` is a file the host moves into its cache; it belongs to the
    /// host from then on.
    using FetchContentsCompletion =
        std::function<void(std::optional<std::filesystem::path> contents, ItemPtr item, std::optional<Error> error)>;
    /// The answer to a creation or modification: the item as the server now
    /// has it, the fields not yet carried out, and whether the host should
    /// fetch the contents again (its local copy is not the server's).
    using ItemChangeCompletion = std::function<void(ItemPtr item, ItemFields stillPendingFields,
                                                    bool shouldFetchContent, std::optional<Error> error)>;
    using DeleteCompletion = std::function<void(std::optional<Error> error)>;
    /// Called at most once per requested identifier, in any order, before
    /// the final completion; no image and no error: the item has none.
    using PerThumbnailCompletion = std::function<void(const ItemIdentifier& identifier,
                                                      std::optional<ByteString> imageData, std::optional<Error> error)>;
    using ThumbnailsCompletion = std::function<void(std::optional<Error> error)>;

    virtual ~ReplicatedExtension() = default;

    /// The host is about to release the extension. Work in flight may still
    /// complete; completions after this are ignored by the host.
    virtual void invalidate() {}

    virtual std::shared_ptr<Progress> item(const ItemIdentifier& identifier, const Request& request,
                                           ItemCompletion completion) = 0;

    /// The enumerator of a folder, of the root container or of the working
    /// set. Throws ErrorException ("no such item" for what is no container).
    virtual std::shared_ptr<Enumerator> enumerator(const ItemIdentifier& container, const Request& request) = 0;

    virtual std::shared_ptr<Progress> fetchContents(const ItemIdentifier& identifier,
                                                    const std::optional<ItemVersion>& requestedVersion,
                                                    const Request& request, FetchContentsCompletion completion);

    /// `itemTemplate` carries the name, parent and content type the user
    /// chose; `contents` is the file's data (absent for folders).
    virtual std::shared_ptr<Progress> createItem(ItemPtr itemTemplate, ItemFields fields,
                                                 const std::optional<std::filesystem::path>& contents,
                                                 CreateItemOptions options, const Request& request,
                                                 ItemChangeCompletion completion);

    /// `baseVersion` is the version the host last received for the item;
    /// only the `changedFields` of `item` are new.
    virtual std::shared_ptr<Progress> modifyItem(ItemPtr item, const ItemVersion& baseVersion, ItemFields changedFields,
                                                 const std::optional<std::filesystem::path>& contents,
                                                 ModifyItemOptions options, const Request& request,
                                                 ItemChangeCompletion completion);

    virtual std::shared_ptr<Progress> deleteItem(const ItemIdentifier& identifier, const ItemVersion& baseVersion,
                                                 DeleteItemOptions options, const Request& request,
                                                 DeleteCompletion completion);

    virtual std::shared_ptr<Progress> fetchThumbnails(std::vector<ItemIdentifier> identifiers,
                                                      ThumbnailSize requestedSize,
                                                      PerThumbnailCompletion perThumbnailCompletion,
                                                      ThumbnailsCompletion completion);

protected:
    /// The error of an entry point this plug-in does not offer.
    static Error unsupported(std::string_view entryPoint);
};

using ExtensionPtr = std::shared_ptr<ReplicatedExtension>;

}  // namespace cadrio::fileprovider
