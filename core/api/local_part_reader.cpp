#include "core/api/local_part_reader.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace cadrio {
namespace {

[[noreturn]] void fail(const char* what, const std::filesystem::path& path) {
    throw std::filesystem::filesystem_error(what, path,
                                            std::error_code(errno, std::generic_category()));
}

}  // namespace

LocalPartReader::LocalPartReader(const std::filesystem::path& path)
    : path_(path), fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    if (fd_ < 0) fail("cannot open the file to upload", path_);
}

LocalPartReader::~LocalPartReader() {
    ::close(fd_);
}

void LocalPartReader::readPart(std::string& buffer, std::size_t maxBytes) {
    buffer.resize(maxBytes);
    std::size_t filled = 0;
    // A regular file may still answer a large read in pieces; a part is cut
    // short only by the end of the file.
    while (filled < maxBytes) {
        const ssize_t count = ::read(fd_, buffer.data() + filled, maxBytes - filled);
        if (count == 0) break;
        if (count < 0) {
            if (errno == EINTR) continue;
            buffer.clear();
            fail("cannot read the file to upload", path_);
        }
        filled += static_cast<std::size_t>(count);
    }
    buffer.resize(filled);
}

}  // namespace cadrio
