#include "platform/types/builtin_types.hpp"

#include <string_view>
#include <utility>

namespace cadrio::types {
namespace {

constexpr std::pair<std::string_view, std::string_view> kExtensions[] = {
    {"txt", "text/plain"},
    {"md", "text/markdown"},
    {"csv", "text/csv"},
    {"html", "text/html"},
    {"htm", "text/html"},
    {"css", "text/css"},
    {"xml", "application/xml"},
    {"json", "application/json"},
    {"js", "application/javascript"},
    {"pdf", "application/pdf"},
    {"rtf", "application/rtf"},
    {"doc", "application/msword"},
    {"docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
    {"xls", "application/vnd.ms-excel"},
    {"xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
    {"ppt", "application/vnd.ms-powerpoint"},
    {"pptx", "application/vnd.openxmlformats-officedocument.presentationml.presentation"},
    {"odt", "application/vnd.oasis.opendocument.text"},
    {"ods", "application/vnd.oasis.opendocument.spreadsheet"},
    {"odp", "application/vnd.oasis.opendocument.presentation"},
    {"zip", "application/zip"},
    {"gz", "application/gzip"},
    {"tar", "application/x-tar"},
    {"7z", "application/x-7z-compressed"},
    {"jpg", "image/jpeg"},
    {"jpeg", "image/jpeg"},
    {"png", "image/png"},
    {"gif", "image/gif"},
    {"webp", "image/webp"},
    {"heic", "image/heif"},
    {"svg", "image/svg+xml"},
    {"tif", "image/tiff"},
    {"tiff", "image/tiff"},
    {"mp3", "audio/mpeg"},
    {"wav", "audio/x-wav"},
    {"ogg", "audio/ogg"},
    {"flac", "audio/flac"},
    {"mp4", "video/mp4"},
    {"mov", "video/quicktime"},
    {"mkv", "video/x-matroska"},
    {"webm", "video/webm"},
};

}  // namespace

std::vector<GlobRule> builtinGlobs() {
    std::vector<GlobRule> rules;
    rules.reserve(std::size(kExtensions) + 1);
    for (const auto& [extension, type] : kExtensions) {
        rules.push_back(GlobRule{50, std::string(type), "*." + std::string(extension), false});
    }
    rules.push_back(GlobRule{80, "application/x-compressed-tar", "*.tar.gz", false});
    return rules;
}

ContentTypeRegistry::Parents builtinParents() {
    return {
        {"image/svg+xml", "application/xml"},
        {"application/xml", "text/plain"},
        {"application/x-compressed-tar", "application/gzip"},
        {"inode/mount-point", "inode/directory"},
    };
}

}  // namespace cadrio::types
