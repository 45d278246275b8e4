#pragma once
// Replacing a whole file so that readers in other processes see either the
// previous content or the new one, never a mix, and a crash or a full disk
// never leaves a truncated file behind; and reading such a file back whole.
//
// Temporaries: each write goes through a file named "." + the target's name
// (its first 200 bytes) + ".cadrio-tmp-" + six random letters or digits, in
// the target's folder, mode 0600 while it is written. Its writer holds an
// exclusive flock(2) on it from creation until it is renamed or removed, so
// a temporary nobody holds a lock on belongs to a writer that died: those
// are "stale" and are swept. The lock is the only test, no age is involved:
// the kernel drops it when its holder dies, and never while it lives.

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace cadrio {

/// What writeFileAtomically does when the target exists already.
enum class ExistingTarget {
    replace,  ///< the new content takes its place
    keep,     ///< nothing is written: std::system_error with EEXIST
};

/// Writes `bytes` to `target` atomically: stale temporaries of `target` are
/// swept, a temporary file is created in the target's folder, filled,
/// flushed to disk, given `permissions`, then renamed over the target (with
/// ExistingTarget::keep: moved there only when no file has that name, in
/// one step); the folder is flushed last.
///
/// On failure the temporary file is removed, the previous target (if any) is
/// left as it was, and a std::system_error carrying the errno is thrown. Once
/// the rename has happened the call succeeds: a failure to flush the folder
/// afterwards is not reported, since the new content is already in place and
/// the caller could not restore the old one anyway.
///
/// A symbolic link at `target` is replaced by the file, not followed.
/// Threads: any number of calls may run at once, also on the same target and
/// from several processes; each caller's content arrives whole and the last
/// rename wins (with keep: exactly one caller creates the file).
void writeFileAtomically(const std::filesystem::path& target, std::string_view bytes,
                         std::filesystem::perms permissions = std::filesystem::perms::owner_read |
                                                              std::filesystem::perms::owner_write,
                         ExistingTarget existing = ExistingTarget::replace);

/// Removes the stale temporaries of `target` (see above), also those named
/// the way earlier releases named them (".tmp-" in place of the marker,
/// never locked). Returns how many were removed. Failures are ignored: what
/// cannot be removed now is tried again at the next sweep. Cheap enough to
/// run whenever a store opens: one scan of the target's folder.
std::size_t sweepStaleTemporaries(const std::filesystem::path& target);

/// sweepStaleTemporaries for every target in `folder`.
std::size_t sweepStaleTemporariesIn(const std::filesystem::path& folder);

/// The whole content of the regular file at `path` (symbolic links
/// followed). Throws std::system_error: the errno of a failed open or read,
/// EISDIR or EINVAL for something that is not a regular file, EFBIG when the
/// file holds more than `maxBytes` (checked before anything is read, and
/// again while reading in case the file grows).
std::string readWholeFile(const std::filesystem::path& path, std::size_t maxBytes);

}  // namespace cadrio
