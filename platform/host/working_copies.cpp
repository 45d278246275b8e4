#include "platform/host/working_copies.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <string>
#include <system_error>

#include "platform/host/file_clone.hpp"
#include "platform/host/host_logger.hpp"

namespace cadrio::host {

namespace fs = std::filesystem;

namespace {


constexpr std::string_view kPartialSuffix = ".new";

std::optional<Inode> inodeNamed(const std::string& name) {
    Inode inode = 0;
    const char* end = name.data() + name.size();
    const auto [last, error] = std::from_chars(name.data(), end, inode);
    if (error != std::errc() || last != end || inode == 0) return std::nullopt;
    return inode;
}

bool present(const fs::path& file) {
    std::error_code ignored;
    return fs::exists(fs::symlink_status(file, ignored));
}

void removeQuietly(const fs::path& file) {
    std::error_code ignored;
    fs::remove(file, ignored);
}

/// -1 when the file does not exist.
int openForReading(const fs::path& file) { return ::open(file.c_str(), O_RDONLY | O_CLOEXEC); }

class ScopedFd {
public:
    explicit ScopedFd(int fd) : fd_(fd) {}
    ~ScopedFd() {
        if (fd_ >= 0) ::close(fd_);
    }
    ScopedFd(const ScopedFd&) = delete;
    ScopedFd& operator=(const ScopedFd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

}  // namespace

WorkingCopies::WorkingCopies(fs::path directory)
    : staged_(directory / "staged"), uploading_(directory / "uploading") {
    LockGuard lock(mutex_);
    for (const fs::path& folder : {staged_, uploading_}) {
        fs::create_directories(folder);
        fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace);
        for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
            if (const std::optional<Inode> inode = inodeNamed(entry.path().stem().string())) maybeLocal_.insert(*inode);
        }
    }
}

fs::path WorkingCopies::stagedPath(Inode inode) const { return staged_ / std::to_string(inode); }
fs::path WorkingCopies::uploadingPath(Inode inode) const { return uploading_ / std::to_string(inode); }

void WorkingCopies::recover(const std::unordered_set<Inode>& sentMayHaveLanded) {
    LockGuard lock(mutex_);
    for (const fs::directory_entry& entry : fs::directory_iterator(staged_)) {
        if (entry.path().extension() == kPartialSuffix) removeQuietly(entry.path());
    }
    for (const fs::directory_entry& entry : fs::directory_iterator(uploading_)) {
        const std::optional<Inode> inode = inodeNamed(entry.path().filename().string());
        if (!inode) continue;
        // What a creation may have left on the drive stays as it is, even
        // with nothing newer: made the working copy, the next write would
        // change the very bytes it goes again with.
        if (sentMayHaveLanded.contains(*inode)) continue;
        if (present(stagedPath(*inode))) {
            removeQuietly(entry.path());
        } else {
            std::error_code error;
            fs::rename(entry.path(), stagedPath(*inode), error);
            if (error) hostLogger().error("Copie de travail non reprise : {}", error.message());
        }
    }
}

std::optional<fs::path> WorkingCopies::localContents(Inode inode) const {
    LockGuard lock(mutex_);
    if (!maybeLocal_.contains(inode)) return std::nullopt;
    for (fs::path file : {stagedPath(inode), uploadingPath(inode)}) {
        if (present(file)) return file;
    }
    return std::nullopt;
}

fs::path WorkingCopies::beginWriting(Inode inode, const std::optional<fs::path>& source, bool truncate) {
    const fs::path staged = stagedPath(inode);
    int frozenFd = -1;
    {
        UniqueLock lock(mutex_);
        made_.wait(lock, [this, inode]() CADRIO_NO_THREAD_SAFETY_ANALYSIS { return !making_.contains(inode); });
        ++writers_[inode];
        maybeLocal_.insert(inode);
        if (present(staged)) {
            if (truncate) untouched_.erase(inode);
            lock.unlock();
            if (truncate) {
                std::error_code error;
                fs::resize_file(staged, 0, error);
                if (error) {
                    endWriting(inode);
                    throw fs::filesystem_error("cannot empty a working copy", staged, error);
                }
            }
            return staged;
        }
        making_.insert(inode);
        // Opened under the lock: an upload ending now cannot take the bytes
        // away between the look and the copy.
        if (!truncate) frozenFd = openForReading(uploadingPath(inode));
    }
    const ScopedFd frozen(frozenFd);
    try {
        int sourceFd = frozen.get();
        std::optional<ScopedFd> given;
        if (sourceFd < 0 && !truncate && source) {
            given.emplace(openForReading(*source));
            // A source that cannot be read must not silently become an empty
            // file: the user would lose what it held.
            if (given->get() < 0) {
                throw fs::filesystem_error("cannot read the contents to change", *source,
                                           std::error_code(errno, std::generic_category()));
            }
            sourceFd = given->get();
        }
        makeWorkingCopy(inode, sourceFd, sourceFd >= 0 && sourceFd == frozen.get());
    } catch (...) {
        endMaking(inode, false);
        throw;
    }
    endMaking(inode, true);
    return staged;
}

void WorkingCopies::makeWorkingCopy(Inode inode, int sourceFd, bool fromSent) {
    const fs::path staged = stagedPath(inode);
    const fs::path partial = staged.string() + std::string(kPartialSuffix);
    removeQuietly(partial);
    if (sourceFd >= 0) {
        cloneFile(sourceFd, partial);
    } else {
        const int fd = ::open(partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            throw fs::filesystem_error("cannot create a working copy", partial,
                                       std::error_code(errno, std::generic_category()));
        }
        ::close(fd);
    }
    LockGuard lock(mutex_);
    std::error_code error;
    fs::rename(partial, staged, error);
    if (error) {
        removeQuietly(partial);
        throw fs::filesystem_error("cannot place a working copy", staged, error);
    }
    if (fromSent) untouched_.insert(inode);
}

void WorkingCopies::endMaking(Inode inode, bool counted) {
    {
        LockGuard lock(mutex_);
        making_.erase(inode);
        if (!counted) {
            const auto found = writers_.find(inode);
            if (found != writers_.end() && --found->second <= 0) writers_.erase(found);
        }
    }
    made_.notify_all();
}

bool WorkingCopies::endWriting(Inode inode, bool changed) {
    LockGuard lock(mutex_);
    if (changed) untouched_.erase(inode);
    const auto found = writers_.find(inode);
    if (found == writers_.end()) return false;
    if (--found->second > 0) return false;
    writers_.erase(found);
    return true;
}

bool WorkingCopies::isBeingWritten(Inode inode) const {
    LockGuard lock(mutex_);
    return writers_.contains(inode);
}

std::optional<fs::path> WorkingCopies::freeze(Inode inode) {
    LockGuard lock(mutex_);
    if (writers_.contains(inode)) return std::nullopt;
    const fs::path staged = stagedPath(inode);
    const fs::path uploading = uploadingPath(inode);
    if (present(staged)) {
        std::error_code error;
        fs::rename(staged, uploading, error);
        if (error) throw fs::filesystem_error("cannot set aside the bytes to send", staged, error);
        untouched_.erase(inode);
    } else if (!present(uploading)) {
        return std::nullopt;
    }
    frozen_.insert(inode);
    return uploading;
}

void WorkingCopies::uploaded(Inode inode, ContentCache& cache, const fileprovider::ByteString& contentVersion) {
    const fs::path uploading = uploadingPath(inode);
    fs::path handed = cache.temporaryDirectory() / ("uploaded-" + std::to_string(inode));
    {
        LockGuard lock(mutex_);
        if (!frozen_.erase(inode)) return;
        // A second name for the bytes: while the cache takes them, a writer
        // arriving still finds them here.
        removeQuietly(handed);
        std::error_code error;
        fs::create_hard_link(uploading, handed, error);
        if (error) handed = uploading;
    }
    try {
        cache.adopt(inode, handed, contentVersion);
    } catch (const std::exception& failure) {
        // The drive has these bytes: the next opening fetches them.
        hostLogger().error("Contenu envoyé non conservé dans le cache : {}", std::string(failure.what()));
    }
    LockGuard lock(mutex_);
    if (frozen_.contains(inode)) return;  // frozen again meanwhile: those bytes stay
    removeQuietly(uploading);
    dropUntouchedLocked(inode);
    if (!present(stagedPath(inode)) && !writers_.contains(inode)) maybeLocal_.erase(inode);
}

void WorkingCopies::dropUntouchedLocked(Inode inode) {
    if (writers_.contains(inode) || !untouched_.erase(inode)) return;
    removeQuietly(stagedPath(inode));
}

void WorkingCopies::unfreeze(Inode inode) {
    LockGuard lock(mutex_);
    if (!frozen_.erase(inode)) return;
    // The copy of the sent bytes is the local contents again, to be sent.
    untouched_.erase(inode);
    const fs::path uploading = uploadingPath(inode);
    if (present(stagedPath(inode))) {
        removeQuietly(uploading);
        return;
    }
    std::error_code error;
    fs::rename(uploading, stagedPath(inode), error);
    // Left where it is, the bytes are still the local contents and recover()
    // takes them back at the next start.
    if (error) hostLogger().error("Copie de travail non rétablie : {}", error.message());
}

bool WorkingCopies::dropSent(Inode inode) {
    LockGuard lock(mutex_);
    frozen_.erase(inode);
    removeQuietly(uploadingPath(inode));
    dropUntouchedLocked(inode);
    const bool newer = writers_.contains(inode) || present(stagedPath(inode));
    if (!newer) maybeLocal_.erase(inode);
    return newer;
}

void WorkingCopies::keepSent(Inode inode) {
    LockGuard lock(mutex_);
    frozen_.erase(inode);
}

std::optional<fs::path> WorkingCopies::sentAgain(Inode inode) {
    {
        LockGuard lock(mutex_);
        const fs::path uploading = uploadingPath(inode);
        if (!writers_.contains(inode) && present(uploading)) {
            frozen_.insert(inode);
            return uploading;
        }
    }
    return freeze(inode);
}

void WorkingCopies::discard(Inode inode) {
    LockGuard lock(mutex_);
    frozen_.erase(inode);
    untouched_.erase(inode);
    removeQuietly(stagedPath(inode));
    removeQuietly(uploadingPath(inode));
    if (!writers_.contains(inode)) maybeLocal_.erase(inode);
}

void WorkingCopies::handOverSent(Inode from, Inode to) {
    LockGuard lock(mutex_);
    const fs::path kept = uploadingPath(from);
    if (frozen_.contains(from) || !present(kept) || present(uploadingPath(to))) return;
    std::error_code error;
    fs::rename(kept, uploadingPath(to), error);
    if (error) {
        hostLogger().error("Contenu envoyé non repris : {}", error.message());
        return;
    }
    maybeLocal_.insert(to);
}

void WorkingCopies::move(Inode from, Inode to) {
    LockGuard lock(mutex_);
    const std::pair<fs::path, fs::path> files[] = {{stagedPath(from), stagedPath(to)},
                                                   {uploadingPath(from), uploadingPath(to)}};
    for (const auto& [source, target] : files) {
        if (!present(source)) continue;
        std::error_code error;
        fs::rename(source, target, error);
        if (error) hostLogger().error("Contenu local non déplacé : {}", error.message());
    }
    if (frozen_.erase(from)) frozen_.insert(to);
    if (untouched_.erase(from)) untouched_.insert(to);
    maybeLocal_.insert(to);
}

}  // namespace cadrio::host
