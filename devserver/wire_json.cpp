#include "devserver/wire_json.hpp"

#include "devserver/service_error.hpp"

#include <charconv>
#include <limits>

namespace cadrio::devserver {

nlohmann::json folderToWire(const FolderRecord& folder) {
    return {
        {"id", folder.id},
        {"id_parent", folder.parentId},
        {"folder_name", folder.name},
        {"date_creation", folder.dateCreation},
        {"date_modified", folder.dateModified},
        {"to_delete", folder.trashed ? 1 : 0},
    };
}

std::string thumbnailPathText(const std::vector<std::string>& keys) {
    return keys.empty() ? std::string() : nlohmann::json(keys).dump();
}

nlohmann::json fileToWire(const FileRecord& file) {
    nlohmann::json json = {
        {"id", file.id},
        {"id_folder", file.folderId},
        {"file_name", file.name},
        {"file_path", file.storageKey},
        {"file_size", file.size},
        {"content_hash", file.contentHash},
        {"content_type", file.contentType},
        {"date_modified", file.dateModified},
        {"date_upload", file.dateUpload},
        {"to_delete", file.trashed ? 1 : 0},
        {"storage_class", file.storageClass},
    };
    if (!file.thumbnailKeys.empty()) json["file_miniatures_path"] = thumbnailPathText(file.thumbnailKeys);
    return json;
}

nlohmann::json uploadResponse(const FileRecord& file) {
    auto json = fileToWire(file);
    json["s3_key"] = file.storageKey;
    return json;
}

nlohmann::json replaceResponse(const FileRecord& file) {
    return {{"id", file.id},
            {"file_path", file.storageKey},
            {"file_size", file.size},
            {"content_hash", file.contentHash},
            {"date_upload", file.dateUpload},
            {"storage_class", file.storageClass}};
}

namespace {

const nlohmann::json* member(const nlohmann::json& object, const char* key) {
    if (!object.is_object()) return nullptr;
    const auto it = object.find(key);
    return it == object.end() || it->is_null() ? nullptr : &*it;
}

ServiceError wrongType(const char* key, const char* expected) {
    return badRequest(std::string("Champ \"") + key + "\" : " + expected + " attendu.");
}

}  // namespace

std::optional<std::int64_t> optionalInt(const nlohmann::json& object, const char* key) {
    const auto* value = member(object, key);
    if (value == nullptr) return std::nullopt;
    if (value->is_number_integer()) {
        if (value->is_number_unsigned() &&
            value->get<std::uint64_t>() > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            throw wrongType(key, "entier sur 64 bits");
        }
        return value->get<std::int64_t>();
    }
    throw wrongType(key, "entier");
}

std::int64_t requireInt(const nlohmann::json& object, const char* key) {
    const auto value = optionalInt(object, key);
    if (!value) throw badRequest(std::string("Champ \"") + key + "\" manquant.");
    return *value;
}

std::optional<std::string> optionalText(const nlohmann::json& object, const char* key) {
    const auto* value = member(object, key);
    if (value == nullptr) return std::nullopt;
    if (!value->is_string()) throw wrongType(key, "texte");
    return value->get<std::string>();
}

std::string requireText(const nlohmann::json& object, const char* key) {
    auto value = optionalText(object, key);
    if (!value) throw badRequest(std::string("Champ \"") + key + "\" manquant.");
    return *value;
}

std::optional<bool> optionalBool(const nlohmann::json& object, const char* key) {
    const auto* value = member(object, key);
    if (value == nullptr) return std::nullopt;
    if (!value->is_boolean()) throw wrongType(key, "booléen");
    return value->get<bool>();
}

std::vector<std::int64_t> intList(const nlohmann::json& object, const char* key) {
    const auto* value = member(object, key);
    if (value == nullptr) return {};
    if (!value->is_array()) throw wrongType(key, "liste d'entiers");
    std::vector<std::int64_t> result;
    for (const auto& element : *value) {
        const nlohmann::json wrapper = {{key, element}};
        const auto number = optionalInt(wrapper, key);
        if (!number) throw wrongType(key, "liste d'entiers");
        result.push_back(*number);
    }
    return result;
}

std::optional<std::int64_t> parseInt64(const std::string& text) {
    std::string_view digits = text;
    if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
    if (digits.empty() || (digits.front() == '-' && digits.size() == 1)) return std::nullopt;
    std::int64_t value = 0;
    const auto* end = digits.data() + digits.size();
    const auto [ptr, error] = std::from_chars(digits.data(), end, value);
    if (error != std::errc() || ptr != end) return std::nullopt;
    if (digits.front() == '-' && text.front() == '+') return std::nullopt;
    return value;
}

}  // namespace cadrio::devserver
