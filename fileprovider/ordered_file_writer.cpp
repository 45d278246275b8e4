#include "fileprovider/ordered_file_writer.hpp"

#include <exception>
#include <utility>

#include "core/support/atomic_file.hpp"

namespace cadrio {

OrderedFileWriter::OrderedFileWriter(std::optional<std::filesystem::path> path, Write write)
    : path_(std::move(path)),
      write_(write ? std::move(write)
                   : Write([](const std::filesystem::path& target, std::string_view bytes) {
                         writeFileAtomically(target, bytes);
                     })) {}

bool OrderedFileWriter::write(std::uint64_t generation, std::string_view bytes) {
    if (!path_) return false;
    LockGuard lock(mutex_);
    if (generation <= written_) return false;
    try {
        write_(*path_, bytes);
    } catch (const std::exception&) {
        return false;
    }
    written_ = generation;
    return true;
}

}  // namespace cadrio
