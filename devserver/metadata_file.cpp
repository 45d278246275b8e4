#include "devserver/metadata_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace cadrio::devserver {
namespace fs = std::filesystem;

namespace {

std::runtime_error failure(const std::string& what, const fs::path& path) {
    return std::runtime_error(what + " " + path.string() + ": " + std::strerror(errno));
}

void writeAll(int fd, const std::string& text, const fs::path& path) {
    std::size_t written = 0;
    while (written < text.size()) {
        const auto n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw failure("cannot write", path);
        written += static_cast<std::size_t>(n);
    }
}

}  // namespace

MetadataFile::MetadataFile(fs::path path) : path_(std::move(path)) {}

std::optional<nlohmann::json> MetadataFile::load() const {
    std::error_code error;
    if (!fs::exists(path_, error)) return std::nullopt;
    std::ifstream in(path_, std::ios::binary);
    if (!in) throw failure("cannot open", path_);
    std::stringstream text;
    text << in.rdbuf();
    auto state = nlohmann::json::parse(text.str(), nullptr, /*allow_exceptions=*/false);
    if (state.is_discarded()) throw std::runtime_error("unreadable state file " + path_.string() + " (not JSON)");
    return state;
}

void MetadataFile::save(std::uint64_t version, const nlohmann::json& state) {
    LockGuard lock(mutex_);
    if (anyWritten_ && version <= written_) return;
    const auto text = state.dump(1, ' ', false, nlohmann::json::error_handler_t::replace);
    const auto temporary = fs::path(path_.string() + ".tmp");
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) throw failure("cannot create", temporary);
    try {
        writeAll(fd, text, temporary);
        if (::fsync(fd) != 0) throw failure("cannot flush", temporary);
    } catch (...) {
        ::close(fd);
        throw;
    }
    if (::close(fd) != 0) throw failure("cannot close", temporary);
    if (std::rename(temporary.c_str(), path_.c_str()) != 0) throw failure("cannot replace", path_);
    // The rename itself reaches the disk with the directory.
    const int directory = ::open(path_.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory >= 0) {
        ::fsync(directory);
        ::close(directory);
    }
    written_ = version;
    anyWritten_ = true;
}

}  // namespace cadrio::devserver
