#include "fileprovider/content_download.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <utility>

#include "core/model/decimal_parsing.hpp"
#include "core/model/drive_error.hpp"
#include "core/model/drive_records.hpp"
#include "core/support/cancellation.hpp"
#include "core/support/uuid.hpp"

namespace cadrio {
namespace {

std::filesystem::filesystem_error fileError(const char* what, const std::filesystem::path& path, int error) {
    return std::filesystem::filesystem_error(what, path, std::error_code(error, std::generic_category()));
}

/// The destination while it is written; removed on the way out unless kept.
class ScratchFile {
public:
    explicit ScratchFile(std::filesystem::path path) : path_(std::move(path)) {
        fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd_ < 0) throw fileError("cannot create the download file", path_, errno);
    }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;
    ~ScratchFile() {
        if (fd_ >= 0) ::close(fd_);
        if (!kept_) ::unlink(path_.c_str());
    }

    /// 0, or the errno of the failed write.
    int write(std::string_view chunk) {
        while (!chunk.empty()) {
            const ssize_t written = ::write(fd_, chunk.data(), chunk.size());
            if (written < 0) {
                if (errno == EINTR) continue;
                return errno;
            }
            chunk.remove_prefix(static_cast<std::size_t>(written));
        }
        return 0;
    }

    /// The size on disk; -1 when it cannot be read.
    std::int64_t size() const {
        struct stat attributes {};
        return ::fstat(fd_, &attributes) == 0 ? static_cast<std::int64_t>(attributes.st_size) : -1;
    }

    /// Closes the file, reporting what the system held back until now.
    void close() {
        const int fd = std::exchange(fd_, -1);
        if (::close(fd) != 0 && errno != EINTR) throw fileError("cannot write the download file", path_, errno);
    }

    std::filesystem::path keep() {
        kept_ = true;
        return path_;
    }

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
    int fd_ = -1;
    bool kept_ = false;
};

std::optional<std::int64_t> announcedLength(const HttpHeaders& headers) {
    const std::optional<std::string> text = headerValue(headers, "Content-Length");
    const std::optional<std::int64_t> length = text ? parseSignedDecimal(*text) : std::nullopt;
    if (length && *length < 0) return std::nullopt;
    return length;
}

/// What the sink saw. Its callbacks run inside the transport, which may be
/// C code: they never throw, they record.
struct Transfer {
    Transfer(ScratchFile& file, const DownloadProgress& progress, std::stop_token stop)
        : file(file), progress(progress), stop(std::move(stop)) {}

    ScratchFile& file;
    const DownloadProgress& progress;
    std::stop_token stop;
    bool accepted = false;  // a 2xx answer: its body goes to the file
    std::optional<std::int64_t> expected;
    std::int64_t received = 0;
    int writeError = 0;

    void onResponse(int status, const HttpHeaders& headers) {
        accepted = status >= 200 && status <= 299;
        if (!accepted) return;
        expected = announcedLength(headers);
        if (progress) progress(0, expected);
    }

    bool onData(std::string_view chunk) {
        if (!accepted || stop.stop_requested()) return false;
        writeError = file.write(chunk);
        if (writeError != 0) return false;
        received += static_cast<std::int64_t>(chunk.size());
        if (progress) progress(received, expected);
        return true;
    }

    bool endedShort() const { return accepted && expected && received < *expected; }
};

}  // namespace

DownloadedContent downloadContent(const std::string& url, const std::filesystem::path& directory,
                                  const ApiClient& client, const DownloadProgress& progress,
                                  std::stop_token stop) {
    if (stop.stop_requested()) throw CancellationError();
    ScratchFile file(directory / randomUUID());
    Transfer transfer(file, progress, stop);
    HttpStreamSink sink;
    sink.onResponse = [&transfer](int status, const HttpHeaders& headers) { transfer.onResponse(status, headers); };
    sink.onData = [&transfer](std::string_view chunk) { return transfer.onData(chunk); };

    HttpRequest request;
    request.url = url;
    request.timeoutSeconds = client.configuration().requestTimeout;
    request.redirects = client.storageDownloadRedirects();
    HttpResponse response;
    try {
        response = client.transport().stream(request, sink, stop);
    } catch (const DriveError& error) {
        // A body cut off before its announced end says more as what it is.
        if (error.kind() == DriveError::Kind::transport && transfer.endedShort()) {
            DriveDownload::checkReceived(transfer.received, transfer.expected);
        }
        throw;
    }
    if (stop.stop_requested()) throw CancellationError();
    if (response.status == 0) throw DriveError::transport("réponse vide");
    if (!response.isSuccess()) throw DriveError::http(response.status, "stockage");
    if (transfer.writeError != 0) throw fileError("cannot write the download file", file.path(), transfer.writeError);

    const std::int64_t bytes = file.size();
    file.close();
    DriveDownload::checkReceived(bytes, transfer.expected);
    return {file.keep(), bytes};
}

DownloadProgress attachDownloadProgress(fileprovider::Progress& parent) {
    const std::shared_ptr<fileprovider::Progress> bytes = fileprovider::Progress::create(-1);
    parent.addChild(bytes, parent.totalUnitCount());
    return [bytes](std::int64_t received, std::optional<std::int64_t> expected) {
        bytes->setTotalUnitCount(expected.value_or(-1));
        bytes->setCompletedUnitCount(received);
    };
}

}  // namespace cadrio
