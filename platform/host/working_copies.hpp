#pragma once
// The private copies of files being changed in the mounted folder, kept
// beside the content cache (same file system, so every hand-over is a
// rename, never a copy):
//
//   <directory>/staged/<inode>     the working copy that writes go to;
//   <directory>/uploading/<inode>  the bytes being sent to the drive.
//
// A file with local contents reads from its working copy, else from the
// bytes being sent, else from the content cache. The first opening for
// writing makes the working copy: from the given source (the cached
// contents, or the bytes being sent) or empty (O_TRUNC, a new file), never
// by fetching. The uploader freezes a file only while nobody writes it: the
// working copy becomes the bytes being sent, so that a write can never
// change bytes under an upload; a writer arriving afterwards gets a new
// working copy made from them. After the drive took the bytes, they become
// the cached contents at the version it answered, and a working copy made
// from them that no writer changed goes with them; after a failure they go
// back to being the working copy unless a newer one exists.
//
// A crash leaves at most both files of an inode: recover() keeps the
// working copy (it is the newer) or turns the bytes being sent back into it.
// The bytes of a creation that may have reached the drive stay where they
// are, beside a newer working copy or alone, as keepSent() leaves them:
// they are what the drive may hold, and the creation goes again with them
// so that it is found.
//
// Threads: every member may be called from any thread. mutex_ guards the
// writer counts and the sets of inodes; it is held while one inode's files are
// renamed (a rename is one system call) but not while a working copy is
// filled from its source, during which the inode counts as being written.

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "core/support/thread_annotations.hpp"
#include "platform/fileprovider/byte_strings.hpp"
#include "platform/host/content_cache.hpp"
#include "platform/host/replica.hpp"

namespace cadrio::host {

class WorkingCopies {
public:
    /// Creates the two folders (mode 0700) under `directory`.
    /// Throws std::filesystem::filesystem_error when it cannot.
    explicit WorkingCopies(std::filesystem::path directory);
    WorkingCopies(const WorkingCopies&) = delete;
    WorkingCopies& operator=(const WorkingCopies&) = delete;

    /// At start-up: resolves what a crash left (see above). `sentMayHaveLanded`
    /// names the inodes whose creation may be on the drive already.
    void recover(const std::unordered_set<Inode>& sentMayHaveLanded = {});

    /// The file that holds the local contents of `inode`, if it has any.
    std::optional<std::filesystem::path> localContents(Inode inode) const;

    /// One more writer of `inode`; returns the working copy, made first when
    /// missing: a copy of the bytes being sent when there are some, else of
    /// `source`, else empty. `truncate` makes it empty in every case.
    /// Throws std::filesystem::filesystem_error when it cannot be made (the
    /// writer is then not counted).
    std::filesystem::path beginWriting(Inode inode, const std::optional<std::filesystem::path>& source,
                                       bool truncate);
    /// One writer fewer; true when it was the last. `changed` says whether
    /// this writer changed the bytes (unknown counts as changed).
    bool endWriting(Inode inode, bool changed = true);
    bool isBeingWritten(Inode inode) const;

    /// For the uploader: the bytes to send for `inode`, the working copy
    /// becoming them when nobody writes it. Absent while it is written, or
    /// when the inode has no local contents.
    std::optional<std::filesystem::path> freeze(Inode inode);
    /// The drive holds the frozen bytes at `contentVersion`: they become the
    /// cached contents (ContentCache::adopt).
    void uploaded(Inode inode, ContentCache& cache, const fileprovider::ByteString& contentVersion);
    /// The sending failed: the frozen bytes become the working copy again,
    /// unless a newer one was made meanwhile.
    void unfreeze(Inode inode);
    /// The sending failed but may have reached the drive: the frozen bytes
    /// stay as they are (reads and new writers still find them) to be sent
    /// again by sentAgain(), beside a newer working copy if there is one.
    void keepSent(Inode inode);
    /// The bytes kept by keepSent(), frozen again; else as freeze().
    std::optional<std::filesystem::path> sentAgain(Inode inode);
    /// The frozen bytes were kept elsewhere (a conflict copy): they go, a
    /// newer working copy stays. True when there is one (or a writer at it);
    /// a copy of those bytes that no writer changed is not newer and goes.
    bool dropSent(Inode inode);
    /// The item is gone: both files go.
    void discard(Inode inode);
    /// `to` took over the place of `from`, whose creation may have reached
    /// the drive: the bytes kept for it (keepSent) go to `to`, so that the
    /// creation goes again with them and finds what it left. Nothing moves
    /// while those bytes are being sent or when `to` has kept bytes itself.
    void handOverSent(Inode from, Inode to);
    /// `from`'s local contents become `to`'s (an inode taking over another
    /// item's place keeps its own files; this is for the opposite case).
    void move(Inode from, Inode to);

private:
    std::filesystem::path stagedPath(Inode inode) const;
    std::filesystem::path uploadingPath(Inode inode) const;
    /// Fills the working copy of `inode` from `sourceFd` (or empty when -1)
    /// under a temporary name, then renames it into place.
    void makeWorkingCopy(Inode inode, int sourceFd, bool fromSent) CADRIO_EXCLUDES(mutex_);
    /// Removes a working copy that still holds the bytes sent, once nobody
    /// writes it: they are on the drive now, or kept elsewhere.
    void dropUntouchedLocked(Inode inode) CADRIO_REQUIRES(mutex_);
    void endMaking(Inode inode, bool counted) CADRIO_EXCLUDES(mutex_);

    const std::filesystem::path staged_;
    const std::filesystem::path uploading_;

    mutable Mutex mutex_;
    std::unordered_map<Inode, int> writers_ CADRIO_GUARDED_BY(mutex_);
    std::unordered_set<Inode> frozen_ CADRIO_GUARDED_BY(mutex_);
    /// Every inode that may have a file here (never one that has one and is
    /// missing), so that the attributes of the many files without local
    /// contents cost no look-up on disk.
    std::unordered_set<Inode> maybeLocal_ CADRIO_GUARDED_BY(mutex_);
    /// Inodes whose working copy is being filled; a second writer waits on
    /// `made_` instead of filling another.
    std::unordered_set<Inode> making_ CADRIO_GUARDED_BY(mutex_);
    /// Inodes whose working copy was made from the bytes being sent and that
    /// no writer has changed since. Left in place after the upload, such a
    /// copy would hide every later version from the drive, and nothing
    /// would ever send it.
    std::unordered_set<Inode> untouched_ CADRIO_GUARDED_BY(mutex_);
    std::condition_variable_any made_;
};

}  // namespace cadrio::host
