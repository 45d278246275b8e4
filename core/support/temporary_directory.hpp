#pragma once
// A fresh, private folder that is removed with everything in it when the
// owner goes away. Meant for tests and scratch work.

#include <stdlib.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <system_error>

namespace cadrio {

class TemporaryDirectory {
public:
    /// Creates `<temp>/<prefix>-XXXXXX` with mode 0700; throws
    /// std::system_error when it cannot.
    explicit TemporaryDirectory(const std::string& prefix = "cadrio") {
        std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::system_error(errno, std::generic_category(), "cannot create a temporary folder");
        }
        path_ = pattern;
    }
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;
    ~TemporaryDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::filesystem::path& child) const { return path_ / child; }

private:
    std::filesystem::path path_;
};

}  // namespace cadrio
