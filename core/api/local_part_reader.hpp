#pragma once
// Sequential reading of a local file in parts, for uploads that must never
// hold more than one part in memory. The descriptor is closed when the
// reader goes away, on every path out of an upload.
//
// Not shared: one reader belongs to one upload on one thread.

#include <cstddef>
#include <filesystem>
#include <string>

namespace cadrio {

class LocalPartReader {
public:
    /// Throws std::filesystem::filesystem_error when the file cannot be opened.
    explicit LocalPartReader(const std::filesystem::path& path);
    LocalPartReader(const LocalPartReader&) = delete;
    LocalPartReader& operator=(const LocalPartReader&) = delete;
    ~LocalPartReader();

    /// Replaces `buffer`'s content with the next bytes of the file, up to
    /// `maxBytes`: fewer only at the end of the file, none once it is
    /// reached. Keeps `buffer`'s capacity, so one buffer serves all parts.
    /// Throws std::filesystem::filesystem_error on a read error.
    void readPart(std::string& buffer, std::size_t maxBytes);

private:
    std::filesystem::path path_;
    int fd_ = -1;
};

}  // namespace cadrio
