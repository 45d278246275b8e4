#include "tests/api/live_drive.hpp"

#include <fstream>
#include <stdexcept>

#include "core/model/content_hasher.hpp"

namespace cadrio::testing {

void LiveDrive::download(const std::string& url, const std::filesystem::path& target) const {
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    HttpStreamSink sink;
    sink.onData = [&out](std::string_view chunk) {
        out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        return static_cast<bool>(out);
    };
    HttpRequest request;
    request.url = url;
    request.redirects = client_->storageDownloadRedirects();
    const HttpResponse response = transport_->stream(request, sink, {});
    if (response.status != 200)
        throw std::runtime_error("download answered " + std::to_string(response.status));
}

DriveFile LiveDrive::fileNamed(const std::string& name, std::optional<std::int64_t> folder) const {
    for (const auto& file : api().files(folder)) {
        if (file.name == name) return file;
    }
    throw std::runtime_error("no file " + name);
}

DriveFolder LiveDrive::folderNamed(const std::string& name,
                                   std::optional<std::int64_t> parent) const {
    for (const auto& folder : api().folders(parent)) {
        if (folder.name == name) return folder;
    }
    throw std::runtime_error("no folder " + name);
}

LocalContent writeLocalContent(const std::filesystem::path& path, std::int64_t size,
                               unsigned seed) {
    std::string chunk(1 << 20, '\0');
    std::uint32_t state = seed * 2654435761u + 1;
    for (auto& byte : chunk) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<char>(state >> 24);
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (std::int64_t left = size; left > 0;) {
        const auto count = static_cast<std::streamsize>(std::min<std::int64_t>(left, chunk.size()));
        out.write(chunk.data(), count);
        left -= count;
        chunk[0] = static_cast<char>(chunk[0] + 1);  // chunks differ, so a repeated part shows
    }
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path.string());
    return {path, size, ContentHasher::sha256(path), "application/octet-stream"};
}

}  // namespace cadrio::testing
