// The writing handlers. Each changes the replica in one transaction before
// it answers (so that an acknowledged change survives a crash), writes go
// to the file's working copy, and the uploader is told once the item may be
// sent. Kernel notices are only posted, never sent from a handler.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <string_view>

#include "platform/host/errno_mapping.hpp"
#include "platform/host/fuse_context.hpp"
#include "platform/host/scratch_names.hpp"
#include "platform/host/host_logger.hpp"

namespace cadrio::host {
namespace {


FuseContext& contextOf(fuse_req_t req) {
    return *static_cast<FuseContext*>(fuse_req_userdata(req));
}

fileprovider::Date dateOf(const timespec& time) {
    return fileprovider::Date(std::chrono::duration_cast<fileprovider::Date::duration>(
        std::chrono::seconds(time.tv_sec) + std::chrono::nanoseconds(time.tv_nsec)));
}

/// 0 when `name` can be one entry of a folder here.
int checkName(std::string_view name) {
    if (name.empty() || name == "." || name == "..") return EINVAL;
    if (name.size() > 255) return ENAMETOOLONG;
    return 0;
}

/// Files with an editor's scratch name stay here; folders always go.
bool keptLocal(std::string_view name, bool isFolder) {
    return !isFolder && isScratchName(name);
}

/// Records the working copy's size and date in the replica; a file removed
/// while open has nothing left to record. The uploader hears of it at once:
/// close() returns after the flush but before the release, and whoever
/// waits for the domain to be stable right after must find it pending.
void recordContents(FuseContext& context, Inode inode, int fd) {
    if (!context.replica.entry(inode)) return;
    struct stat status {};
    if (::fstat(fd, &status) != 0) throw std::system_error(errno, std::generic_category(), "fstat");
    context.replica.recordContentChange(inode, status.st_size, dateOf(status.st_mtim));
    context.notifyChanged(inode);
}

/// The source a first writer's working copy is made from: none when the
/// file already has local contents or is truncated, else the cached
/// contents, fetched when missing. The cache entry stays held until the
/// working copy exists.
struct WritingSource {
    std::optional<std::filesystem::path> path;
    bool held = false;
    int error = 0;
};

WritingSource sourceFor(fuse_req_t req, FuseContext& context, const ReplicaEntry& file,
                        bool truncate) {
    if (truncate || context.copies.localContents(file.inode)) return {};
    context.cache.hold(file.inode);
    ContentFetcher::Result contents;
    try {
        contents = cachedContentsFor(req, context, file);
    } catch (...) {
        context.cache.release(file.inode);
        throw;
    }
    if (contents.error != 0) {
        context.cache.release(file.inode);
        return WritingSource{std::nullopt, false, contents.error};
    }
    return WritingSource{contents.path, true, 0};
}

/// A writer's handle on the working copy of `file`; counted as a writer.
std::unique_ptr<OpenFile> beginWriting(fuse_req_t req, FuseContext& context,
                                       const ReplicaEntry& file, bool truncate, int& error) {
    WritingSource source = sourceFor(req, context, file, truncate);
    if (source.error != 0) {
        error = source.error;
        return nullptr;
    }
    std::filesystem::path copy;
    try {
        copy = context.copies.beginWriting(file.inode, source.path, truncate);
    } catch (...) {
        if (source.held) context.cache.release(file.inode);
        throw;
    }
    if (source.held) context.cache.release(file.inode);
    auto handle = std::make_unique<OpenFile>();
    handle->inode = file.inode;
    handle->writer = true;
    handle->fd = ::open(copy.c_str(), O_RDWR | O_CLOEXEC);
    if (handle->fd < 0) {
        error = errno;
        closeOpenFile(context, handle.get());
        return nullptr;
    }
    context.forgetPageCache(file.inode);
    if (truncate) {
        handle->dirty = true;
        handle->written = true;
    }
    return handle;
}

void onCreate(fuse_req_t req, fuse_ino_t parent, const char* name, mode_t, fuse_file_info* fi) {
    answerRequest(req, "create", [&] {
        FuseContext& context = contextOf(req);
        if (const int error = checkName(name)) return error;
        if (const int error = context.ensureListed(parent)) return error;
        if (const std::optional<ReplicaEntry> existing = context.replica.child(parent, name)) {
            // Raced with another creation of the same name.
            if ((fi->flags & O_EXCL) != 0) return EEXIST;
            if (existing->isFolder) return EISDIR;
            return openForWriting(req, context, *existing, fi);
        }
        const ReplicaEntry file = context.replica.createLocal(
            parent, name, false, context.clock.wallNow(), !keptLocal(name, false));
        int error = 0;
        std::unique_ptr<OpenFile> handle = beginWriting(req, context, file, true, error);
        if (!handle) return error != 0 ? error : EIO;
        const fuse_entry_param param = context.entryParam(file);
        fi->keep_cache = 0;
        OpenFile* opened = handle.get();
        keepOpenFile(context, std::move(handle), fi);
        if (fuse_reply_create(req, &param, fi) != 0) closeOpenFile(context, opened);
        return 0;
    });
}

void onMknod(fuse_req_t req, fuse_ino_t parent, const char* name, mode_t mode, dev_t) {
    answerRequest(req, "mknod", [&] {
        FuseContext& context = contextOf(req);
        // Devices, pipes and sockets have no place on the drive.
        if (!S_ISREG(mode)) return EPERM;
        if (const int error = checkName(name)) return error;
        if (const int error = context.ensureListed(parent)) return error;
        if (context.replica.child(parent, name)) return EEXIST;
        const ReplicaEntry file = context.replica.createLocal(
            parent, name, false, context.clock.wallNow(), !keptLocal(name, false));
        context.copies.beginWriting(file.inode, std::nullopt, true);
        if (context.copies.endWriting(file.inode)) context.notifyChanged(file.inode);
        const fuse_entry_param param = context.entryParam(file);
        fuse_reply_entry(req, &param);
        return 0;
    });
}

void onMkdir(fuse_req_t req, fuse_ino_t parent, const char* name, mode_t) {
    answerRequest(req, "mkdir", [&] {
        FuseContext& context = contextOf(req);
        if (const int error = checkName(name)) return error;
        if (const int error = context.ensureListed(parent)) return error;
        if (context.replica.child(parent, name)) return EEXIST;
        const ReplicaEntry folder =
            context.replica.createLocal(parent, name, true, context.clock.wallNow(), true);
        context.notifyChanged(folder.inode);
        const fuse_entry_param param = context.entryParam(folder);
        fuse_reply_entry(req, &param);
        return 0;
    });
}

void onWrite(fuse_req_t req, fuse_ino_t, const char* buffer, size_t size, off_t offset,
             fuse_file_info* fi) {
    OpenFile& file = openFileOf(fi);
    if (!file.writer) {
        fuse_reply_err(req, EBADF);
        return;
    }
    const ssize_t written = ::pwrite(file.fd, buffer, size, offset);
    if (written < 0) {
        fuse_reply_err(req, errno);
        return;
    }
    file.dirty = true;
    file.written = true;
    fuse_reply_write(req, static_cast<size_t>(written));
}

void onFlush(fuse_req_t req, fuse_ino_t, fuse_file_info* fi) {
    answerRequest(req, "flush", [&] {
        OpenFile& file = openFileOf(fi);
        // Recorded at every close(), so that a host killed right after still
        // finds the change queued.
        if (file.writer && file.dirty.exchange(false))
            recordContents(contextOf(req), file.inode, file.fd);
        fuse_reply_err(req, 0);
        return 0;
    });
}

void onFsync(fuse_req_t req, fuse_ino_t, int datasync, fuse_file_info* fi) {
    answerRequest(req, "fsync", [&] {
        OpenFile& file = openFileOf(fi);
        if ((datasync != 0 ? ::fdatasync(file.fd) : ::fsync(file.fd)) != 0) return errno;
        if (file.writer && file.dirty.exchange(false))
            recordContents(contextOf(req), file.inode, file.fd);
        fuse_reply_err(req, 0);
        return 0;
    });
}

void onRelease(fuse_req_t req, fuse_ino_t, fuse_file_info* fi) {
    closeOpenFile(contextOf(req), &openFileOf(fi));
    fuse_reply_err(req, 0);
}

/// Truncates `file` without an open handle (truncate(2)).
int truncateByPath(fuse_req_t req, FuseContext& context, const ReplicaEntry& file, off_t size) {
    int error = 0;
    std::unique_ptr<OpenFile> handle = beginWriting(req, context, file, size == 0, error);
    if (!handle) return error != 0 ? error : EIO;
    const int result = ::ftruncate(handle->fd, size) == 0 ? 0 : errno;
    if (result == 0) {
        handle->dirty = true;
        handle->written = true;
        recordContents(context, file.inode, handle->fd);
        handle->dirty = false;
    }
    closeOpenFile(context, handle.release());
    return result;
}

/// Sets the dates of a file's working copy; a file without one keeps the
/// drive's dates (the drive takes no date alone).
int setTimes(FuseContext& context, const ReplicaEntry& file, const struct stat& attr, int toSet) {
    const std::optional<std::filesystem::path> local = context.copies.localContents(file.inode);
    if (!local) return 0;
    timespec times[2] = {{0, UTIME_OMIT}, {0, UTIME_OMIT}};
    if ((toSet & FUSE_SET_ATTR_ATIME_NOW) != 0)
        times[0].tv_nsec = UTIME_NOW;
    else if ((toSet & FUSE_SET_ATTR_ATIME) != 0)
        times[0] = attr.st_atim;
    if ((toSet & FUSE_SET_ATTR_MTIME_NOW) != 0)
        times[1].tv_nsec = UTIME_NOW;
    else if ((toSet & FUSE_SET_ATTR_MTIME) != 0)
        times[1] = attr.st_mtim;
    if (::utimensat(AT_FDCWD, local->c_str(), times, 0) != 0) return errno;
    if ((toSet & (FUSE_SET_ATTR_MTIME | FUSE_SET_ATTR_MTIME_NOW)) != 0) {
        struct stat status {};
        if (::stat(local->c_str(), &status) == 0) {
            context.replica.recordContentChange(file.inode, status.st_size, dateOf(status.st_mtim));
        }
    }
    return 0;
}

void onSetattr(fuse_req_t req, fuse_ino_t inode, struct stat* attr, int toSet, fuse_file_info* fi) {
    answerRequest(req, "setattr", [&] {
        FuseContext& context = contextOf(req);
        std::optional<ReplicaEntry> entry = context.entry(static_cast<Inode>(inode));
        if (!entry) return ENOENT;
        // Modes and owners are accepted and ignored: the drive keeps neither.
        if ((toSet & FUSE_SET_ATTR_SIZE) != 0) {
            if (entry->isFolder) return EISDIR;
            if (attr->st_size < 0) return EINVAL;
            OpenFile* handle = fi != nullptr && fi->fh != 0 ? &openFileOf(fi) : nullptr;
            if (handle != nullptr && handle->writer) {
                if (::ftruncate(handle->fd, attr->st_size) != 0) return errno;
                handle->dirty = true;
                handle->written = true;
            } else if (const int error = truncateByPath(req, context, *entry, attr->st_size)) {
                return error;
            }
        }
        if (!entry->isFolder &&
            (toSet & (FUSE_SET_ATTR_ATIME | FUSE_SET_ATTR_MTIME | FUSE_SET_ATTR_ATIME_NOW |
                      FUSE_SET_ATTR_MTIME_NOW)) != 0) {
            if (const int error = setTimes(context, *entry, *attr, toSet)) return error;
        }
        entry = context.entry(static_cast<Inode>(inode));
        if (!entry) return ENOENT;
        const struct stat attributes = context.attributes(*entry);
        fuse_reply_attr(req, &attributes, context.attrTimeoutSeconds);
        return 0;
    });
}

/// The local contents and cached bytes of an item that went.
void dropContents(FuseContext& context, Inode inode) {
    if (!context.copies.isBeingWritten(inode)) context.copies.discard(inode);
    context.cache.drop(inode);
    context.forgetPageCache(inode);
}

void onUnlink(fuse_req_t req, fuse_ino_t parent, const char* name) {
    answerRequest(req, "unlink", [&] {
        FuseContext& context = contextOf(req);
        const std::optional<ReplicaEntry> child = context.replica.child(parent, name);
        if (!child) return ENOENT;
        if (child->isFolder) return EISDIR;
        context.replica.removeLocal(child->inode);
        dropContents(context, child->inode);
        context.notifyChanged(child->inode);
        fuse_reply_err(req, 0);
        return 0;
    });
}

void onRmdir(fuse_req_t req, fuse_ino_t parent, const char* name) {
    answerRequest(req, "rmdir", [&] {
        FuseContext& context = contextOf(req);
        const std::optional<ReplicaEntry> child = context.replica.child(parent, name);
        if (!child) return ENOENT;
        if (!child->isFolder) return ENOTDIR;
        // A folder never listed may hold items on the drive.
        if (const int error = context.ensureListed(child->inode)) return error;
        if (!context.replica.children(child->inode, 0, 1).empty()) return ENOTEMPTY;
        context.replica.removeLocal(child->inode);
        context.notifyChanged(child->inode);
        fuse_reply_err(req, 0);
        return 0;
    });
}

/// What POSIX says of replacing `target` by `source`; 0 when allowed.
int checkReplacement(FuseContext& context, const ReplicaEntry& source, const ReplicaEntry& target) {
    if (source.isFolder && !target.isFolder) return ENOTDIR;
    if (!source.isFolder && target.isFolder) return EISDIR;
    if (target.isFolder) {
        if (const int error = context.ensureListed(target.inode)) return error;
        if (!context.replica.children(target.inode, 0, 1).empty()) return ENOTEMPTY;
    }
    return 0;
}

void onRename(fuse_req_t req, fuse_ino_t parent, const char* name, fuse_ino_t newParent,
              const char* newName, unsigned flags) {
    answerRequest(req, "rename", [&] {
        FuseContext& context = contextOf(req);
        if ((flags & ~static_cast<unsigned>(RENAME_NOREPLACE)) != 0) return EINVAL;
        if (const int error = checkName(newName)) return error;
        const std::optional<ReplicaEntry> source = context.replica.child(parent, name);
        if (!source) return ENOENT;
        if (const int error = context.ensureListed(newParent)) return error;
        const std::optional<ReplicaEntry> target = context.replica.child(newParent, newName);
        if (target) {
            if (target->inode == source->inode) {
                fuse_reply_err(req, 0);
                return 0;
            }
            if ((flags & RENAME_NOREPLACE) != 0) return EEXIST;
            if (const int error = checkReplacement(context, *source, *target)) return error;
        }
        const std::optional<Inode> replaced = context.replica.renameLocal(
            source->inode, newParent, newName, keptLocal(newName, source->isFolder));
        // The kernel moved its own entries; what it cached of the attributes
        // and of the replaced file may follow an identity transfer, so the
        // next lookup asks again.
        std::vector<KernelNotice> notices{
            KernelNotice{KernelNotice::Kind::entry, static_cast<Inode>(parent), 0, name},
            KernelNotice{KernelNotice::Kind::entry, static_cast<Inode>(newParent), 0, newName},
            KernelNotice{KernelNotice::Kind::inode, 0, source->inode, {}}};
        if (replaced) {
            // Renamed over a creation that may be on the drive: this file
            // goes in its stead, first with the bytes that attempt sent.
            const std::optional<PendingChange> record = context.replica.pendingChange(source->inode);
            if (record && record->mayAlreadyExist && contains(record->queued, LocalChange::creation))
                context.copies.handOverSent(*replaced, source->inode);
            dropContents(context, *replaced);
            notices.push_back(KernelNotice{KernelNotice::Kind::inode, 0, *replaced, {}});
        }
        context.notices.post(std::move(notices));
        context.notifyChanged(source->inode);
        if (replaced) context.notifyChanged(*replaced);
        fuse_reply_err(req, 0);
        return 0;
    });
}

void refuseSymlink(fuse_req_t req, const char*, fuse_ino_t, const char*) {
    // The drive has no links: the plug-in's own answer to one.
    fuse_reply_err(req, errnoFor(fileprovider::Error::featureUnsupported()));
}
void refuseLink(fuse_req_t req, fuse_ino_t, fuse_ino_t, const char*) {
    fuse_reply_err(req, errnoFor(fileprovider::Error::featureUnsupported()));
}
void refuseSetxattr(fuse_req_t req, fuse_ino_t, const char*, const char*, size_t, int) {
    fuse_reply_err(req, ENOTSUP);
}
void refuseRemovexattr(fuse_req_t req, fuse_ino_t, const char*) {
    fuse_reply_err(req, ENOTSUP);
}

}  // namespace

int openForWriting(fuse_req_t req, FuseContext& context, const ReplicaEntry& file,
                   fuse_file_info* fi) {
    int error = 0;
    std::unique_ptr<OpenFile> handle =
        beginWriting(req, context, file, (fi->flags & O_TRUNC) != 0, error);
    if (!handle) return error != 0 ? error : EIO;
    fi->keep_cache = 0;
    OpenFile* opened = handle.get();
    keepOpenFile(context, std::move(handle), fi);
    if (fuse_reply_open(req, fi) != 0) closeOpenFile(context, opened);
    return 0;
}

void keepOpenFile(FuseContext& context, std::unique_ptr<OpenFile> file, fuse_file_info* fi) {
    LockGuard lock(context.openFilesMutex);
    context.openFiles.insert(file.get());
    fi->fh = reinterpret_cast<uint64_t>(file.release());
}

void closeRemainingFiles(FuseContext& context) noexcept {
    std::unordered_set<OpenFile*> remaining;
    {
        LockGuard lock(context.openFilesMutex);
        remaining.swap(context.openFiles);
    }
    for (OpenFile* file : remaining) closeOpenFile(context, file);
}

namespace {

/// True while the inode has bytes of its own waiting for the drive or on
/// their way there.
bool sendsContents(FuseContext& context, Inode inode) {
    const std::optional<PendingChange> record = context.replica.pendingChange(inode);
    return record && (contains(record->queued, LocalChange::contents) ||
                      contains(record->sending, LocalChange::contents) ||
                      contains(record->queued, LocalChange::creation) ||
                      contains(record->sending, LocalChange::creation));
}

}  // namespace

void closeOpenFile(FuseContext& context, OpenFile* file) noexcept {
    std::unique_ptr<OpenFile> owned(file);
    {
        LockGuard lock(context.openFilesMutex);
        context.openFiles.erase(file);
    }
    try {
        if (file->writer && file->dirty.exchange(false))
            recordContents(context, file->inode, file->fd);
        if (file->fd >= 0) ::close(file->fd);
        if (file->cacheHeld) context.cache.release(file->inode);
        if (!file->writer) return;
        const bool last = context.copies.endWriting(file->inode, file->written);
        if (!last) return;
        // Removed while open: its bytes go with the last writer.
        if (!context.replica.entry(file->inode)) {
            context.copies.discard(file->inode);
        } else if (!file->written && !sendsContents(context, file->inode)) {
            // Opened for writing and left as it was: the working copy would
            // stand in front of every later version the drive brings.
            context.copies.discard(file->inode);
        }
        if (file->written)
            context.notices.post({KernelNotice{KernelNotice::Kind::inode, 0, file->inode, {}}});
        context.notifyChanged(file->inode);
    } catch (const std::exception& failure) {
        hostLogger().error("Fermeture d'un fichier en échec : {}", std::string(failure.what()));
    }
}

void addWriteOperations(fuse_lowlevel_ops& ops) {
    ops.create = onCreate;
    ops.mknod = onMknod;
    ops.mkdir = onMkdir;
    ops.write = onWrite;
    ops.flush = onFlush;
    ops.fsync = onFsync;
    ops.release = onRelease;
    ops.setattr = onSetattr;
    ops.unlink = onUnlink;
    ops.rmdir = onRmdir;
    ops.rename = onRename;
    ops.symlink = refuseSymlink;
    ops.link = refuseLink;
    ops.setxattr = refuseSetxattr;
    ops.removexattr = refuseRemovexattr;
}

}  // namespace cadrio::host
