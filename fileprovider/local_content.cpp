#include "fileprovider/local_content.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "core/model/content_hasher.hpp"
#include "core/support/uuid.hpp"
#include "platform/types/content_type_registry.hpp"

namespace cadrio {
namespace {

std::filesystem::path createEmptyTemporaryFile() {
    std::filesystem::path path = std::filesystem::temp_directory_path() / randomUUID();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        throw std::filesystem::filesystem_error("cannot create an empty file", path,
                                                std::error_code(errno, std::generic_category()));
    }
    ::close(fd);
    return path;
}

}  // namespace

std::optional<std::int64_t> localFileSize(const std::filesystem::path& path) {
    const std::filesystem::file_status status = std::filesystem::status(path);  // throws when unreadable
    if (!std::filesystem::exists(status)) {
        throw std::filesystem::filesystem_error("cannot read the attributes of", path,
                                                std::make_error_code(std::errc::no_such_file_or_directory));
    }
    if (!std::filesystem::is_regular_file(status)) return std::nullopt;
    return static_cast<std::int64_t>(std::filesystem::file_size(path));
}

LocalContent localContent(const std::optional<std::filesystem::path>& path, std::string_view name) {
    LocalContent content;
    content.url = path ? *path : createEmptyTemporaryFile();
    content.size = localFileSize(content.url).value_or(0);
    content.contentType = types::ContentTypeRegistry::shared().uploadMimeType(name);
    content.contentHash = ContentHasher::sha256(content.url);
    return content;
}

}  // namespace cadrio
