#pragma once
// A folder tree as the verdict compares it: relative path ("a/b.txt") to
// what is there. The drive's tree is built from the admin description, the
// mounted one by walking the folder and hashing every file (which fetches
// what was never downloaded).

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

#include <nlohmann/json.hpp>

namespace cadrio::convergence {

struct Node {
    bool folder = false;
    std::int64_t size = 0;
    std::string hash;  // SHA-256, lower-case hexadecimal; empty for folders
    std::int64_t id = 0;  // drive id; 0 in a mounted tree
    bool operator==(const Node& other) const {
        return folder == other.folder && size == other.size && hash == other.hash;
    }
};

using Tree = std::map<std::string, Node>;

/// The live items of `drive` (the admin description) in standard storage;
/// an item whose folder chain is broken or trashed is left out.
Tree driveTree(const nlohmann::json& drive);

/// Walks `root`; throws std::filesystem::filesystem_error when a file
/// cannot be listed or read.
Tree mountedTree(const std::filesystem::path& root);

/// The name the plug-in gives the copy of a conflicting local edit.
bool isConflictCopy(const std::string& path);
/// Names an editor or the desktop keeps beside a document and that must
/// never reach the drive (the ones the harness writes).
bool isScratchName(const std::string& name);

/// `path` without the tags (" (d:17)", " (f:20)") the host adds to the
/// shown name of an item whose name another item holds too, until the two
/// are told apart or merged.
std::string withoutCollisionTags(const std::string& path);

/// True when `path` is `other`, below it, or above it.
bool overlaps(const std::string& path, const std::string& other);

}  // namespace cadrio::convergence

namespace cadrio::convergence {
/// Names, kinds and sizes under `root`, without reading any content; what
/// cannot be listed (a host being restarted) is left out.
Tree listedTree(const std::filesystem::path& root);
}  // namespace cadrio::convergence
