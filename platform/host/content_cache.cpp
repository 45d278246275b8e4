#include "platform/host/content_cache.hpp"

#include <algorithm>
#include <charconv>
#include <string>
#include <system_error>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/host/host_logger.hpp"

namespace cadrio::host {
namespace fs = std::filesystem;

namespace {


constexpr fs::perms kPrivateFolder = fs::perms::owner_all;

/// The inode a cache file is named after; nothing for any other name.
std::optional<Inode> inodeNamed(const std::string& name) {
    Inode inode = 0;
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), inode);
    if (error != std::errc{} || end != name.data() + name.size() || inode == 0) return std::nullopt;
    if (std::to_string(inode) != name) return std::nullopt;  // "007" is no file of ours
    return inode;
}

void createPrivateFolder(const fs::path& folder) {
    if (fs::create_directories(folder)) fs::permissions(folder, kPrivateFolder);
}

void removeQuietly(const fs::path& path) {
    std::error_code error;
    fs::remove_all(path, error);
    if (error)
        hostLogger().error("Impossible de supprimer {} du cache : {}", path.string(), error.message());
}

}  // namespace

struct ContentCache::Unclaim {
    ContentCache& cache;
    Inode inode;
    ~Unclaim() { cache.unclaim(inode); }
};

ContentCache::ContentCache(fs::path directory, Replica& replica, Clock& clock,
                           std::int64_t limitBytes)
    : directory_(std::move(directory)),
      temporary_(directory_ / "tmp"),
      replica_(replica),
      clock_(clock),
      limitBytes_(limitBytes) {
    createPrivateFolder(directory_);
    createPrivateFolder(temporary_);
    reconcile();
    evictDownToLimit(std::nullopt);
}

fs::path ContentCache::temporaryDirectory() const {
    return temporary_;
}

fs::path ContentCache::fileOf(Inode inode) const {
    return directory_ / std::to_string(inode);
}

void ContentCache::reconcile() {
    // Fetches that were in flight when the previous run ended.
    for (const auto& leftover : fs::directory_iterator(temporary_)) removeQuietly(leftover.path());

    std::unordered_map<Inode, MaterialisedContent> records;
    for (auto& content : replica_.materialisedByAge())
        records.emplace(content.inode, std::move(content));

    std::int64_t used = 0;
    for (const auto& file : fs::directory_iterator(directory_)) {
        if (file.path() == temporary_) continue;
        const std::optional<Inode> inode = inodeNamed(file.path().filename().string());
        const auto record = inode ? records.find(*inode) : records.end();
        if (record == records.end() || !fs::is_regular_file(file.symlink_status())) {
            hostLogger().notice("Fichier sans enregistrement retiré du cache : {}",
                            file.path().filename().string());
            removeQuietly(file.path());
            continue;
        }
        MaterialisedContent content = std::move(record->second);
        records.erase(record);
        const auto size = static_cast<std::int64_t>(fs::file_size(file.path()));
        if (size != content.size) {
            content.size = size;
            replica_.recordMaterialised(content);
        }
        used += size;
    }
    for (const auto& [inode, content] : records) replica_.forgetMaterialised(inode);

    LockGuard lock(mutex_);
    usedBytes_ = used;
}

void ContentCache::claim(Inode inode) {
    UniqueLock lock(mutex_);
    while (claimed_.contains(inode)) unclaimed_.wait(lock);
    claimed_.insert(inode);
}

bool ContentCache::claimForEviction(Inode inode) {
    LockGuard lock(mutex_);
    if (holds_.contains(inode) || claimed_.contains(inode)) return false;
    claimed_.insert(inode);
    return true;
}

void ContentCache::unclaim(Inode inode) {
    {
        LockGuard lock(mutex_);
        claimed_.erase(inode);
    }
    unclaimed_.notify_all();
}

void ContentCache::remove(const MaterialisedContent& content) {
    replica_.forgetMaterialised(content.inode);
    removeQuietly(fileOf(content.inode));
    LockGuard lock(mutex_);
    usedBytes_ = std::max<std::int64_t>(0, usedBytes_ - content.size);
}

std::optional<fs::path> ContentCache::lookup(Inode inode,
                                             const fileprovider::ByteString& contentVersion) {
    claim(inode);
    const Unclaim unclaimLater{*this, inode};
    std::optional<MaterialisedContent> record = replica_.materialised(inode);
    if (!record) return std::nullopt;
    if (record->contentVersion != contentVersion) {
        remove(*record);
        return std::nullopt;
    }
    fs::path file = fileOf(inode);
    std::error_code error;
    if (!fs::is_regular_file(fs::symlink_status(file, error))) {
        hostLogger().notice("Contenu disparu du cache : {}", inode);
        remove(*record);
        return std::nullopt;
    }
    record->lastUsed = clock_.wallNow();
    replica_.recordMaterialised(*record);
    return file;
}

void ContentCache::placeFetched(const fs::path& fetched, const fs::path& target) {
    if (!fs::is_regular_file(fs::symlink_status(fetched))) {
        throw fs::filesystem_error("not a fetched file", fetched,
                                   std::make_error_code(std::errc::invalid_argument));
    }
    std::error_code error;
    fs::rename(fetched, target, error);
    if (error == std::errc::cross_device_link) {
        // The plug-in wrote elsewhere: copy next to the cache, then rename,
        // so that a reader never sees half a file.
        const fs::path copy = temporary_ / ("copy-" + target.filename().string());
        fs::copy_file(fetched, copy, fs::copy_options::overwrite_existing);
        fs::rename(copy, target);
        removeQuietly(fetched);
    } else if (error) {
        throw fs::filesystem_error("cannot cache fetched contents", fetched, target, error);
    }
}

fs::path ContentCache::adopt(Inode inode, const fs::path& fetched,
                             const fileprovider::ByteString& contentVersion) {
    const fs::path target = fileOf(inode);
    {
        claim(inode);
        const Unclaim unclaimLater{*this, inode};
        if (const auto old = replica_.materialised(inode)) {
            replica_.forgetMaterialised(inode);  // before its file is replaced
            LockGuard lock(mutex_);
            usedBytes_ = std::max<std::int64_t>(0, usedBytes_ - old->size);
        }
        try {
            placeFetched(fetched, target);
        } catch (...) {
            std::error_code ignored;
            fs::remove(fetched, ignored);
            fs::remove(target, ignored);  // a stale copy, no longer recorded
            throw;
        }
        const MaterialisedContent content{inode, contentVersion,
                                          static_cast<std::int64_t>(fs::file_size(target)),
                                          clock_.wallNow()};
        replica_.recordMaterialised(content);
        LockGuard lock(mutex_);
        usedBytes_ += content.size;
    }
    evictDownToLimit(inode);
    return target;
}

void ContentCache::hold(Inode inode) {
    LockGuard lock(mutex_);
    ++holds_[inode];
}

void ContentCache::release(Inode inode) {
    bool evict = false;
    {
        LockGuard lock(mutex_);
        const auto held = holds_.find(inode);
        if (held == holds_.end()) return;
        if (--held->second == 0) {
            holds_.erase(held);
            evict = usedBytes_ > limitBytes_;
        }
    }
    if (evict) evictDownToLimit(std::nullopt);
}

void ContentCache::drop(Inode inode) {
    claim(inode);
    const Unclaim unclaimLater{*this, inode};
    if (const auto record = replica_.materialised(inode)) {
        remove(*record);
    } else {
        std::error_code ignored;
        fs::remove(fileOf(inode), ignored);
    }
}

bool ContentCache::overLimit() const {
    LockGuard lock(mutex_);
    return usedBytes_ > limitBytes_;
}

void ContentCache::evictDownToLimit(std::optional<Inode> spare) {
    if (!overLimit()) return;
    try {
        for (const MaterialisedContent& candidate : replica_.materialisedByAge()) {
            if (!overLimit()) return;
            if (candidate.inode == spare || !claimForEviction(candidate.inode)) continue;
            const Unclaim unclaimLater{*this, candidate.inode};
            // One used or replaced since the list was read is no longer the
            // least recently used.
            if (replica_.materialised(candidate.inode) != candidate) continue;
            hostLogger().debug("Contenu évincé du cache : {} ({} octets)", candidate.inode,
                           candidate.size);
            remove(candidate);
        }
    } catch (const std::exception& error) {
        hostLogger().error("Éviction du cache interrompue : {}", std::string(error.what()));
    }
}

std::int64_t ContentCache::usedBytes() const {
    LockGuard lock(mutex_);
    return usedBytes_;
}

}  // namespace cadrio::host
