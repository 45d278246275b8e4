#pragma once
// What the fuzz targets share: the input as text, the check that turns a
// broken promise into a crash libFuzzer keeps, and a private folder for the
// targets whose parser reads a file. Single-threaded, like libFuzzer's loop.

#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>

#include "platform/log/log_sink.hpp"
#include "platform/log/logger.hpp"

namespace cadrio::fuzz {

inline std::string_view text(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

/// A trap rather than an exception: nothing in the parser can catch it.
inline void require(bool condition) {
    if (!condition) __builtin_trap();
}

/// A folder of this process under the temporary folder, removed at exit.
/// RAM-backed /dev/shm is preferred: the file targets write once per input.
inline const std::filesystem::path& scratchFolder() {
    static const std::filesystem::path folder = [] {
        const char* base = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
        std::string pattern = std::string(base) + "/cadrio-fuzz-XXXXXX";
        if (!mkdtemp(pattern.data())) __builtin_trap();
        return std::filesystem::path(pattern);
    }();
    static const bool cleanup = [] {
        atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(folder, ignored);
        });
        return true;
    }();
    (void)cleanup;
    return folder;
}

/// Keeps the parsers' complaints about bad input (one per input) out of the
/// journal and the terminal; faults still show.
inline void quietLogs() {
    log::setProcessSink(std::make_shared<log::StreamSink>(2, log::Level::fault));
}

/// Replaces `path` with `bytes`.
inline void writeFile(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) __builtin_trap();
}

}  // namespace cadrio::fuzz
