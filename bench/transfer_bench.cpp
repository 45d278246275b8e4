// The client side of run_transfer_bench.sh: each command does one thing the
// script compares with a public tool on the same file or server.
//
//   transfer_bench hash FILE
//       prints the SHA-256 as ContentHasher computes it (the script times
//       the process, like sha256sum's)
//   transfer_bench grant API FILE_ID
//       prints a presigned download address of the file
//   transfer_bench download API FILE_ID OUT
//       streams the file through a grant into OUT with CurlTransport
//   transfer_bench upload API FILE NAME
//       creates NAME from FILE through DriveAPI (parts above 16 MiB)
//   transfer_bench open-parts API FILE NAME
//       opens a multipart upload of FILE and presigns every part, for an
//       outside tool to send; prints the upload and one URL per part
//   transfer_bench complete API FILE NAME UPLOAD_ID S3_KEY ETAGS
//       completes it with the ETags (one a line, in part order)
//   transfer_bench complete-replace API FILE FILE_ID UPLOAD_ID S3_KEY ETAGS
//       completes it as the new content of FILE_ID instead
//
// API is the drive API base URL, e.g. http://127.0.0.1:PORT/api/v1; the
// commands sign in as the demo account. Timed commands print
// "key=value" pairs: seconds of the timed work only (sign-in, grant and
// process start excluded), bytes, and the peak resident memory.

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/api/drive_api.hpp"
#include "core/api/multipart_upload.hpp"
#include "core/api/upload_requests.hpp"
#include "core/http/curl_transport.hpp"
#include "core/model/content_hasher.hpp"

namespace cadrio {
namespace {

using Seconds = std::chrono::duration<double>;

double secondsSince(std::chrono::steady_clock::time_point start) {
    return Seconds(std::chrono::steady_clock::now() - start).count();
}

long peakResidentKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

/// CurlTransport that adds up the time spent in the part transfers to
/// storage (exchanges outside the API) and in the completion request, whose
/// time is mostly the server assembling the parts.
class TimingTransport final : public HTTPTransport {
public:
    explicit TimingTransport(std::string apiBase) : apiBase_(std::move(apiBase)) {}

    HttpResponse send(const HttpRequest& request, std::stop_token stop) override {
        const auto start = std::chrono::steady_clock::now();
        HttpResponse response = curl_.send(request, stop);
        const auto nanos = (std::chrono::steady_clock::now() - start).count();
        if (request.url.rfind(apiBase_, 0) != 0) externalNanos_ += nanos;
        if (request.url.ends_with("/complete")) completionNanos_ += nanos;
        return response;
    }
    HttpResponse stream(const HttpRequest& request, HttpStreamSink& sink,
                        std::stop_token stop) override {
        return curl_.stream(request, sink, stop);
    }
    double externalSeconds() const { return static_cast<double>(externalNanos_.load()) / 1e9; }
    double completionSeconds() const { return static_cast<double>(completionNanos_.load()) / 1e9; }

private:
    CurlTransport curl_;
    std::string apiBase_;
    std::atomic<std::int64_t> externalNanos_{0};
    std::atomic<std::int64_t> completionNanos_{0};
};

struct Session {
    std::shared_ptr<TimingTransport> transport;
    std::shared_ptr<ApiClient> client;
    DriveAPI api;
};

Session signIn(const std::string& apiBase) {
    auto transport = std::make_shared<TimingTransport>(apiBase);
    auto client = std::make_shared<ApiClient>(
        DriveConfiguration(apiBase, 3, std::chrono::milliseconds(400), 60), transport,
        std::make_shared<InMemorySessionStore>(), std::make_shared<InMemoryTrustedDeviceStore>());
    if (!client->login("demo@cadrio.test", "cadrio-demo").isSignedIn()) {
        throw std::runtime_error("the demo account asks for a second factor");
    }
    return {transport, client, DriveAPI(client)};
}

DriveFile fileWithID(std::int64_t id) {
    DriveFile file;
    file.id = id;
    return file;
}

LocalContent localContent(const std::string& path) {
    const auto size = static_cast<std::int64_t>(std::filesystem::file_size(path));
    return {path, size, ContentHasher::sha256(path), "application/octet-stream"};
}

int hash(const std::vector<std::string>& args) {
    std::cout << ContentHasher::sha256(args.at(0)) << "\n";
    return 0;
}

int grant(const std::vector<std::string>& args) {
    const Session session = signIn(args.at(0));
    std::cout << session.api.contentURL(fileWithID(std::stoll(args.at(1)))).url << "\n";
    return 0;
}

int download(const std::vector<std::string>& args) {
    const Session session = signIn(args.at(0));
    const DriveDownload grant = session.api.contentURL(fileWithID(std::stoll(args.at(1))));
    const int fd = ::open(args.at(2).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) throw std::runtime_error("cannot create " + args.at(2));
    std::int64_t bytes = 0;
    HttpStreamSink sink;
    sink.onData = [&](std::string_view chunk) {
        bytes += static_cast<std::int64_t>(chunk.size());
        return ::write(fd, chunk.data(), chunk.size()) == static_cast<ssize_t>(chunk.size());
    };
    HttpRequest request;
    request.url = grant.url;
    request.redirects = session.client->storageDownloadRedirects();
    const auto start = std::chrono::steady_clock::now();
    const HttpResponse response = session.transport->stream(request, sink, {});
    const double seconds = secondsSince(start);
    ::close(fd);
    if (response.status != 200)
        throw std::runtime_error("download answered " + std::to_string(response.status));
    DriveDownload::checkReceived(bytes, grant.fileSize);
    std::cout << "seconds=" << seconds << " bytes=" << bytes
              << " peak_rss_kib=" << peakResidentKiB() << "\n";
    return 0;
}

int upload(const std::vector<std::string>& args) {
    const Session session = signIn(args.at(0));
    const LocalContent content = localContent(args.at(1));
    const long rssBefore = peakResidentKiB();
    int reports = 0;
    const auto start = std::chrono::steady_clock::now();
    const DriveFile file =
        session.api.createFile(args.at(2), std::nullopt, content, [&](std::int64_t) { ++reports; });
    const double seconds = secondsSince(start);
    if (file.size != content.size) throw std::runtime_error("the drive kept another size");
    std::cout << "seconds=" << seconds << " put_seconds=" << session.transport->externalSeconds()
              << " complete_seconds=" << session.transport->completionSeconds()
              << " bytes=" << content.size << " progress_reports=" << reports
              << " peak_rss_kib_before=" << rssBefore << " peak_rss_kib=" << peakResidentKiB()
              << "\n";
    return 0;
}

int openParts(const std::vector<std::string>& args) {
    const Session session = signIn(args.at(0));
    const LocalContent content = localContent(args.at(1));
    const auto start = std::chrono::steady_clock::now();
    const MultipartUploadState upload = startMultipartUpload(
        *session.client, multipartInitBody(args.at(2), std::nullopt, content), content.size, {});
    std::vector<std::string> urls;
    for (std::int64_t sent = 0, number = 1; sent < content.size;
         sent += upload.partSize, ++number) {
        urls.push_back(session.client
                           ->post<PresignDTO>("/drive/upload/multipart/presign",
                                              partPresignBody(upload, static_cast<int>(number)),
                                              Idempotency::idempotent)
                           .url);
    }
    std::cout << "seconds=" << secondsSince(start) << "\nupload_id=" << upload.uploadID
              << "\ns3_key=" << upload.s3Key << "\npart_size=" << upload.partSize << "\n";
    for (const auto& url : urls) std::cout << "url=" << url << "\n";
    return 0;
}

std::vector<DriveAPI::UploadedPart> partsFrom(const std::string& etagFile) {
    std::vector<DriveAPI::UploadedPart> parts;
    std::ifstream etags(etagFile);
    for (std::string etag; std::getline(etags, etag);) {
        if (!etag.empty()) parts.push_back({static_cast<int>(parts.size()) + 1, etag});
    }
    return parts;
}

int complete(const std::vector<std::string>& args, bool replacing) {
    const Session session = signIn(args.at(0));
    const LocalContent content = localContent(args.at(1));
    const MultipartUploadState upload{args.at(3), args.at(4), DriveAPI::partSize(content.size)};
    const std::vector<DriveAPI::UploadedPart> parts = partsFrom(args.at(5));
    const auto start = std::chrono::steady_clock::now();
    if (replacing) {
        session.client->post("/drive/files/" + args.at(2) + "/content/complete",
                             replaceCompleteBody(upload, parts, content, ReplacePrecondition{}),
                             Idempotency::refusedWhenRepeated);
    } else {
        session.client->post<UploadResponseDTO>("/drive/upload/multipart/complete",
                                                createCompleteBody(upload, parts, args.at(2), std::nullopt, content),
                                                Idempotency::refusedWhenRepeated);
    }
    std::cout << "seconds=" << secondsSince(start) << " parts=" << parts.size() << "\n";
    return 0;
}

}  // namespace
}  // namespace cadrio

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr
            << "usage: transfer_bench hash|grant|download|upload|open-parts|complete|complete-replace ARGS...\n";
        return 2;
    }
    const std::string command = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    try {
        if (command == "hash") return cadrio::hash(args);
        if (command == "grant") return cadrio::grant(args);
        if (command == "download") return cadrio::download(args);
        if (command == "upload") return cadrio::upload(args);
        if (command == "open-parts") return cadrio::openParts(args);
        if (command == "complete") return cadrio::complete(args, false);
        if (command == "complete-replace") return cadrio::complete(args, true);
        std::cerr << "transfer_bench: unknown command " << command << "\n";
        return 2;
    } catch (const std::exception& error) {
        std::cerr << "transfer_bench " << command << ": " << error.what() << "\n";
        return 1;
    }
}
