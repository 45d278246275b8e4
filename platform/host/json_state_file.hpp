#pragma once
// A small JSON object the host keeps on disk (the domain registry, the
// plug-in elections): read tolerantly, replaced atomically.
//
// A file that is missing reads as an empty object. One that cannot be read,
// is not JSON or not an object also reads as empty, is logged once, and is
// moved aside to "<name>.damaged" by the next save() (so the user's data is
// never silently overwritten) before the new content is written. The folder
// is created with mode 0700 on save.
//
// Threads: not thread-safe; the owner serialises load() and save().

#include <filesystem>

#include <nlohmann/json.hpp>

#include "platform/log/logger.hpp"

namespace cadrio::host {

class JsonStateFile {
public:
    /// Files larger than this are not read (treated as damaged).
    static constexpr std::size_t kMaxBytes = 4 << 20;

    JsonStateFile(std::filesystem::path file, log::Logger logger)
        : file_(std::move(file)), logger_(std::move(logger)) {}

    const std::filesystem::path& path() const { return file_; }

    /// The file's object, or an empty object (see above). Never throws.
    nlohmann::json load();
    /// Replaces the file with `object`. Throws std::system_error /
    /// std::filesystem::filesystem_error when it cannot; the previous file
    /// is then left as it was.
    void save(const nlohmann::json& object);

private:
    const std::filesystem::path file_;
    const log::Logger logger_;
    bool damaged_ = false;  // the file on disk is not ours to overwrite
};

}  // namespace cadrio::host
