#include "fileprovider/content_download.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <tuple>
#include <variant>

#include "core/http/testing/scripted_transport.hpp"
#include "core/support/cancellation.hpp"
#include "core/support/temporary_directory.hpp"

namespace cadrio {
namespace {

using testing::ScriptedTransport;
const std::string kURL = "https://storage.test/blob?sig=1";
const std::regex kUUID("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");

std::string contentsOf(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class ContentDownloadTest : public ::testing::Test {
protected:
    std::size_t filesLeft() const {
        return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(directory_.path()), {}));
    }

    std::shared_ptr<ScriptedTransport> transport_ = std::make_shared<ScriptedTransport>();
    std::shared_ptr<ApiClient> client_ = std::make_shared<ApiClient>(
        DriveConfiguration("https://drive.test/api/v1", 3, std::chrono::milliseconds(400), 25), transport_,
        std::make_shared<InMemorySessionStore>(DriveSession{"a@cadrio.test", "token", "pw"}),
        std::make_shared<InMemoryTrustedDeviceStore>());
    TemporaryDirectory directory_{"content-download"};
};

TEST_F(ContentDownloadTest, AnswersAndWhatTheyLeave) {
    const auto cutOff = [](const HttpRequest&, HttpStreamSink& sink, std::stop_token) -> HttpResponse {
        sink.onResponse(200, {{"Content-Length", "8"}});
        sink.onData("abcd");
        throw DriveError::transport("transfer closed with 4 bytes remaining to read");
    };
    struct Case {
        const char* name;
        std::function<void(ScriptedTransport&)> script;
        std::variant<std::string, DriveError> outcome;  // the bytes on disk, or the failure
    };
    const Case cases[] = {
        {"announced length", [](auto& t) { t.enqueue(200, "twelve bytes", {{"content-length", "12"}}); },
         std::string("twelve bytes")},
        {"empty body", [](auto& t) { t.enqueue(204, "", {{"Content-Length", "0"}}); }, std::string()},
        {"fewer bytes than announced", [](auto& t) { t.enqueue(200, "abc", {{"Content-Length", "5"}}); },
         DriveError::transport("téléchargement incomplet : 3 octets reçus sur 5")},
        {"body cut off", [&](auto& t) { t.enqueueStream(cutOff); },
         DriveError::transport("téléchargement incomplet : 4 octets reçus sur 8")},
        {"refused", [](auto& t) { t.enqueue(403, "<Error>AccessDenied</Error>"); }, DriveError::http(403, "stockage")},
    };
    for (const Case& c : cases) {
        c.script(*transport_);
        try {
            const DownloadedContent got = downloadContent(kURL, directory_.path(), *client_);
            ASSERT_TRUE(std::holds_alternative<std::string>(c.outcome)) << c.name << ": succeeded";
            const std::string& bytes = std::get<std::string>(c.outcome);
            EXPECT_EQ(got.bytes, static_cast<std::int64_t>(bytes.size())) << c.name;
            EXPECT_EQ(contentsOf(got.path), bytes) << c.name;
            EXPECT_EQ(got.path.parent_path(), directory_.path()) << c.name;
            EXPECT_TRUE(std::regex_match(got.path.filename().string(), kUUID)) << got.path;
            struct stat attributes {};
            ASSERT_EQ(::stat(got.path.c_str(), &attributes), 0);
            EXPECT_EQ(attributes.st_mode & 0777, 0600u) << c.name;
            std::filesystem::remove(got.path);
        } catch (const DriveError& error) {
            ASSERT_TRUE(std::holds_alternative<DriveError>(c.outcome)) << c.name << ": " << error.what();
            EXPECT_EQ(error, std::get<DriveError>(c.outcome)) << c.name << ": " << error.what();
        }
        EXPECT_EQ(filesLeft(), 0u) << c.name;
    }
    const HttpRequest sent = transport_->requests().at(0);
    EXPECT_EQ(std::tie(sent.method, sent.url, sent.redirects, sent.timeoutSeconds),
              std::make_tuple("GET", kURL, RedirectPolicy::httpsOnly, 25.0));
    EXPECT_TRUE(sent.headers.empty());  // the drive's token stays with the drive
}

TEST_F(ContentDownloadTest, StoppingMidTransferCancelsAndRemovesThePartialFile) {
    transport_->enqueue(200, std::string(64, 'x'), {{"Content-Length", "64"}});
    std::stop_source stop;
    std::int64_t lastReceived = 0;
    EXPECT_THROW(downloadContent(kURL, directory_.path(), *client_,
                                 [&](std::int64_t received, auto) {
                                     lastReceived = received;
                                     if (received > 0) stop.request_stop();
                                 },
                                 stop.get_token()),
                 CancellationError);
    EXPECT_EQ(lastReceived, static_cast<std::int64_t>(ScriptedTransport::streamChunkSize));
    EXPECT_EQ(filesLeft(), 0u);
}

TEST(AttachDownloadProgress, BytesDriveAllOfTheParentsUnits) {
    const auto parent = fileprovider::Progress::create(100);
    const DownloadProgress report = attachDownloadProgress(*parent);
    report(50, std::nullopt);
    EXPECT_EQ(parent->fractionCompleted(), 0.0);  // unknown total: nothing to show yet
    report(50, 200);
    EXPECT_EQ(parent->fractionCompleted(), 0.25);
    report(200, 200);
    EXPECT_EQ(parent->completedUnitCount(), 100);
    EXPECT_TRUE(parent->isFinished());
}

}  // namespace
}  // namespace cadrio
