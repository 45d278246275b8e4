#pragma once
// The item store's file: one compact UTF-8 JSON object
//
//   {"cursor":1834,
//    "folders":[{"id":7,"parentFolderID":3,"name":"Photos","modifiedAt":1700000000}],
//    "files":[{"id":42,"parentFolderID":7,"name":"a.jpg","storageKey":"k","size":12,
//              "contentHash":"9f86","modifiedAt":1700000000.5,"thumbnailPath":"t",
//              "uploadTimestamp":1700000000}],
//    "withdrawn":[{"id":43,"name":"b.txt","storageKey":"k2","size":3,"modifiedAt":1700000001}]}
//
// Optional fields ("parentFolderID", "contentHash", "thumbnailPath",
// "uploadTimestamp") are left out when absent. Dates are seconds since
// 1970 as doubles, written in the shortest form that reads back to the same
// double. Trash state and storage class are not kept: only non-trashed
// folders and non-trashed standard files are ever written, and they read
// back as such. "withdrawn" holds, in the files' form and oldest first, the
// files the drive withdrew lately (trashed or archived by another device),
// which read back as trashed: a creation or a change whose answer was lost
// is recognised among them after a restart too. Files written before it
// existed have no such key and read back with none.
//
// Readers take the keys in any order and skip unknown ones; a missing
// required key, a value of the wrong type or bytes that are not JSON make
// the whole file unreadable (the store then starts empty).
//
// Plain functions and a single-use encoder; no shared state.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/model/drive_records.hpp"

namespace cadrio {

/// What a snapshot file holds, as records.
struct ItemSnapshot {
    std::int64_t cursor = 0;
    std::vector<DriveFolder> folders;
    std::vector<DriveFile> files;
    std::vector<DriveFile> withdrawn;

    bool operator==(const ItemSnapshot&) const = default;
};

/// Builds the file's bytes record by record, so that the store can write
/// from its maps without copying them. Add every folder before the first
/// file, and every file before the first withdrawn one (anything out of
/// that order throws std::logic_error).
class SnapshotEncoder {
public:
    /// `expectedBytes` is reserved at once (see rowSize): a snapshot of
    /// tens of megabytes must not be copied over and over while it grows.
    SnapshotEncoder(std::int64_t cursor, std::size_t expectedBytes);

    /// About the bytes a row takes (exact unless texts need escaping).
    static std::size_t rowSize(const DriveFolder& folder);
    static std::size_t rowSize(const DriveFile& file);

    void addFolder(const DriveFolder& folder);
    void addFile(const DriveFile& file);
    void addWithdrawn(const DriveFile& file);
    /// The complete document; the encoder is spent afterwards.
    std::string finish();

private:
    enum class Section { folders, files, withdrawn };
    void beginRow(std::int64_t id);
    void writeFileRow(const DriveFile& file);
    /// Closes the arrays before `section` and opens it; throws
    /// std::logic_error when the encoder is past it already.
    void enter(Section section);

    std::string out_;
    Section section_ = Section::folders;
    bool firstEntry_ = true;
};

std::string encodeSnapshot(const ItemSnapshot& snapshot);

/// The snapshot in `bytes`; absent for anything that is not one. Never
/// throws for bad input (std::bad_alloc still propagates).
std::optional<ItemSnapshot> decodeSnapshot(std::string_view bytes);

}  // namespace cadrio
