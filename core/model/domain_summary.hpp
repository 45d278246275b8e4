#pragma once
// What the plug-in reports to the tray application: the files the server has
// archived (withdrawn from the drive folder) and the latest conflicts (where
// the user's version was kept under another name). The plug-in keeps one in
// its item store and saves it to the shared container; the application loads
// that file and shows the two labels.
//
// The file is one compact JSON object:
//   {"archivedFileIDs":[4012],"conflicts":[{"originalName":"Rapport.pdf",
//    "copyName":"Rapport (conflit Linux 2024-03-05 14h07).pdf","date":731336820.0}]}
// with "date" in seconds since 2001-01-01 UTC. On reading, a missing or null
// top-level key counts as empty; a conflict lacking one of its three keys
// makes the whole file unreadable.
//
// A plain value: each process owns its copy; not safe for concurrent
// mutation. Between processes the atomic replace on save is the only
// coordination: a reader sees the previous or the new complete file.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/model/date.hpp"
#include "core/model/drive_records.hpp"

namespace cadrio {

struct DomainSummary {
    struct Conflict {
        std::string originalName;  // the file's name on the drive
        std::string copyName;      // where the user's version was kept
        Date date{};               // when the conflict was met

        bool operator==(const Conflict&) const = default;
    };

    /// Conflicts kept; older ones are dropped.
    static constexpr std::size_t kMaxConflicts = 10;
    /// Larger summary files are not read (they cannot be ours).
    static constexpr std::size_t kMaxFileBytes = 16 * 1024 * 1024;

    std::set<std::int64_t> archivedFileIDs;  // server ids of archived files
    std::vector<Conflict> conflicts;         // newest first, at most kMaxConflicts

    bool operator==(const DomainSummary&) const = default;

    /// Puts the conflict first and drops the oldest beyond kMaxConflicts.
    void recordConflict(std::string originalName, std::string copyName, Date date);

    /// Updates the archived ids from a batch of records: a file that is not
    /// trashed and not in standard storage is archived, any other file is
    /// not; ids absent from the batch keep their state.
    void apply(std::span<const DriveFile> files);

    std::size_t archivedFileCount() const { return archivedFileIDs.size(); }

    /// "1 fichier archivé, disponible depuis le web." or "n fichiers
    /// archivés, disponibles depuis le web."; absent with no archived file.
    std::optional<std::string> archivedLabel() const;

    /// "Conflit sur « original » : votre version est enregistrée sous
    /// « copie »." for the newest conflict; absent with none.
    std::optional<std::string> lastConflictLabel() const;

    /// The compact JSON form. Names that are not valid UTF-8 (possible for
    /// local file names) are written with U+FFFD in place of the bad bytes
    /// rather than losing the whole summary.
    std::string encoded() const;

    /// Reads the JSON form; absent for anything that is not a summary,
    /// including more than kMaxFileBytes or containers nested too deep. Never
    /// throws, whatever the bytes. Conflicts beyond kMaxConflicts are dropped.
    static std::optional<DomainSummary> decoded(std::string_view bytes);

    /// The summary saved at `url`; absent when there is no location, or the
    /// file is missing, unreadable, too large or not a summary. Never throws.
    static std::optional<DomainSummary> load(const std::optional<std::filesystem::path>& url);

    /// Replaces the file at `url` atomically; nothing without a location.
    /// Failures are not reported (the summary is advisory): the previous
    /// file, if any, stays in place.
    void save(const std::optional<std::filesystem::path>& url) const;
};

}  // namespace cadrio
