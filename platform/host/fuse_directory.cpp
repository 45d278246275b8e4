// Directory listings straight from the replica: each reply holds as many
// entries as fit, and the next request resumes after the last one with one
// indexed query, so that listing a folder stays linear in its size. The
// kernel caches what it was given, so that a warm "find" or "ls" reads no
// listing from here at all.

#include <string>
#include <vector>

#include "platform/host/fuse_context.hpp"

namespace cadrio::host {
namespace {

constexpr off_t kAfterDot = 1;
constexpr off_t kAfterDotDot = 2;
constexpr std::size_t kBatch = 256;

off_t offsetAfter(Inode child) { return static_cast<off_t>(child) + kAfterDotDot; }
Inode childAfter(off_t offset) { return offset > kAfterDotDot ? static_cast<Inode>(offset - kAfterDotDot) : 0; }

class ReplyBuffer {
public:
    ReplyBuffer(fuse_req_t req, std::size_t size, bool plus) : req_(req), buffer_(size), plus_(plus) {}

    /// False when the entry no longer fits (it then starts the next reply).
    bool add(const char* name, const fuse_entry_param& param, off_t next) {
        char* at = buffer_.data() + used_;
        const std::size_t left = buffer_.size() - used_;
        const std::size_t needed = plus_ ? fuse_add_direntry_plus(req_, at, left, name, &param, next)
                                         : fuse_add_direntry(req_, at, left, name, &param.attr, next);
        if (needed > left) return false;
        used_ += needed;
        return true;
    }

    void reply() { fuse_reply_buf(req_, buffer_.data(), used_); }

private:
    fuse_req_t req_;
    std::vector<char> buffer_;
    std::size_t used_ = 0;
    bool plus_;
};

/// "." and "..": the kernel takes no reference on them, so they carry no
/// inode for it to count.
fuse_entry_param dotEntry(Inode inode) {
    fuse_entry_param param{};
    param.attr.st_ino = static_cast<ino_t>(inode);
    param.attr.st_mode = S_IFDIR;
    return param;
}

}  // namespace

int openDirectory(fuse_req_t req, FuseContext& context, Inode folder, fuse_file_info* fi) {
    if (const int error = context.ensureListed(folder)) return error;
    fi->cache_readdir = 1;
    fi->keep_cache = context.keepListing(folder) ? 1 : 0;
    fuse_reply_open(req, fi);
    return 0;
}

void FuseContext::noticeChanged(Inode inode) {
    LockGuard lock(listingMutex);
    if (changedInodes.size() >= kChangedCap) {
        changedInodes.clear();
        ++listingEpoch;
    }
    changedInodes.insert(inode);
}

bool FuseContext::keepListing(Inode folder) {
    LockGuard lock(listingMutex);
    const bool changed = changedInodes.erase(folder) != 0;
    auto [opened, first] = listingOpened.try_emplace(folder, listingEpoch);
    const bool sameEpoch = !first && opened->second == listingEpoch;
    opened->second = listingEpoch;
    return sameEpoch && !changed;
}

void readDirectory(fuse_req_t req, FuseContext& context, Inode folder, std::size_t size, off_t offset, bool plus) {
    const std::optional<ReplicaEntry> self = context.entry(folder);
    if (!self) {
        fuse_reply_err(req, ENOENT);
        return;
    }
    ReplyBuffer reply(req, size, plus);
    if (offset < kAfterDot && !reply.add(".", dotEntry(folder), kAfterDot)) return reply.reply();
    if (offset < kAfterDotDot && !reply.add("..", dotEntry(self->parentInode), kAfterDotDot)) return reply.reply();
    std::vector<ReplicaEntry> files;
    Inode after = childAfter(offset);
    for (bool full = false; !full;) {
        const std::vector<ReplicaEntry> batch = context.replica.children(folder, after, kBatch);
        for (const ReplicaEntry& child : batch) {
            if (!reply.add(child.shownName.c_str(), context.entryParam(child), offsetAfter(child.inode))) {
                full = true;
                break;
            }
            after = child.inode;
            if (!child.isFolder) files.push_back(child);
        }
        if (batch.size() < kBatch) break;
    }
    reply.reply();
    if (context.filesListed && !files.empty()) context.filesListed(folder, std::move(files));
}

}  // namespace cadrio::host
