#include "tests/convergence/verdict.hpp"

#include <filesystem>
#include <map>
#include <set>
#include <tuple>

namespace cadrio::convergence {
namespace {

std::string baseName(const std::string& path) { return std::filesystem::path(path).filename().string(); }

std::string describe(const Tree& tree, const std::string& path) {
    const auto it = tree.find(path);
    if (it == tree.end()) return "absent";
    if (it->second.folder) return "folder";
    return std::to_string(it->second.size) + " B " + it->second.hash.substr(0, 12);
}

/// Bytes the drive keeps in a file out of the trash (archived ones
/// included), whatever the names became.
bool holdsOutOfTrash(const nlohmann::json& driveJson, const std::string& hash) {
    for (const auto& file : driveJson.at("files")) {
        if (file.value("to_delete", 0) == 0 && file.value("content_hash", "") == hash) return true;
    }
    return false;
}

/// Kept as a conflict copy, even one a later deletion took to the trash
/// with its folder: the bytes were kept, and whoever deleted them meant to.
bool inConflictCopy(const nlohmann::json& driveJson, const std::string& hash) {
    for (const auto& file : driveJson.at("files")) {
        if (isConflictCopy(file.value("file_name", "")) && file.value("content_hash", "") == hash) return true;
    }
    return false;
}

void checkExpectations(const ExpectedState& expected, const Tree& drive, const nlohmann::json& driveJson,
                       Verdict& verdict) {
    for (const Expectation& e : expected.expectations()) {
        if (e.overridden || isScratchName(baseName(e.path))) continue;
        const auto it = drive.find(e.path);
        if (it != drive.end() && !it->second.folder && it->second.hash == e.hash) continue;
        if (e.origin == Origin::local && inConflictCopy(driveJson, e.hash)) continue;
        if (e.relaxed && holdsOutOfTrash(driveJson, e.hash)) continue;
        if (e.mayVanish && it == drive.end()) continue;
        const bool local = e.origin == Origin::local;
        (local ? verdict.lostWrites : verdict.lostRemoteChanges) += 1;
        verdict.problems.push_back(std::string(local ? "lost local write" : "lost remote change") + " of step " +
                                   std::to_string(e.step) + ": " + e.path + " should hold " + e.hash.substr(0, 12) +
                                   ", the drive has " + describe(drive, e.path));
    }
}

void checkConflictCopies(const ExpectedState& expected, const Tree& drive, Verdict& verdict) {
    for (const auto& [path, node] : drive) {
        if (!isConflictCopy(path) || node.folder) continue;
        verdict.conflictCopies.push_back(path + " (" + std::to_string(node.size) + " B)");
        if (!expected.localHashes().contains(node.hash)) {
            verdict.problems.push_back("conflict copy " + path + " holds bytes no local write produced");
        }
    }
}

void checkUploads(const nlohmann::json& driveJson, const std::set<std::int64_t>& remoteIds, Verdict& verdict) {
    std::map<std::pair<std::string, std::string>, int> records;
    for (const auto& file : driveJson.at("files")) {
        const std::string name = file.value("file_name", "");
        const auto live = file.value("to_delete", 0) == 0;
        if (live && isScratchName(name)) {
            ++verdict.scratchUploads;
            verdict.problems.push_back("scratch file on the drive: " + name);
        }
        if (remoteIds.contains(file.value("id", std::int64_t{0}))) continue;
        if (++records[{name, file.value("content_hash", "")}] == 2) {
            ++verdict.duplicateUploads;
            verdict.problems.push_back("uploaded twice: " + name);
        }
    }
}

}  // namespace

bool comparable(const std::string& path) { return !isConflictCopy(path) && !isScratchName(baseName(path)); }

namespace {

/// The tree by plain names: two items of one name in a folder (the host
/// tags one of them) count under that name, in no particular order.
std::map<std::string, std::multiset<std::tuple<bool, std::int64_t, std::string>>> byPlainName(const Tree& tree) {
    std::map<std::string, std::multiset<std::tuple<bool, std::int64_t, std::string>>> plain;
    for (const auto& [path, node] : tree) {
        if (comparable(path)) plain[withoutCollisionTags(path)].insert({node.folder, node.size, node.hash});
    }
    return plain;
}

}  // namespace

std::vector<std::string> differences(const Tree& mounted, const Tree& drive) {
    std::vector<std::string> paths;
    const auto here = byPlainName(mounted);
    const auto there = byPlainName(drive);
    for (const auto& [path, nodes] : here) {
        const auto it = there.find(path);
        if (it == there.end() || it->second != nodes) paths.push_back(path);
    }
    for (const auto& [path, nodes] : there) {
        if (!here.contains(path)) paths.push_back(path);
    }
    return paths;
}

Verdict judge(const ExpectedState& expected, const Tree& mounted, const Tree& drive, const nlohmann::json& driveJson,
              const std::set<std::int64_t>& remoteIds) {
    Verdict verdict;
    for (const std::string& path : differences(mounted, drive)) {
        ++verdict.divergentFiles;
        verdict.problems.push_back("divergent " + path + ": mounted " + describe(mounted, path) + ", drive " +
                                   describe(drive, path));
    }
    checkExpectations(expected, drive, driveJson, verdict);
    checkConflictCopies(expected, drive, verdict);
    checkUploads(driveJson, remoteIds, verdict);
    return verdict;
}

}  // namespace cadrio::convergence
