#include "devserver/multipart_registry.hpp"

#include "devserver/digest.hpp"
#include "devserver/service_error.hpp"

#include "core/support/thread_annotations.hpp"

#include <map>
#include <set>
#include <system_error>

namespace cadrio::devserver {
namespace fs = std::filesystem;

struct MultipartRegistry::Entry {
    MultipartUpload upload;
    fs::path directory;
    std::map<int, std::pair<std::string, std::int64_t>> parts;  // number -> (etag, size)
    std::chrono::system_clock::time_point created;
    int arriving = 0;   // parts being received
    bool completing = false;

    fs::path objectFile() const { return directory / "object"; }
};

struct MultipartRegistry::State {
    mutable Mutex mutex;
    std::map<std::string, Entry> uploads CADRIO_GUARDED_BY(mutex);  // key: upload id
    std::set<std::string> completedKeys CADRIO_GUARDED_BY(mutex);
};

namespace {

ServiceError keyInUse() {
    return {409, "key_in_use", "Cette clé de stockage est déjà utilisée par un autre envoi.", "key_in_use"};
}

void removeDirectory(const fs::path& directory) {
    std::error_code ignored;
    fs::remove_all(directory, ignored);
}

}  // namespace

MultipartRegistry::MultipartRegistry(const BlobStore& blobs, Clock clock)
    : state_(std::make_unique<State>()), blobs_(blobs), clock_(std::move(clock)) {}

MultipartRegistry::~MultipartRegistry() = default;

std::int64_t MultipartRegistry::partSizeFor(std::int64_t fileSize) {
    if (fileSize + 10000 > kDefaultPartSize * kMaxParts) return (fileSize + 9999) / 10000;
    return kDefaultPartSize;
}

MultipartUpload MultipartRegistry::begin(const std::string& account, const std::string& fileName,
                                         std::int64_t fileSize, std::int64_t folderId,
                                         const std::string& contentType) {
    Entry entry;
    entry.upload = {randomHex(16), BlobStore::newObjectKey(), account, fileName, contentType,
                    fileSize, folderId, partSizeFor(fileSize)};
    entry.created = clock_();
    entry.directory = blobs_.newStagingDirectory();
    const auto upload = entry.upload;
    std::vector<fs::path> abandoned;
    {
        LockGuard lock(state_->mutex);
        for (auto it = state_->uploads.begin(); it != state_->uploads.end();) {
            if (!it->second.completing && entry.created - it->second.created > kAbandonedAfter) {
                abandoned.push_back(it->second.directory);
                it = state_->uploads.erase(it);
            } else {
                ++it;
            }
        }
        state_->uploads.emplace(upload.uploadId, std::move(entry));
    }
    for (const auto& directory : abandoned) removeDirectory(directory);
    return upload;
}

MultipartUpload MultipartRegistry::find(const std::string& account, const std::string& storageKey,
                                        const std::string& uploadId) const {
    LockGuard lock(state_->mutex);
    const auto it = state_->uploads.find(uploadId);
    if (it == state_->uploads.end() || it->second.upload.account != account ||
        it->second.upload.storageKey != storageKey) {
        throw notFound("Envoi en plusieurs parties inconnu.");
    }
    return it->second.upload;
}

MultipartRegistry::PartSlot MultipartRegistry::startPart(const std::string& uploadId, int number) {
    LockGuard lock(state_->mutex);
    const auto it = state_->uploads.find(uploadId);
    if (it == state_->uploads.end()) throw notFound("Envoi en plusieurs parties inconnu.");
    auto& entry = it->second;
    if (entry.completing) throw keyInUse();
    entry.parts.erase(number);
    ++entry.arriving;
    return {entry.objectFile(), (number - 1) * entry.upload.partSize, entry.upload.partSize};
}

void MultipartRegistry::finishPart(const std::string& uploadId, int number, const std::string& etag,
                                   std::int64_t size) {
    LockGuard lock(state_->mutex);
    const auto it = state_->uploads.find(uploadId);
    if (it == state_->uploads.end()) throw notFound("Envoi en plusieurs parties inconnu.");
    --it->second.arriving;
    if (!etag.empty()) it->second.parts[number] = {etag, size};
}

MultipartRegistry::Claim MultipartRegistry::claim(const std::string& account, const std::string& storageKey,
                                                 const std::string& uploadId,
                                                 const std::vector<UploadedPartRef>& parts) {
    LockGuard lock(state_->mutex);
    if (state_->completedKeys.count(storageKey) > 0) throw keyInUse();
    const auto it = state_->uploads.find(uploadId);
    if (it == state_->uploads.end() || it->second.upload.account != account ||
        it->second.upload.storageKey != storageKey) {
        throw notFound("Envoi en plusieurs parties inconnu.");
    }
    auto& entry = it->second;
    if (entry.completing || entry.arriving > 0) throw keyInUse();
    Claim claim{entry.upload, entry.objectFile(), true, {}};
    const auto partSize = entry.upload.partSize;
    int previous = 0;
    for (const auto& part : parts) {
        if (part.number <= previous) throw badRequest("Les parties doivent être en ordre croissant.");
        const auto received = entry.parts.find(part.number);
        if (received == entry.parts.end() || received->second.first != part.etag) {
            throw badRequest("Partie " + std::to_string(part.number) + " inconnue ou ETag différent.");
        }
        // A hole or a short part before this one: the file is not the content.
        if (part.number != previous + 1 || (!claim.regions.empty() && claim.regions.back().second != partSize)) {
            claim.inPlace = false;
        }
        claim.regions.emplace_back((part.number - 1) * partSize, received->second.second);
        previous = part.number;
    }
    entry.completing = true;
    return claim;
}

void MultipartRegistry::release(const std::string& uploadId) {
    LockGuard lock(state_->mutex);
    const auto it = state_->uploads.find(uploadId);
    if (it != state_->uploads.end()) it->second.completing = false;
}

void MultipartRegistry::finish(const std::string& uploadId) {
    fs::path directory;
    {
        LockGuard lock(state_->mutex);
        const auto it = state_->uploads.find(uploadId);
        if (it == state_->uploads.end()) return;
        state_->completedKeys.insert(it->second.upload.storageKey);
        directory = it->second.directory;
        state_->uploads.erase(it);
    }
    removeDirectory(directory);
}

void MultipartRegistry::abort(const std::string& account, const std::string& storageKey,
                              const std::string& uploadId) {
    fs::path directory;
    {
        LockGuard lock(state_->mutex);
        const auto it = state_->uploads.find(uploadId);
        if (it == state_->uploads.end() || it->second.upload.account != account ||
            it->second.upload.storageKey != storageKey) {
            throw notFound("Envoi en plusieurs parties inconnu.");
        }
        if (it->second.completing) throw keyInUse();
        directory = it->second.directory;
        state_->uploads.erase(it);
    }
    removeDirectory(directory);
}

void MultipartRegistry::clear() {
    std::map<std::string, Entry> uploads;
    {
        LockGuard lock(state_->mutex);
        uploads.swap(state_->uploads);
        state_->completedKeys.clear();
    }
    for (const auto& [id, entry] : uploads) removeDirectory(entry.directory);
}

}  // namespace cadrio::devserver
