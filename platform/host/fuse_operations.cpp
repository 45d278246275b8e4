// The reading handlers. Each answers from the replica, the working copies
// and the content cache; only a folder not yet listed (bounded by the
// metadata time-out) and the contents of an opened file (interruptible) wait
// for the plug-in. The write side is in fuse_write_operations.cpp.

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <memory>
#include <stop_token>
#include <system_error>

#include "platform/host/errno_mapping.hpp"
#include "platform/host/fuse_context.hpp"
#include "platform/host/host_logger.hpp"

namespace cadrio::host {
namespace {


FuseContext& contextOf(fuse_req_t req) { return *static_cast<FuseContext*>(fuse_req_userdata(req)); }

timespec timespecOf(const std::optional<fileprovider::Date>& date) {
    if (!date) return timespec{};
    const auto since = date->time_since_epoch();
    const auto seconds = std::chrono::floor<std::chrono::seconds>(since);
    return timespec{static_cast<time_t>(seconds.count()),
                    static_cast<long>(std::chrono::duration_cast<std::chrono::nanoseconds>(since - seconds).count())};
}

template <class Body>
void answer(fuse_req_t req, const char* operation, Body&& body) noexcept {
    answerRequest(req, operation, std::forward<Body>(body));
}

/// The working copy's status, when `inode` has local contents. The copy may
/// be renamed between staged and uploading meanwhile: looked up twice.
std::optional<struct stat> localStatus(const WorkingCopies& copies, Inode inode) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        const std::optional<std::filesystem::path> path = copies.localContents(inode);
        if (!path) return std::nullopt;
        struct stat status {};
        if (::stat(path->c_str(), &status) == 0) return status;
    }
    return std::nullopt;
}

/// A descriptor on the local contents of `inode`, or -1 when it has none.
int openLocalContents(const WorkingCopies& copies, Inode inode) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        const std::optional<std::filesystem::path> path = copies.localContents(inode);
        if (!path) return -1;
        const int fd = ::open(path->c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) return fd;
    }
    return -1;
}

void onInit(void*, fuse_conn_info* conn) {
    const unsigned wanted = FUSE_CAP_AUTO_INVAL_DATA | FUSE_CAP_SPLICE_WRITE | FUSE_CAP_SPLICE_MOVE |
                            FUSE_CAP_READDIRPLUS | FUSE_CAP_ASYNC_READ | FUSE_CAP_PARALLEL_DIROPS |
                            FUSE_CAP_ATOMIC_O_TRUNC;
    // O_TRUNC reaches open itself, so that truncating a file never first
    // downloads the contents it throws away.
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

/// Hands `file` to the kernel; a request interrupted meanwhile gets no
/// release, so the handle is closed here.
void replyOpen(fuse_req_t req, FuseContext& context, std::unique_ptr<OpenFile> file, fuse_file_info* fi) {
    OpenFile* handle = file.get();
    keepOpenFile(context, std::move(file), fi);
    if (fuse_reply_open(req, fi) != 0) closeOpenFile(context, handle);
}

int openForReading(fuse_req_t req, FuseContext& context, const ReplicaEntry& entry, fuse_file_info* fi) {
    auto file = std::make_unique<OpenFile>();
    file->inode = entry.inode;
    file->fd = openLocalContents(context.copies, entry.inode);
    if (file->fd >= 0) {
        context.forgetPageCache(entry.inode);
        fi->keep_cache = 0;
        replyOpen(req, context, std::move(file), fi);
        return 0;
    }
    // Held before the lookup, so that eviction cannot take the file
    // between finding it and opening it.
    context.cache.hold(entry.inode);
    file->cacheHeld = true;
    ContentFetcher::Result contents;
    try {
        contents = cachedContentsFor(req, context, entry);
    } catch (...) {
        context.cache.release(entry.inode);
        throw;
    }
    file->fd = contents.error == 0 ? ::open(contents.path.c_str(), O_RDONLY | O_CLOEXEC) : -1;
    if (file->fd < 0) {
        context.cache.release(entry.inode);
        return contents.error != 0 ? contents.error : errno;
    }
    fi->keep_cache = context.keepPageCache(entry.inode, contents.contentVersion) ? 1 : 0;
    replyOpen(req, context, std::move(file), fi);
    return 0;
}

void onOpen(fuse_req_t req, fuse_ino_t inode, fuse_file_info* fi) {
    answer(req, "open", [&] {
        FuseContext& context = contextOf(req);
        const std::optional<ReplicaEntry> file = context.replica.entry(static_cast<Inode>(inode));
        if (!file) return ENOENT;
        if (file->isFolder) return EISDIR;
        if ((fi->flags & O_ACCMODE) != O_RDONLY || (fi->flags & O_TRUNC) != 0) {
            return openForWriting(req, context, *file, fi);
        }
        return openForReading(req, context, *file, fi);
    });
}

void onRead(fuse_req_t req, fuse_ino_t, size_t size, off_t offset, fuse_file_info* fi) {
    // FUSE_BUFVEC_INIT is a C compound literal: spelled out for C++.
    fuse_bufvec buffer{};
    buffer.count = 1;
    buffer.buf[0].size = size;
    buffer.buf[0].flags = static_cast<fuse_buf_flags>(FUSE_BUF_IS_FD | FUSE_BUF_FD_SEEK);
    buffer.buf[0].fd = openFileOf(fi).fd;
    buffer.buf[0].pos = offset;
    fuse_reply_data(req, &buffer, FUSE_BUF_SPLICE_MOVE);
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
    ops.statfs = onStatfs;
    addWriteOperations(ops);
    return ops;
}

}  // namespace

int failedRequest(const char* operation) noexcept {
    try {
        throw;
    } catch (const std::system_error& failure) {
        hostLogger().error("Requête {} en échec : {}", std::string(operation), std::string(failure.what()));
        const std::error_code code = failure.code();
        const bool errnoValue = code.category() == std::generic_category() || code.category() == std::system_category();
        return errnoValue && code.value() > 0 && code.value() < 4096 ? code.value() : EIO;
    } catch (const std::exception& failure) {
        hostLogger().error("Requête {} en échec : {}", std::string(operation), std::string(failure.what()));
    } catch (...) {
        hostLogger().error("Requête {} en échec", std::string(operation));
    }
    return EIO;
}

ContentFetcher::Result cachedContentsFor(fuse_req_t req, FuseContext& context, const ReplicaEntry& file) {
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
    if (entry.isFolder) return attributes;
    if (const std::optional<struct stat> local = localStatus(copies, entry.inode)) {
        attributes.st_size = local->st_size;
        attributes.st_blocks = (local->st_size + 511) / 512;
        attributes.st_mtim = local->st_mtim;
        attributes.st_ctim = local->st_ctim;
        attributes.st_atim = local->st_atim;
    }
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

void FuseContext::forgetPageCache(Inode inode) {
    LockGuard lock(pageCacheMutex);
    pageCacheVersions.erase(inode);
}

}  // namespace cadrio::host
