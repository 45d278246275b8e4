#include "devserver/blob_store.hpp"

#include <regex>
#include <stdexcept>
#include <system_error>

namespace cadrio::devserver {
namespace fs = std::filesystem;

namespace {
constexpr std::size_t kWriteBuffer = 1 << 20;
}

StagedBlob::StagedBlob(fs::path path) : path_(std::move(path)) {
    file_ = std::fopen(path_.c_str(), "wbx");
    if (file_ == nullptr) throw std::runtime_error("cannot create staging file " + path_.string());
    std::setvbuf(file_, nullptr, _IOFBF, kWriteBuffer);
}

StagedBlob StagedBlob::adopt(fs::path path, std::int64_t size) {
    StagedBlob blob;
    blob.path_ = std::move(path);
    blob.size_ = size;
    blob.released_ = true;
    return blob;
}

StagedBlob::StagedBlob(StagedBlob&& other) noexcept
    : path_(std::move(other.path_)), file_(other.file_), digest_(std::move(other.digest_)),
      size_(other.size_), failed_(other.failed_), released_(other.released_) {
    other.file_ = nullptr;
    other.released_ = true;
}

StagedBlob::~StagedBlob() {
    if (file_ != nullptr) std::fclose(file_);
    if (!released_) {
        std::error_code ignored;
        fs::remove(path_, ignored);
    }
}

bool StagedBlob::write(const char* data, std::size_t size) {
    if (failed_ || file_ == nullptr) return false;
    if (std::fwrite(data, 1, size, file_) != size) {
        failed_ = true;
        return false;
    }
    digest_.update(data, size);
    size_ += static_cast<std::int64_t>(size);
    return true;
}

std::string StagedBlob::finish() {
    if (file_ == nullptr) throw std::runtime_error("staging file already finished");
    const bool flushed = std::fflush(file_) == 0;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (failed_ || !flushed || !closed) throw std::runtime_error("cannot write staging file " + path_.string());
    return digest_.finishHex();
}

BlobStore::BlobStore(fs::path root) : root_(std::move(root)) {
    fs::create_directories(root_ / "objects");
    fs::create_directories(root_ / "thumbnails");
    fs::remove_all(root_ / "staging");
    fs::create_directories(root_ / "staging");
}

bool BlobStore::isValidKey(std::string_view key) {
    static const std::regex pattern(R"((objects/[0-9a-f]{32})|(thumbnails/[0-9a-f]{32}_[0-9]{1,4}x[0-9]{1,4}\.jpg))");
    return std::regex_match(key.begin(), key.end(), pattern);
}

std::string BlobStore::newObjectKey() { return "objects/" + randomHex(16); }

std::string BlobStore::newThumbnailKey(std::string_view size) {
    return "thumbnails/" + randomHex(16) + "_" + std::string(size) + ".jpg";
}

fs::path BlobStore::pathOf(std::string_view key) const {
    if (!isValidKey(key)) throw std::invalid_argument("invalid storage key");
    return root_ / fs::path(std::string(key));
}

StagedBlob BlobStore::stage() const { return StagedBlob(root_ / "staging" / randomHex(16)); }

fs::path BlobStore::newStagingDirectory() const {
    auto path = root_ / "staging" / randomHex(16);
    fs::create_directory(path);
    return path;
}

void BlobStore::commit(StagedBlob& blob, std::string_view key) const {
    fs::rename(blob.path(), pathOf(key));
    blob.release();
}

std::string BlobStore::put(std::string_view key, std::string_view bytes) const {
    auto blob = stage();
    if (!blob.write(bytes.data(), bytes.size())) throw std::runtime_error("cannot write object");
    auto hash = blob.finish();
    commit(blob, key);
    return hash;
}

void BlobStore::remove(std::string_view key) const noexcept {
    if (!isValidKey(key)) return;
    std::error_code ignored;
    fs::remove(root_ / fs::path(std::string(key)), ignored);
}

void BlobStore::clear() const {
    for (const char* directory : {"objects", "thumbnails", "staging"}) {
        fs::remove_all(root_ / directory);
        fs::create_directories(root_ / directory);
    }
}

}  // namespace cadrio::devserver
