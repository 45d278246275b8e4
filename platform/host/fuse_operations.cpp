// The request handlers. Each answers from the replica and the content cache;
// only a folder not yet listed (bounded by the metadata time-out) and the
// contents of an opened file (interruptible) wait for the plug-in. Write
// requests are refused as a read-only file system would.

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <stop_token>

#include "platform/host/errno_mapping.hpp"
#include "platform/host/fuse_context.hpp"
#include "platform/log/logger.hpp"

namespace cadrio::host {
namespace {

const log::Logger& logger() {
    static const log::Logger instance("zelvano.cadrio.sync", "host");
    return instance;
}

FuseContext& contextOf(fuse_req_t req) { return *static_cast<FuseContext*>(fuse_req_userdata(req)); }

timespec timespecOf(const std::optional<fileprovider::Date>& date) {
    if (!date) return timespec{};
    const auto since = date->time_since_epoch();
    const auto seconds = std::chrono::floor<std::chrono::seconds>(since);
    return timespec{static_cast<time_t>(seconds.count()),
                    static_cast<long>(std::chrono::duration_cast<std::chrono::nanoseconds>(since - seconds).count())};
}

/// Runs a handler body that answers the request itself, or returns an errno
/// for this wrapper to answer; an exception answers EIO and never reaches
/// libfuse's C frames.
template <class Body>
void answer(fuse_req_t req, const char* operation, Body&& body) noexcept {
    int error = EIO;
    try {
        error = body();
    } catch (const std::exception& failure) {
        logger().error("Requête {} en échec : {}", std::string(operation), std::string(failure.what()));
    } catch (...) {
        logger().error("Requête {} en échec", std::string(operation));
    }
    if (error != 0) fuse_reply_err(req, error);
}

void onInit(void*, fuse_conn_info* conn) {
    const unsigned wanted = FUSE_CAP_AUTO_INVAL_DATA | FUSE_CAP_SPLICE_WRITE | FUSE_CAP_SPLICE_MOVE |
                            FUSE_CAP_READDIRPLUS | FUSE_CAP_ASYNC_READ | FUSE_CAP_PARALLEL_DIROPS;
    conn->want |= conn->capable & wanted;
    // Plain readdirplus: every listing carries the attributes, so "ls -l" and
    // "find" need no lookup per entry.
    conn->want &= ~static_cast<unsigned>(FUSE_CAP_READDIRPLUS_AUTO);
    conn->max_background = 64;
    conn->congestion_threshold = 48;
}

void onLookup(fuse_req_t req, fuse_ino_t parent, const char* name) {
    answer(req, "lookup", [&] {
        FuseContext& context = contextOf(req);
        if (const int error = context.ensureListed(parent)) return error;
        const std::optional<ReplicaEntry> child = context.replica.child(parent, name);
        if (!child) return ENOENT;
        const fuse_entry_param param = context.entryParam(*child);
        fuse_reply_entry(req, &param);
        return 0;
    });
}

void onForget(fuse_req_t req, fuse_ino_t, uint64_t) {
    // Inodes are the replica's for good: nothing to free.
    fuse_reply_none(req);
}

void onForgetMulti(fuse_req_t req, size_t, fuse_forget_data*) { fuse_reply_none(req); }

void onGetattr(fuse_req_t req, fuse_ino_t inode, fuse_file_info*) {
    answer(req, "getattr", [&] {
        FuseContext& context = contextOf(req);
        const std::optional<ReplicaEntry> entry = context.entry(inode);
        if (!entry) return ENOENT;
        const struct stat attributes = context.attributes(*entry);
        fuse_reply_attr(req, &attributes, context.attrTimeoutSeconds);
        return 0;
    });
}

void onOpendir(fuse_req_t req, fuse_ino_t inode, fuse_file_info* fi) {
    answer(req, "opendir", [&] { return openDirectory(req, contextOf(req), inode, fi); });
}

void onReaddir(fuse_req_t req, fuse_ino_t inode, size_t size, off_t offset, fuse_file_info*) {
    answer(req, "readdir", [&] {
        readDirectory(req, contextOf(req), inode, size, offset, false);
        return 0;
    });
}

void onReaddirplus(fuse_req_t req, fuse_ino_t inode, size_t size, off_t offset, fuse_file_info*) {
    answer(req, "readdirplus", [&] {
        readDirectory(req, contextOf(req), inode, size, offset, true);
        return 0;
    });
}

void onReleasedir(fuse_req_t req, fuse_ino_t, fuse_file_info*) { fuse_reply_err(req, 0); }

void interruptOpen(fuse_req_t, void* data) { static_cast<std::stop_source*>(data)->request_stop(); }

/// The cached contents of `file` at its current version, fetched when
/// missing; the waiting open ends early when its process is interrupted.
ContentFetcher::Result contentsFor(fuse_req_t req, FuseContext& context, const ReplicaEntry& file) {
    if (auto cached = context.cache.lookup(file.inode, file.version.contentVersion)) {
        return ContentFetcher::Result{*cached, file.version.contentVersion, 0};
    }
    std::stop_source interrupted;
    fuse_req_interrupt_func(req, interruptOpen, &interrupted);
    ContentFetcher::Result result = context.fetcher.fetch(file, interrupted.get_token());
    // Taken under the request's lock: no interrupt callback runs past this.
    fuse_req_interrupt_func(req, nullptr, nullptr);
    return result;
}

void onOpen(fuse_req_t req, fuse_ino_t inode, fuse_file_info* fi) {
    answer(req, "open", [&] {
        FuseContext& context = contextOf(req);
        if ((fi->flags & O_ACCMODE) != O_RDONLY || (fi->flags & O_TRUNC) != 0) return EROFS;
        const std::optional<ReplicaEntry> file = context.replica.entry(static_cast<Inode>(inode));
        if (!file) return ENOENT;
        if (file->isFolder) return EISDIR;
        // Held before the lookup, so that eviction cannot take the file
        // between finding it and opening it.
        context.cache.hold(file->inode);
        ContentFetcher::Result contents;
        try {
            contents = contentsFor(req, context, *file);
        } catch (...) {
            context.cache.release(file->inode);
            throw;
        }
        const int fd = contents.error == 0 ? ::open(contents.path.c_str(), O_RDONLY | O_CLOEXEC) : -1;
        if (fd < 0) {
            context.cache.release(file->inode);
            return contents.error != 0 ? contents.error : errno;
        }
        fi->fh = static_cast<uint64_t>(fd);
        fi->keep_cache = context.keepPageCache(file->inode, contents.contentVersion) ? 1 : 0;
        if (fuse_reply_open(req, fi) != 0) {
            // The open was interrupted meanwhile: no release will follow.
            ::close(fd);
            context.cache.release(file->inode);
        }
        return 0;
    });
}

void onRead(fuse_req_t req, fuse_ino_t, size_t size, off_t offset, fuse_file_info* fi) {
    // FUSE_BUFVEC_INIT is a C compound literal: spelled out for C++.
    fuse_bufvec buffer{};
    buffer.count = 1;
    buffer.buf[0].size = size;
    buffer.buf[0].flags = static_cast<fuse_buf_flags>(FUSE_BUF_IS_FD | FUSE_BUF_FD_SEEK);
    buffer.buf[0].fd = static_cast<int>(fi->fh);
    buffer.buf[0].pos = offset;
    fuse_reply_data(req, &buffer, FUSE_BUF_SPLICE_MOVE);
}

void onRelease(fuse_req_t req, fuse_ino_t inode, fuse_file_info* fi) {
    ::close(static_cast<int>(fi->fh));
    try {
        contextOf(req).cache.release(static_cast<Inode>(inode));
    } catch (const std::exception& failure) {
        logger().error("Requête release en échec : {}", std::string(failure.what()));
    }
    fuse_reply_err(req, 0);
}

void onStatfs(fuse_req_t req, fuse_ino_t) {
    answer(req, "statfs", [&] {
        struct statvfs stats {};
        if (::statvfs(contextOf(req).cacheDirectory.c_str(), &stats) != 0) return errno;
        stats.f_namemax = 255;
        fuse_reply_statfs(req, &stats);
        return 0;
    });
}

// Until local changes are sent to the drive, the mount is read-only.
void refuseSetattr(fuse_req_t req, fuse_ino_t, struct stat*, int, fuse_file_info*) { fuse_reply_err(req, EROFS); }
void refuseNode(fuse_req_t req, fuse_ino_t, const char*, mode_t, dev_t) { fuse_reply_err(req, EROFS); }
void refuseMkdir(fuse_req_t req, fuse_ino_t, const char*, mode_t) { fuse_reply_err(req, EROFS); }
void refuseRemove(fuse_req_t req, fuse_ino_t, const char*) { fuse_reply_err(req, EROFS); }
void refuseSymlink(fuse_req_t req, const char*, fuse_ino_t, const char*) { fuse_reply_err(req, EROFS); }
void refuseRename(fuse_req_t req, fuse_ino_t, const char*, fuse_ino_t, const char*, unsigned) {
    fuse_reply_err(req, EROFS);
}
void refuseLink(fuse_req_t req, fuse_ino_t, fuse_ino_t, const char*) { fuse_reply_err(req, EROFS); }
void refuseCreate(fuse_req_t req, fuse_ino_t, const char*, mode_t, fuse_file_info*) { fuse_reply_err(req, EROFS); }
void refuseWrite(fuse_req_t req, fuse_ino_t, const char*, size_t, off_t, fuse_file_info*) {
    fuse_reply_err(req, EROFS);
}
void refuseSetxattr(fuse_req_t req, fuse_ino_t, const char*, const char*, size_t, int) { fuse_reply_err(req, EROFS); }
void refuseRemovexattr(fuse_req_t req, fuse_ino_t, const char*) { fuse_reply_err(req, EROFS); }

fuse_lowlevel_ops makeOperations() {
    fuse_lowlevel_ops ops{};
    ops.init = onInit;
    ops.lookup = onLookup;
    ops.forget = onForget;
    ops.forget_multi = onForgetMulti;
    ops.getattr = onGetattr;
    ops.opendir = onOpendir;
    ops.readdir = onReaddir;
    ops.readdirplus = onReaddirplus;
    ops.releasedir = onReleasedir;
    ops.open = onOpen;
    ops.read = onRead;
    ops.release = onRelease;
    ops.statfs = onStatfs;
    ops.setattr = refuseSetattr;
    ops.mknod = refuseNode;
    ops.mkdir = refuseMkdir;
    ops.unlink = refuseRemove;
    ops.rmdir = refuseRemove;
    ops.symlink = refuseSymlink;
    ops.rename = refuseRename;
    ops.link = refuseLink;
    ops.create = refuseCreate;
    ops.write = refuseWrite;
    ops.setxattr = refuseSetxattr;
    ops.removexattr = refuseRemovexattr;
    return ops;
}

}  // namespace

const fuse_lowlevel_ops& fuseOperations() {
    static const fuse_lowlevel_ops operations = makeOperations();
    return operations;
}

std::optional<ReplicaEntry> FuseContext::entry(Inode inode) const {
    std::optional<ReplicaEntry> found = replica.entry(inode);
    if (found || inode != kFuseRootInode) return found;
    ReplicaEntry root;
    root.inode = kFuseRootInode;
    root.parentInode = kFuseRootInode;
    root.isFolder = true;
    return root;
}

struct stat FuseContext::attributes(const ReplicaEntry& entry) const {
    struct stat attributes {};
    attributes.st_ino = static_cast<ino_t>(entry.inode);
    attributes.st_mode = entry.isFolder ? (S_IFDIR | 0755) : (S_IFREG | 0644);
    attributes.st_nlink = entry.isFolder ? 2 : 1;
    attributes.st_uid = owner;
    attributes.st_gid = group;
    attributes.st_size = entry.isFolder ? 0 : std::max<std::int64_t>(entry.size, 0);
    attributes.st_blksize = 128 * 1024;
    attributes.st_blocks = (attributes.st_size + 511) / 512;
    attributes.st_mtim = timespecOf(entry.modified ? entry.modified : entry.created);
    attributes.st_ctim = attributes.st_mtim;
    attributes.st_atim = attributes.st_mtim;
    return attributes;
}

fuse_entry_param FuseContext::entryParam(const ReplicaEntry& entry) const {
    fuse_entry_param param{};
    param.ino = entry.inode;
    param.attr = attributes(entry);
    param.attr_timeout = attrTimeoutSeconds;
    param.entry_timeout = entryTimeoutSeconds;
    return param;
}

int FuseContext::ensureListed(Inode folder) {
    const std::optional<ReplicaEntry> found = entry(folder);
    if (!found) return ENOENT;
    if (!found->isFolder) return ENOTDIR;
    if (found->childrenListed) return 0;
    const std::optional<fileprovider::Error> error = engine.listFolder(folder, clock.now() + metadataTimeout);
    return error ? errnoFor(*error) : 0;
}

bool FuseContext::keepPageCache(Inode inode, const fileprovider::ByteString& contentVersion) {
    LockGuard lock(pageCacheMutex);
    auto [position, added] = pageCacheVersions.try_emplace(inode, contentVersion);
    if (added) return false;
    if (position->second == contentVersion) return true;
    position->second = contentVersion;
    return false;
}

}  // namespace cadrio::host
