#include "fileprovider/conflict_copy.hpp"

#include <string>

#include "core/model/sync_naming.hpp"
#include "core/model/time_zone.hpp"

namespace cadrio {
namespace {

/// True when `candidate` is named like `copyName` apart from the date and
/// time in the marker: a copy of the same file made at another minute.
bool sameCopyOtherMinute(const std::string& candidate, const std::string& copyName) {
    static constexpr std::string_view kMarker = " (conflit ";
    const std::size_t marker = copyName.rfind(kMarker);
    const std::size_t close = copyName.find(')', marker);
    if (marker == std::string::npos || close == std::string::npos || candidate.size() != copyName.size()) return false;
    return candidate.compare(0, marker + kMarker.size(), copyName, 0, marker + kMarker.size()) == 0 &&
           candidate.compare(close, std::string::npos, copyName, close, std::string::npos) == 0;
}

/// A copy of these very bytes the drive already holds: the answer to an
/// earlier attempt that got lost on the way (a dropped connection), after
/// which the host sends the change again. The store is searched whole, as
/// the file may have moved since that attempt put the copy beside it; it
/// cannot know of a copy whose answer was lost, so the drive's listing of
/// the folder is asked too.
std::optional<DriveFile> earlierCopy(const ItemChangeParts& parts, const DriveFile& base, const LocalContent& local,
                                     const std::string& copyName, std::stop_token stop) {
    const auto isCopy = [&](const DriveFile& file) {
        return file.contentHash == local.contentHash && sameCopyOtherMinute(file.name, copyName);
    };
    for (const DriveFile& file : parts.store->contents().files) {
        if (isCopy(file)) return file;
    }
    for (const DriveFile& file : parts.api->files(base.parentFolderID, stop)) {
        if (!isCopy(file)) continue;
        parts.store->upsert({}, std::span(&file, 1));
        return file;
    }
    return std::nullopt;
}

}  // namespace

FileAnswer keepConflictCopy(const ItemChangeParts& parts, std::string_view localName, const DriveFile& base,
                            const LocalContent& local, const DriveAPI::Progress& report, std::stop_token stop) {
    const std::string copyName = SyncNaming::conflictCopyName(localName,
                                                              parts.api->client().clock().wallNow(),
                                                              currentTimeZoneName());
    if (const std::optional<DriveFile> copy = earlierCopy(parts, base, local, copyName, stop)) {
        const DriveFile current = base.refreshed(parts.api->contentURL(base, stop), std::nullopt);
        parts.logger.info("Conflit sur le fichier {} : copie {} déjà sur le Cadrio.", base.id, copy->id);
        return {current, true};
    }
    const DriveFile copy = parts.api->createFile(copyName, base.parentFolderID, local, report, stop);
    parts.store->upsert({}, std::span(&copy, 1));
    parts.store->recordConflict(base.name, copyName);
    const DriveFile current = base.refreshed(parts.api->contentURL(base, stop), std::nullopt);
    parts.logger.info("Conflit sur le fichier {} : copie {} créée.", base.id, copy.id);
    return {current, true};
}

}  // namespace cadrio
