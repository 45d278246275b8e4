#include "tests/convergence/generator.hpp"

#include "tests/convergence/verdict.hpp"

#include <array>
#include <filesystem>
#include <vector>

namespace cadrio::convergence {
namespace {

std::string parentOf(const std::string& path) { return std::filesystem::path(path).parent_path().string(); }
std::string join(const std::string& folder, const std::string& name) { return folder.empty() ? name : folder + "/" + name; }

// Scratch names of the editors a user of the folder may run: swap files,
// backups, lock files, the desktop's temporaries.
constexpr std::array<const char*, 8> kScratch{".{}.swp", "{}~", ".#{}", "#{}#", ".goutputstream-{}", "{}.kate-swp",
                                              ".~lock.{}#", "~${}"};

}  // namespace

std::int64_t Generator::uniform(std::int64_t low, std::int64_t high) {
    return std::uniform_int_distribution<std::int64_t>(low, high)(random_);
}

// Mostly small files, some medium, a few large enough for a multipart upload.
std::int64_t Generator::size() {
    const auto draw = uniform(0, 99);
    if (draw < 8) return 0;
    if (draw < 60) return uniform(1, 4096);
    if (draw < 88) return uniform(4097, 256 * 1024);
    if (draw < 97) return uniform(256 * 1024, 2 * 1024 * 1024);
    return uniform(2 * 1024 * 1024, 20 * 1024 * 1024);
}

std::string Generator::fresh(const char* prefix, const char* extension) {
    return prefix + std::to_string(++names_) + extension;
}

std::string Generator::pick(const Tree& tree, bool folders, bool allowRoot) {
    std::vector<std::string> candidates;
    if (folders && allowRoot) candidates.emplace_back();
    for (const auto& [path, node] : tree) {
        if (node.folder == folders && comparable(path)) candidates.push_back(path);
    }
    if (candidates.empty()) return {};
    return candidates[static_cast<std::size_t>(uniform(0, static_cast<std::int64_t>(candidates.size()) - 1))];
}

Op Generator::next(const Tree& mounted, const Tree& drive, const std::set<std::string>& locked) {
    const auto draw = uniform(0, 99);
    if (draw < 55) return local(mounted);
    if (draw < 82) return remote(drive, locked);
    if (draw < 92 && (settings_.faults || settings_.hostKills)) return fault();
    return Op{OpKind::pause, "", "", 0, 0, uniform(100, 1500)};
}

Op Generator::local(const Tree& mounted) {
    static constexpr std::array<std::pair<OpKind, int>, 12> kWeights{{
        {OpKind::localCreate, 14}, {OpKind::localAppend, 7}, {OpKind::localOverwrite, 6}, {OpKind::localTruncate, 4},
        {OpKind::localSafeSave, 7}, {OpKind::localBackupSave, 4}, {OpKind::localRename, 5}, {OpKind::localMove, 4},
        {OpKind::localMkdir, 5}, {OpKind::localDelete, 4}, {OpKind::localRemoveTree, 1}, {OpKind::localScratch, 4},
    }};
    int total = 0;
    for (const auto& [kind, weight] : kWeights) total += weight;
    auto draw = uniform(0, total - 1);
    OpKind kind = OpKind::localCreate;
    for (const auto& [candidate, weight] : kWeights) {
        if (draw < weight) {
            kind = candidate;
            break;
        }
        draw -= weight;
    }
    Op op{kind, "", "", size(), static_cast<std::uint64_t>(uniform(1, 1'000'000'000)), uniform(0, 1 << 30)};
    const std::string file = pick(mounted, false, false);
    const std::string folder = pick(mounted, true, true);
    switch (kind) {
    case OpKind::localCreate:
        op.path = join(folder, fresh("f", ".txt"));
        return op;
    case OpKind::localMkdir:
        op.path = join(folder, fresh("d", ""));
        if (uniform(0, 2) == 0) op.path = join(op.path, fresh("d", ""));
        return op;
    case OpKind::localScratch: {
        std::string name = kScratch[static_cast<std::size_t>(uniform(0, kScratch.size() - 1))];
        name.replace(name.find("{}"), 2, fresh("s", ".txt"));
        op.path = join(folder, name);
        op.size = uniform(0, 4096);
        return op;
    }
    case OpKind::localRemoveTree:
        op.path = pick(mounted, true, false);
        if (op.path.empty()) return Op{OpKind::pause, "", "", 0, 0, 200};
        return op;
    case OpKind::localTruncate:
        op.size = uniform(0, 8192);
        break;
    case OpKind::localMove:
        op.target = join(folder, fresh("m", ".txt"));
        break;
    default:
        break;
    }
    if (file.empty()) {
        op.kind = OpKind::localCreate;
        op.path = join(folder, fresh("f", ".txt"));
        return op;
    }
    op.path = file;
    if (kind == OpKind::localRename) op.target = join(parentOf(file), fresh("n", ".txt"));
    if (kind == OpKind::localSafeSave) {
        op.target = join(parentOf(file), uniform(0, 1) == 0 ? ".goutputstream-" + std::to_string(++names_)
                                                            : fresh("t", ".tmp"));
    }
    return op;
}

Op Generator::remote(const Tree& drive, const std::set<std::string>& locked) {
    const auto draw = uniform(0, 99);
    const std::uint64_t seed = static_cast<std::uint64_t>(uniform(1, 1'000'000'000));
    const std::string folder = pick(drive, true, true);
    const std::string file = pick(drive, false, false);
    if (draw < 25 || file.empty()) return Op{OpKind::remoteCreate, join(folder, fresh("r", ".dat")), "", size(), seed, 0};
    if (draw < 32) return Op{OpKind::remoteMkdir, join(folder, fresh("e", "")), "", 0, 0, 0};
    if (draw < 50) return Op{OpKind::remoteReplace, file, "", size(), seed, 0};
    if (draw < 62) return Op{OpKind::remoteReplaceOpen, file, "", uniform(1, 64 * 1024), seed, 0};
    if (draw < 70) return Op{OpKind::remoteRename, file, join(parentOf(file), fresh("q", ".dat")), 0, 0, 0};
    if (draw < 76) return Op{OpKind::remoteMove, file, join(folder, std::filesystem::path(file).filename().string()), 0, 0, 0};
    if (draw < 84) {
        const std::string target = uniform(0, 3) == 0 ? pick(drive, true, false) : file;
        return Op{OpKind::remoteTrash, target.empty() ? file : target, "", 0, 0, 0};
    }
    if (draw < 87) return Op{OpKind::remoteArchive, file, "", 0, 0, 0};
    if (!locked.empty() && draw < 95) {
        auto it = locked.begin();
        std::advance(it, uniform(0, static_cast<std::int64_t>(locked.size()) - 1));
        return Op{OpKind::remoteUnlock, *it, "", 0, 0, 0};
    }
    return Op{OpKind::remoteLock, file, "", 0, 0, 0};
}

Op Generator::fault() {
    const auto draw = uniform(0, 99);
    if (settings_.hostKills && (draw < 10 || !settings_.faults)) return Op{OpKind::killHost, "", "", 0, 0, 0};
    if (draw < 18) return Op{OpKind::offline, "", "", 0, 0, uniform(1000, 5000)};
    // Single faults come from the steady rules of the run (the kept
    // replays still play the bursts they were found with).
    return Op{OpKind::pause, "", "", 0, 0, uniform(100, 1500)};
}

}  // namespace cadrio::convergence
