#include "devserver/dev_server_testing.hpp"
#include "devserver/digest.hpp"

#include <gtest/gtest.h>

namespace cadrio::devserver {
namespace {

using testing::Answer;
using testing::toAnswer;

struct Upload {
    std::string key;
    std::string id;
};

class Multipart : public testing::DevServerTest {
protected:
    Upload init(const std::string& name, std::int64_t size, std::int64_t folder = 0) {
        const auto answer = post("/api/v1/drive/upload/multipart/init",
                                 {{"file_name", name}, {"file_size", size}, {"id_folder", folder},
                                  {"content_type", "application/octet-stream"}, {"storage_class", "standard"}});
        EXPECT_EQ(answer.status, 200) << answer.body;
        return {answer.json()["s3_key"], answer.json()["upload_id"]};
    }
    std::string partURL(const Upload& upload, int number) {
        const auto answer = post("/api/v1/drive/upload/multipart/presign",
                                 {{"s3_key", upload.key}, {"upload_id", upload.id}, {"part_number", number}});
        EXPECT_EQ(answer.status, 200) << answer.body;
        return answer.json()["url"].get<std::string>().substr(server_->baseURL().size());
    }
    /// Uploads `content` in parts of `partSize` as the client does (no bearer
    /// token); returns the parts list.
    nlohmann::json sendParts(const Upload& upload, const std::string& content, std::size_t partSize) {
        nlohmann::json parts = nlohmann::json::array();
        for (std::size_t offset = 0, number = 1; offset < content.size(); offset += partSize, ++number) {
            const auto answer = toAnswer(client().Put(partURL(upload, static_cast<int>(number)),
                                                      content.substr(offset, partSize), "application/octet-stream"));
            EXPECT_EQ(answer.status, 200) << answer.body;
            parts.push_back({{"PartNumber", number}, {"ETag", answer.header("ETag")}});
        }
        return parts;
    }
    nlohmann::json completion(const Upload& upload, const nlohmann::json& parts, const std::string& content) {
        return {{"s3_key", upload.key},   {"upload_id", upload.id},
                {"parts", parts},         {"file_name", "gros.bin"},
                {"file_size", content.size()}, {"id_folder", 0},
                {"content_type", "application/octet-stream"}, {"storage_class", "standard"},
                {"content_hash", sha256Hex(content)}};
    }
    Answer complete(const nlohmann::json& body) { return post("/api/v1/drive/upload/multipart/complete", body); }

    static std::string pattern(std::size_t size) {
        std::string bytes(size, '\0');
        for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7919) >> 3);
        return bytes;
    }
};

TEST_F(Multipart, CompletionChecksPartsSizeAndHash) {
    const auto content = pattern(250000);
    const auto upload = init("gros.bin", static_cast<std::int64_t>(content.size()));
    const auto parts = sendParts(upload, content, 100000);
    const auto with = [&](const std::function<void(nlohmann::json&)>& edit) {
        auto body = completion(upload, parts, content);
        edit(body);
        return body;
    };
    struct Case {
        const char* what;
        nlohmann::json body;
        int status;
    };
    const std::vector<Case> cases = {
        {"wrong etag", with([](auto& b) { b["parts"][1]["ETag"] = "\"0\""; }), 400},
        {"descending", with([](auto& b) { std::swap(b["parts"][0], b["parts"][1]); }), 400},
        {"missing part", with([](auto& b) { b["parts"].erase(1); }), 400},
        {"unknown part", with([](auto& b) { b["parts"][2]["PartNumber"] = 9; }), 400},
        {"size", with([](auto& b) { b["file_size"] = 249999; }), 400},
        {"hash", with([](auto& b) { b["content_hash"] = sha256Hex("other"); }), 400},
        {"parts not a list", with([](auto& b) { b["parts"] = "1"; }), 400},
        {"other upload id", with([](auto& b) { b["upload_id"] = std::string(32, '0'); }), 404},
        {"other key", with([](auto& b) { b["s3_key"] = "objects/" + std::string(32, '0'); }), 404},
    };
    for (const auto& testCase : cases) {
        EXPECT_EQ(complete(testCase.body).status, testCase.status) << testCase.what;
    }
    // None of the refusals used the upload up.
    EXPECT_EQ(complete(completion(upload, parts, content)).status, 200);
}

TEST_F(Multipart, PartUrlsAreBoundToTheirUploadPartAndMethod) {
    const auto upload = init("gros.bin", 10);
    const auto url = partURL(upload, 1);
    auto other = url;
    other.replace(other.find("/1?"), 3, "/2?");
    EXPECT_EQ(toAnswer(client().Put(other, "x", "application/octet-stream")).status, 403);
    EXPECT_EQ(toAnswer(client().Get(url)).status, 404);  // no GET route for parts
    // Part numbers stop at 10,000.
    const auto small = init("petit.bin", 1);
    EXPECT_EQ(post("/api/v1/drive/upload/multipart/presign",
                   {{"s3_key", small.key}, {"upload_id", small.id}, {"part_number", 10001}}).status, 400);
    clock_.advance(std::chrono::seconds(3601));
    EXPECT_EQ(toAnswer(client().Put(url, "0123456789", "application/octet-stream")).status, 403);
}

TEST_F(Multipart, InitRefusesWhatCouldNeverComplete) {
    const auto refuse = [&](const nlohmann::json& body) { return post("/api/v1/drive/upload/multipart/init", body).status; };
    EXPECT_EQ(refuse({{"file_name", "a"}, {"file_size", 20LL << 30}}), 507);
    EXPECT_EQ(refuse({{"file_name", "a"}, {"file_size", 1}, {"id_folder", 4242}}), 404);
    EXPECT_EQ(refuse({{"file_name", "a"}, {"file_size", 1}, {"storage_class", "glacier"}}), 400);
    EXPECT_EQ(refuse({{"file_name", ""}, {"file_size", 1}}), 400);
    EXPECT_EQ(refuse({{"file_size", 1}}), 400);
}

}  // namespace
}  // namespace cadrio::devserver
