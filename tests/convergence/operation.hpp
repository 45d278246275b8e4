#pragma once
// One step of a convergence run: something the user does in the mounted
// folder, something another device does on the drive, or something the
// network or the machine does to the client. Steps name their targets by
// path, so that a recorded run can be played again (whole or shortened) on a
// fresh system; a step whose target is gone by then is skipped.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cadrio::convergence {

enum class OpKind {
    // In the mounted folder.
    localCreate,      // path, size, seed: a new file written in one go
    localAppend,      // path, size, seed
    localOverwrite,   // path, size, seed: bytes rewritten in place at `arg` % size
    localTruncate,    // path, size: cut or extended to `size`
    localSafeSave,    // path, size, seed, target = temporary name: write it, rename over
    localBackupSave,  // path, size, seed: original to "name~", new file, backup removed
    localRename,      // path -> target (same folder)
    localMove,        // path -> target (another folder)
    localMkdir,       // path, all missing parents too
    localDelete,      // path (a file)
    localRemoveTree,  // path (a folder, with everything below)
    localScratch,     // path: an editor's scratch file, never sent
    // On the drive, as another device.
    remoteCreate,       // path, size, seed
    remoteMkdir,        // path
    remoteReplace,      // path, size, seed
    remoteReplaceOpen,  // path, size, seed: replaced while held open for writing here
    remoteRename,       // path -> target
    remoteMove,         // path -> target folder + name
    remoteTrash,        // path (file or folder)
    remoteArchive,      // path: out of standard storage
    remoteLock,         // path
    remoteUnlock,       // path
    // Faults.
    faultRule,    // target = kind (status, drop, truncate, delay), size = count, arg = delay ms
    offline,      // arg = milliseconds with every request refused
    killHost,     // SIGKILL of the host, then its recovery is awaited
    pause,        // arg = milliseconds the user does nothing
};

struct Op {
    OpKind kind = OpKind::pause;
    std::string path;
    std::string target;
    std::int64_t size = 0;
    std::uint64_t seed = 0;
    std::int64_t arg = 0;
};

bool isLocal(OpKind kind);
bool isRemote(OpKind kind);

/// One line, tab-separated, that parseOp reads back.
std::string formatOp(const Op& op);
/// nullopt for a line formatOp did not write.
std::optional<Op> parseOp(const std::string& line);

}  // namespace cadrio::convergence
