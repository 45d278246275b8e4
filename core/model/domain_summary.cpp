#include "core/model/domain_summary.hpp"

#include <utility>

namespace cadrio {

void DomainSummary::recordConflict(std::string originalName, std::string copyName, Date date) {
    conflicts.insert(conflicts.begin(),
                     Conflict{.originalName = std::move(originalName), .copyName = std::move(copyName), .date = date});
    if (conflicts.size() > kMaxConflicts) conflicts.resize(kMaxConflicts);
}

void DomainSummary::apply(std::span<const DriveFile> files) {
    for (const DriveFile& file : files) {
        if (!file.isTrashed && file.storageClass != StorageClass::standard) {
            archivedFileIDs.insert(file.id);
        } else {
            archivedFileIDs.erase(file.id);
        }
    }
}

std::optional<std::string> DomainSummary::archivedLabel() const {
    const std::size_t count = archivedFileCount();
    if (count == 0) return std::nullopt;
    if (count == 1) return "1 fichier archivé, disponible depuis le web.";
    return std::to_string(count) + " fichiers archivés, disponibles depuis le web.";
}

std::optional<std::string> DomainSummary::lastConflictLabel() const {
    if (conflicts.empty()) return std::nullopt;
    const Conflict& newest = conflicts.front();
    return "Conflit sur « " + newest.originalName + " » : votre version est enregistrée sous « " + newest.copyName +
           " ».";
}

}  // namespace cadrio
