// The host's replica database as found on disk after a crash, a full disk
// or another program's writes. Whatever the bytes, opening gives a replica
// (the file's, or a new one after moving it aside) or ReplicaError; every
// read and the next local change then give values or ReplicaError, never
// anything else. The values themselves are not held to each other: a file
// can pass SQLite's quick check with indexes that disagree with their
// tables, and then listings and lookups disagree too.

#include <deque>

#include "fuzz/fuzz_input.hpp"
#include "platform/host/replica.hpp"

using namespace cadrio;
using namespace cadrio::host;
using fuzz::require;

namespace {

// Deep or wide enough for any seed, small enough to keep inputs fast.
constexpr std::size_t kMaxEntriesVisited = 256;

void walkTree(const Replica& replica) {
    std::deque<Inode> folders{kFuseRootInode};
    std::size_t visited = 0;
    while (!folders.empty() && visited < kMaxEntriesVisited) {
        const Inode folder = folders.front();
        folders.pop_front();
        for (const ReplicaEntry& entry : replica.children(folder, 0, kMaxEntriesVisited)) {
            ++visited;
            (void)replica.entry(entry.inode);
            (void)replica.child(entry.parentInode, entry.shownName);
            if (entry.isFolder && entry.inode != folder) folders.push_back(entry.inode);
        }
    }
}

void exercise(Replica& replica) {
    (void)replica.entry(kFuseRootInode);
    walkTree(replica);
    (void)replica.anchor();
    for (const PendingChange& change : replica.pendingChanges()) {
        require(replica.pendingChange(change.inode) == change);
        (void)replica.beginSending(change.inode);
    }
    (void)replica.materialisedByAge();
    replica.createLocal(kFuseRootInode, "fuzz-created", false, {}, true);
    (void)replica.child(kFuseRootInode, "fuzz-created");
}

void removeDatabase(const std::filesystem::path& file) {
    for (const char* suffix : {"", "-wal", "-shm", ".damaged", ".damaged-wal", ".damaged-shm"}) {
        std::filesystem::remove(file.string() + suffix);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quietLogs();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path file = fuzz::scratchFolder() / "replica.sqlite";
    removeDatabase(file);
    fuzz::writeFile(file, fuzz::text(data, size));
    try {
        const std::unique_ptr<Replica> replica = Replica::open(file);
        exercise(*replica);
    } catch (const ReplicaError&) {
    }
    return 0;
}
