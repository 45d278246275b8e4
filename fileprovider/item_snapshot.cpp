#include "fileprovider/item_snapshot.hpp"

#include <exception>
#include <stdexcept>

#include "core/model/date.hpp"
#include "core/model/json_decoding.hpp"
#include "core/model/wire_conversions.hpp"
#include "fileprovider/json_text.hpp"

namespace cadrio {
namespace {

// Rows as the file spells them; converted to records once read.
struct StoredFolder {
    std::int64_t id = 0;
    std::optional<std::int64_t> parentFolderID;
    std::string name;
    double modifiedAt = 0;
};

struct StoredFile {
    std::int64_t id = 0;
    std::optional<std::int64_t> parentFolderID;
    std::string name;
    std::string storageKey;
    std::int64_t size = 0;
    std::optional<std::string> contentHash;
    double modifiedAt = 0;
    std::optional<std::string> thumbnailPath;
    std::optional<std::int64_t> uploadTimestamp;
};

struct StoredSnapshot {
    std::int64_t cursor = 0;
    std::vector<StoredFolder> folders;
    std::vector<StoredFile> files;
    std::optional<std::vector<StoredFile>> withdrawn;
};

const JsonObjectPlan<StoredFolder>& folderPlan() {
    static const JsonObjectPlan<StoredFolder> plan{
        field<&StoredFolder::id>("id"),
        field<&StoredFolder::parentFolderID>("parentFolderID"),
        field<&StoredFolder::name>("name"),
        field<&StoredFolder::modifiedAt>("modifiedAt"),
    };
    return plan;
}

const JsonObjectPlan<StoredFile>& filePlan() {
    static const JsonObjectPlan<StoredFile> plan{
        field<&StoredFile::id>("id"),
        field<&StoredFile::parentFolderID>("parentFolderID"),
        field<&StoredFile::name>("name"),
        field<&StoredFile::storageKey>("storageKey"),
        field<&StoredFile::size>("size"),
        field<&StoredFile::contentHash>("contentHash"),
        field<&StoredFile::modifiedAt>("modifiedAt"),
        field<&StoredFile::thumbnailPath>("thumbnailPath"),
        field<&StoredFile::uploadTimestamp>("uploadTimestamp"),
    };
    return plan;
}

const JsonObjectPlan<StoredSnapshot>& snapshotPlan() {
    static const JsonObjectPlan<StoredSnapshot> plan{
        field<&StoredSnapshot::cursor>("cursor"),
        objectArrayField<&StoredSnapshot::folders>("folders", folderPlan()),
        objectArrayField<&StoredSnapshot::files>("files", filePlan()),
        objectArrayField<&StoredSnapshot::withdrawn>("withdrawn", filePlan()),
    };
    return plan;
}

/// The records' own rule for optional texts: absent, never empty.
std::optional<std::string> nonEmpty(std::optional<std::string> text) {
    if (text && text->empty()) return std::nullopt;
    return text;
}

DriveFolder folderRecord(StoredFolder&& row) {
    return DriveFolder{.id = row.id,
                       .parentFolderID = parentIDFromWire(row.parentFolderID),
                       .name = std::move(row.name),
                       .modifiedAt = dateFromUnixSeconds(row.modifiedAt),
                       .isTrashed = false};
}

DriveFile fileRecord(StoredFile&& row) {
    return DriveFile{.id = row.id,
                     .parentFolderID = parentIDFromWire(row.parentFolderID),
                     .name = std::move(row.name),
                     .storageKey = std::move(row.storageKey),
                     .size = row.size,
                     .contentHash = nonEmpty(std::move(row.contentHash)),
                     .modifiedAt = dateFromUnixSeconds(row.modifiedAt),
                     .isTrashed = false,
                     .storageClass = StorageClass::standard,
                     .thumbnailPath = nonEmpty(std::move(row.thumbnailPath)),
                     .uploadTimestamp = row.uploadTimestamp};
}

/// ,"key": before a member that is not the row's first.
void appendMember(std::string& out, std::string_view key) {
    out += ",\"";
    out += key;
    out += "\":";
}

void appendOptionalInteger(std::string& out, std::string_view key, const std::optional<std::int64_t>& value) {
    if (!value) return;
    appendMember(out, key);
    appendJSONInteger(out, *value);
}

void appendOptionalString(std::string& out, std::string_view key, const std::optional<std::string>& value) {
    if (!value) return;
    appendMember(out, key);
    appendJSONString(out, *value);
}

}  // namespace

// Keys, punctuation and numbers of a row at their longest; the texts are
// added by length.
constexpr std::size_t kFolderRowFixedBytes = 120;
constexpr std::size_t kFileRowFixedBytes = 230;

std::size_t SnapshotEncoder::rowSize(const DriveFolder& folder) { return kFolderRowFixedBytes + folder.name.size(); }

std::size_t SnapshotEncoder::rowSize(const DriveFile& file) {
    return kFileRowFixedBytes + file.name.size() + file.storageKey.size() +
           (file.contentHash ? file.contentHash->size() : 0) + (file.thumbnailPath ? file.thumbnailPath->size() : 0);
}

SnapshotEncoder::SnapshotEncoder(std::int64_t cursor, std::size_t expectedBytes) {
    out_.reserve(64 + expectedBytes);
    out_ += "{\"cursor\":";
    appendJSONInteger(out_, cursor);
    out_ += ",\"folders\":[";
}

void SnapshotEncoder::beginRow(std::int64_t id) {
    if (!firstEntry_) out_ += ',';
    firstEntry_ = false;
    out_ += "{\"id\":";
    appendJSONInteger(out_, id);
}

void SnapshotEncoder::enter(Section section) {
    if (section < section_) throw std::logic_error("snapshot rows out of order: folders, files, then withdrawn files");
    static constexpr const char* kOpening[] = {"", "],\"files\":[", "],\"withdrawn\":["};
    while (section_ < section) {
        section_ = static_cast<Section>(static_cast<int>(section_) + 1);
        out_ += kOpening[static_cast<int>(section_)];
        firstEntry_ = true;
    }
}

void SnapshotEncoder::addFolder(const DriveFolder& folder) {
    enter(Section::folders);
    beginRow(folder.id);
    appendOptionalInteger(out_, "parentFolderID", folder.parentFolderID);
    appendMember(out_, "name");
    appendJSONString(out_, folder.name);
    appendMember(out_, "modifiedAt");
    appendJSONDouble(out_, unixSeconds(folder.modifiedAt));
    out_ += '}';
}

void SnapshotEncoder::addFile(const DriveFile& file) {
    enter(Section::files);
    writeFileRow(file);
}

void SnapshotEncoder::addWithdrawn(const DriveFile& file) {
    enter(Section::withdrawn);
    writeFileRow(file);
}

void SnapshotEncoder::writeFileRow(const DriveFile& file) {
    beginRow(file.id);
    appendOptionalInteger(out_, "parentFolderID", file.parentFolderID);
    appendMember(out_, "name");
    appendJSONString(out_, file.name);
    appendMember(out_, "storageKey");
    appendJSONString(out_, file.storageKey);
    appendMember(out_, "size");
    appendJSONInteger(out_, file.size);
    appendOptionalString(out_, "contentHash", file.contentHash);
    appendMember(out_, "modifiedAt");
    appendJSONDouble(out_, unixSeconds(file.modifiedAt));
    appendOptionalString(out_, "thumbnailPath", file.thumbnailPath);
    appendOptionalInteger(out_, "uploadTimestamp", file.uploadTimestamp);
    out_ += '}';
}

std::string SnapshotEncoder::finish() {
    // Without withdrawn files the document keeps the form readers before
    // that key knew.
    if (section_ == Section::folders) enter(Section::files);
    out_ += "]}";
    return std::move(out_);
}

std::string encodeSnapshot(const ItemSnapshot& snapshot) {
    std::size_t bytes = 0;
    for (const DriveFolder& folder : snapshot.folders) bytes += SnapshotEncoder::rowSize(folder);
    for (const DriveFile& file : snapshot.files) bytes += SnapshotEncoder::rowSize(file);
    for (const DriveFile& file : snapshot.withdrawn) bytes += SnapshotEncoder::rowSize(file);
    SnapshotEncoder encoder(snapshot.cursor, bytes);
    for (const DriveFolder& folder : snapshot.folders) encoder.addFolder(folder);
    for (const DriveFile& file : snapshot.files) encoder.addFile(file);
    for (const DriveFile& file : snapshot.withdrawn) encoder.addWithdrawn(file);
    return encoder.finish();
}

std::optional<ItemSnapshot> decodeSnapshot(std::string_view bytes) {
    StoredSnapshot stored;
    try {
        stored = decodeJsonObject(bytes, snapshotPlan());
    } catch (const std::exception&) {
        return std::nullopt;
    }
    ItemSnapshot snapshot;
    snapshot.cursor = stored.cursor;
    snapshot.folders.reserve(stored.folders.size());
    for (StoredFolder& row : stored.folders) snapshot.folders.push_back(folderRecord(std::move(row)));
    stored.folders = {};
    snapshot.files.reserve(stored.files.size());
    for (StoredFile& row : stored.files) snapshot.files.push_back(fileRecord(std::move(row)));
    stored.files = {};
    for (StoredFile& row : stored.withdrawn.value_or(std::vector<StoredFile>{})) {
        snapshot.withdrawn.push_back(fileRecord(std::move(row)));
        snapshot.withdrawn.back().isTrashed = true;
    }
    return snapshot;
}

}  // namespace cadrio
