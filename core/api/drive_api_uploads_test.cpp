#include "core/api/drive_api.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <limits>
#include <map>
#include <optional>
#include <stop_token>
#include <tuple>

#include "core/api/testing/api_fixture.hpp"
#include "core/support/cancellation.hpp"
#include "core/support/temporary_directory.hpp"

namespace cadrio {
namespace {

using testing::ApiFixture;
using testing::driveErrorOf;
using testing::sampleDriveFile;

constexpr std::int64_t kMiB8 = 8'388'608;

/// Bytes [from, from + count) of the test content, whose byte i is
/// i * 7 mod 251, so that parts cut in the wrong place are told apart.
std::string expectedBytes(std::int64_t from, std::int64_t count) {
    std::string bytes(static_cast<std::size_t>(count), '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>((static_cast<std::size_t>(from) + i) * 7 % 251);
    }
    return bytes;
}

LocalContent writeContent(const TemporaryDirectory& dir, std::int64_t size,
                          const std::string& name = "c.bin") {
    const std::string bytes = expectedBytes(0, size);
    std::ofstream(dir / name, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return {dir / name, size, "hash-" + std::to_string(size), "application/pdf"};
}

using Route = std::function<HttpResponse(const HttpRequest&)>;

/// A signed-in API whose transport answers the upload endpoints and the
/// storage service like the drive does (a test overrides single routes by
/// their path suffix), recording the progress reports it is handed.
struct UploadFixture : ApiFixture {
    std::map<std::string, Route> overrides;
    std::vector<std::int64_t> progress;

    UploadFixture() {
        for (int i = 0; i < 40; ++i) transport->enqueue([this](const HttpRequest& r) { return answer(r); });
    }

    DriveAPI::Progress recordProgress() {
        return [this](std::int64_t bytes) { progress.push_back(bytes); };
    }

    HttpResponse answer(const HttpRequest& request) const {
        const std::string url = request.url.substr(0, request.url.find('?'));
        for (const auto& [suffix, route] : overrides) {
            if (url.ends_with(suffix)) return route(request);
        }
        if (url.ends_with("/multipart/init")) {
            return {200, {}, R"({"upload_id": "U1", "s3_key": "k/obj", "part_size": 5})"};
        }
        if (url.ends_with("/multipart/presign")) {
            const int part = nlohmann::json::parse(request.body)["part_number"].get<int>();
            return {200, {}, nlohmann::json{{"url", "https://storage.test/part?n=" + std::to_string(part)}}.dump()};
        }
        if (url == "https://storage.test/part") {
            return {200, {{"ETag", "\"e" + request.url.substr(request.url.find("n=") + 2) + "\""}}, ""};
        }
        if (url.ends_with("/download-url")) {
            return {200, {}, R"({"url": "https://storage.test/o", "file_size": 99, "date_upload": 1700000000})"};
        }
        if (url.ends_with("/upload/file") || url.ends_with("/multipart/complete")) {
            return {200, {}, R"({"id": 501, "s3_key": "k/new", "file_miniatures_path": ""})"};
        }
        if (url.ends_with("/content") || url.ends_with("/content/complete")) {
            return {200, {}, R"({"id": 7, "file_size": 3.0, "content_hash": "h2", "date_upload": 1700000500})"};
        }
        if (url.ends_with("/multipart/abort")) return {200, {}, "{}"};
        return {599, {}, "unexpected " + request.url};
    }
};

std::vector<std::string> paths(const ApiFixture& f) {
    std::vector<std::string> result;
    for (const auto& request : f.requests()) {
        const std::string path = ApiFixture::path(request);
        result.push_back(path.starts_with("https://storage.test/") ? "PUT storage" : path);
    }
    return result;
}

TEST(DriveAPIUploads, PartSize) {
    const std::pair<std::int64_t, std::int64_t> cases[] = {
        {0, kMiB8}, {83'886'070'000, kMiB8}, {83'886'080'001, 8'388'609}, {100'000'000'000, 10'000'000},
        {std::numeric_limits<std::int64_t>::max(), 922'337'203'685'478},
    };
    for (const auto& [size, part] : cases) EXPECT_EQ(DriveAPI::partSize(size), part) << size;
}

TEST(DriveAPIUploads, OneByteMoreGoesInPartsStreamedFromDisk) {
    TemporaryDirectory dir;
    const LocalContent content = writeContent(dir, DriveAPI::directUploadLimit + 1);
    UploadFixture f;

    f.api.createFile("big.bin", std::nullopt, content, f.recordProgress());

    EXPECT_EQ(paths(f), (std::vector<std::string>{
                            "/drive/upload/multipart/init", "/drive/upload/multipart/presign",
                            "PUT storage", "/drive/upload/multipart/presign", "PUT storage",
                            "/drive/upload/multipart/presign", "PUT storage",
                            "/drive/upload/multipart/complete", "/drive/files/501/download-url"}));
    const auto requests = f.requests();
    const std::int64_t sizes[] = {kMiB8, kMiB8, 1};
    std::int64_t offset = 0;
    for (int part = 0; part < 3; ++part) {
        const HttpRequest& put = requests[2 + 2 * part];
        EXPECT_EQ(put.method, "PUT");
        EXPECT_EQ(put.timeoutSeconds, 300);
        EXPECT_FALSE(ApiFixture::header(put, "Authorization"));
        EXPECT_TRUE(put.body == expectedBytes(offset, sizes[part])) << "part " << part + 1;
        offset += sizes[part];
    }
}

// The fallback's download grant fails too: the file is handed back undated.
TEST(DriveAPIUploads, ASingleUploadRefusedAsTooLargeIsSentInParts) {
    TemporaryDirectory dir;
    const LocalContent content = writeContent(dir, 10);
    UploadFixture f;
    f.overrides["/upload/file"] = [](const HttpRequest&) { return HttpResponse{413, {}, "too big"}; };
    f.overrides["/multipart/complete"] = [](const HttpRequest&) {
        return HttpResponse{200, {}, R"({"id": 502})"};
    };
    f.overrides["/download-url"] = [](const HttpRequest&) { return HttpResponse{500, {}, "down"}; };

    const DriveFile file = f.api.createFile("n.txt", 4, content, f.recordProgress());

    const auto p = paths(f);
    ASSERT_GE(p.size(), 5u);
    EXPECT_EQ(p[0], "/drive/upload/file");
    EXPECT_EQ(p[1], "/drive/upload/multipart/init");
    EXPECT_EQ(f.request(3).body, expectedBytes(0, 10));
    EXPECT_EQ(f.progress, std::vector<std::int64_t>{10});
    EXPECT_EQ(file.id, 502);
    EXPECT_EQ(file.uploadTimestamp, std::nullopt);
}

TEST(DriveAPIUploads, TheGrantDatesTheCreatedFileOnlyWhenItDescribesTheBytesSent) {
    const std::pair<const char*, std::optional<std::int64_t>> cases[] = {
        {R"("file_size": 10, "content_hash": "hash-10", "date_upload": 1700000000)", 1700000000},
        {R"("file_size": 11, "date_upload": 1700000009)", std::nullopt},
        {R"("file_size": 10, "content_hash": "other", "date_upload": 1700000009)", std::nullopt},
    };
    for (const auto& [fields, uploadTimestamp] : cases) {
        SCOPED_TRACE(fields);
        const std::string grant = std::string(R"({"url": "https://storage.test/o", )") + fields + "}";
        TemporaryDirectory dir;
        const LocalContent content = writeContent(dir, 10);
        UploadFixture f;
        f.overrides["/download-url"] = [&](const HttpRequest&) { return HttpResponse{200, {}, grant}; };
        const DriveFile file = f.api.createFile("n.txt", 4, content);
        EXPECT_EQ(file.uploadTimestamp, uploadTimestamp);
        EXPECT_EQ(file.size, 10);
        EXPECT_EQ(file.contentHash, "hash-10");
    }
}

TEST(DriveAPIUploads, PartLoopFailuresAbortTheServerUpload) {
    struct Case {
        const char* name;
        std::int64_t announced;  // the size the caller took before the upload
        std::string route;
        Route answer;
        DriveError expected;
    };
    const std::int64_t real = DriveAPI::directUploadLimit + 100;
    const Case cases[] = {
        {"presigned address not a web URL", real, "/multipart/presign",
         [](const HttpRequest&) { return HttpResponse{200, {}, R"({"url": "file:///tmp/x"})"}; },
         DriveError::decoding("URL de part invalide")},
        {"storage refuses", real, "storage.test/part",
         [](const HttpRequest&) { return HttpResponse{403, {}, "denied"}; }, DriveError::http(403, "denied")},
        {"storage answer without ETag", real, "storage.test/part",
         [](const HttpRequest&) { return HttpResponse{200, {}, ""}; },
         DriveError::decoding("ETag absent de la réponse du stockage")},
        {"file shrank", real + kMiB8, "", nullptr, DriveError::transport("le fichier a changé pendant l'envoi")},
    };
    TemporaryDirectory dir;
    const LocalContent written = writeContent(dir, real);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LocalContent content = written;
        content.size = c.announced;
        UploadFixture f;
        if (c.answer) f.overrides[c.route] = c.answer;
        EXPECT_EQ(driveErrorOf([&] { f.api.createFile("x", std::nullopt, content); }), c.expected);
        const auto requests = f.requests();
        ASSERT_FALSE(requests.empty());
        EXPECT_EQ(ApiFixture::path(requests.back()), "/drive/upload/multipart/abort");
        EXPECT_EQ(ApiFixture::json(requests.back()), (nlohmann::json{{"s3_key", "k/obj"}, {"upload_id", "U1"}}));
    }
}

TEST(DriveAPIUploads, AFileThatGrewSendsItsLastPartInFull) {
    TemporaryDirectory dir;
    LocalContent content = writeContent(dir, 3 * kMiB8 - 5);
    content.size = DriveAPI::directUploadLimit + 1;
    UploadFixture f;
    f.api.replaceContent(sampleDriveFile(), content, {}, f.recordProgress());
    EXPECT_EQ(f.progress, (std::vector<std::int64_t>{kMiB8, 2 * kMiB8, 3 * kMiB8 - 5}));
    EXPECT_TRUE(f.request(6).body == expectedBytes(2 * kMiB8, kMiB8 - 5));
    EXPECT_EQ(ApiFixture::json(f.requests().back())["parts"].size(), 3u);
}

TEST(DriveAPIUploads, CancellationBetweenPartsStillAbortsOnTheServer) {
    TemporaryDirectory dir;
    const LocalContent content = writeContent(dir, DriveAPI::directUploadLimit + 1);
    UploadFixture f;
    std::stop_source stop;
    EXPECT_THROW(f.api.createFile(
                     "x", std::nullopt, content, [&](std::int64_t) { stop.request_stop(); },
                     stop.get_token()),
                 CancellationError);
    EXPECT_EQ(paths(f), (std::vector<std::string>{"/drive/upload/multipart/init",
                                                  "/drive/upload/multipart/presign", "PUT storage",
                                                  "/drive/upload/multipart/abort"}));
}

/// The completion's first answer is lost; the copy sent again is refused
/// because the first one went through.
Route completedThenRefused() {
    auto calls = std::make_shared<int>(0);
    return [calls](const HttpRequest&) -> HttpResponse {
        if ((*calls)++ == 0) throw DriveError::transport("connexion coupée");
        return {409, {{"X-Drive-Conflict", "key_in_use"}}, "{}"};
    };
}

Route refused(int status) {
    return [status](const HttpRequest&) { return HttpResponse{status, {}, ""}; };
}

/// A listing of folder 12 holding file 7 under `storageKey`.
Route listingWithFile7(std::string storageKey) {
    return [storageKey](const HttpRequest& request) {
        EXPECT_NE(request.url.find("id_folder=12"), std::string::npos) << request.url;
        return HttpResponse{200, {},
                            nlohmann::json::array({{{"id", 7}, {"id_folder", 12}, {"file_name", "Rapport.pdf"},
                                                    {"file_path", storageKey}, {"file_size", 16'777'217},
                                                    {"content_hash", "h-server"}}})
                                .dump()};
    };
}

// Whatever made it fail, only a replacement's upload is aborted afterwards.
TEST(DriveAPIUploads, CompletionsRefusedOrWhoseAnswerWasLost) {
    struct Case {
        const char* name;
        bool replacement;
        Route completion;
        std::string listedKey;               // of file 7 in folder 12
        std::optional<DriveError> expected;  // none: file 7 is found
        int completions;
    };
    const Case cases[] = {
        {"new file refused", false, refused(507), "k/obj", DriveError::insufficientQuota(), 1},
        {"replacement refused", true, refused(409), "k/obj", DriveError::versionConflict(), 1},
        {"new file, answer lost", false, completedThenRefused(), "k/obj", std::nullopt, 2},
        {"replacement, answer lost", true, completedThenRefused(), "k/obj", std::nullopt, 2},
        {"new file, key elsewhere", false, completedThenRefused(), "k/other", DriveError::http(409, "{}"), 2},
        {"replacement, key elsewhere", true, completedThenRefused(), "k/other", DriveError::http(409, "{}"), 2},
    };
    TemporaryDirectory dir;
    const LocalContent content = writeContent(dir, DriveAPI::directUploadLimit + 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UploadFixture f;
        f.overrides[c.replacement ? "/content/complete" : "/multipart/complete"] = c.completion;
        f.overrides["/drive/files"] = listingWithFile7(c.listedKey);
        const auto upload = [&] {
            return c.replacement ? f.api.replaceContent(sampleDriveFile(), content, {"h1", std::nullopt})
                                 : f.api.createFile("Rapport.pdf", 12, content);
        };
        if (c.expected) {
            EXPECT_EQ(driveErrorOf(upload), *c.expected);
        } else {
            const DriveFile file = upload();
            EXPECT_EQ(file.id, 7);
            EXPECT_EQ(file.contentHash, "h-server");
        }
        const auto sent = paths(f);
        const std::string completion =
            c.replacement ? "/drive/files/7/content/complete" : "/drive/upload/multipart/complete";
        EXPECT_EQ(std::count(sent.begin(), sent.end(), completion), c.completions);
        EXPECT_EQ(sent.back() == "/drive/upload/multipart/abort", c.replacement && c.expected);
    }
}

TEST(DriveAPI, OnlyWhatCannotActTwiceIsSentAgainAfterALostAnswer) {
    TemporaryDirectory dir;
    const LocalContent small = writeContent(dir, 3, "small.bin");
    const LocalContent large = writeContent(dir, DriveAPI::directUploadLimit + 1, "large.bin");
    const std::tuple<const char*, std::function<void(const DriveAPI&)>, bool> cases[] = {
        {"folder creation", [](const DriveAPI& api) { api.createFolder("x", 12); }, false},
        {"single upload", [&](const DriveAPI& api) { api.createFile("x", std::nullopt, small); }, false},
        {"small replacement", [&](const DriveAPI& api) { api.replaceContent(sampleDriveFile(), small, {}); }, false},
        {"multipart init", [&](const DriveAPI& api) { api.createFile("x", std::nullopt, large); }, false},
        {"rename", [](const DriveAPI& api) { api.renameFile(8, "y"); }, true},
        {"folder update", [](const DriveAPI& api) { api.updateFolder(5, "B", std::nullopt); }, true},
        {"move", [](const DriveAPI& api) { api.move({3}, {}, 9); }, true},
        {"trash", [](const DriveAPI& api) { api.trash({3}, {}); }, true},
    };
    for (const auto& [name, request, repeated] : cases) {
        SCOPED_TRACE(name);
        const auto& call = request;  // clang lets no lambda capture a structured binding
        ApiFixture f;
        f.transport->enqueueError(DriveError::transport("connexion coupée"));
        f.transport->enqueue(200, R"({"id": 31})");
        if (repeated) {
            call(f.api);
        } else {
            EXPECT_EQ(driveErrorOf([&] { call(f.api); }), DriveError::transport("connexion coupée"));
        }
        EXPECT_EQ(f.requests().size(), repeated ? 2u : 1u);
    }
}

TEST(DriveAPIUploads, UnreadableLocalFilesFailBeforeAnythingIsSent) {
    const LocalContent small{"/nonexistent/x", 3, "h", "text/plain"};
    const LocalContent large{"/nonexistent/x", DriveAPI::directUploadLimit + 1, "h", "text/plain"};
    UploadFixture f;
    EXPECT_THROW(f.api.createFile("x", std::nullopt, small), std::system_error);
    EXPECT_THROW(f.api.replaceContent(sampleDriveFile(), small, {}), std::system_error);
    EXPECT_TRUE(f.requests().empty());

    // In parts the server upload is open already when the file is found
    // missing: it is aborted.
    EXPECT_THROW(f.api.createFile("x", std::nullopt, large), std::filesystem::filesystem_error);
    EXPECT_EQ(paths(f), (std::vector<std::string>{"/drive/upload/multipart/init",
                                                  "/drive/upload/multipart/abort"}));
}

}  // namespace
}  // namespace cadrio
