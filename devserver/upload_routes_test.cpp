#include "devserver/dev_server_testing.hpp"
#include "devserver/digest.hpp"
#include "devserver/server_context.hpp"

#include <gtest/gtest.h>

namespace cadrio::devserver {
namespace {

class Uploads : public testing::DevServerTest {
protected:
    std::int64_t notesId() { return file("Notes.txt")["id"].get<std::int64_t>(); }
};

TEST_F(Uploads, TheFilePartCountsAgainstTheDirectLimitNotTheForm) {
    const std::string exact(static_cast<std::size_t>(kDirectUploadLimit), 'a');
    EXPECT_EQ(upload("exact.bin", exact).status, 200);
    const auto tooLarge = upload("over.bin", exact + "b");
    EXPECT_EQ(tooLarge.status, 413);
    EXPECT_EQ(tooLarge.json()["error"], "payload_too_large");
    EXPECT_EQ(replace(notesId(), exact + "b").status, 413);
}

TEST_F(Uploads, AnnouncedHashMustMatchTheBody) {
    const auto answer = upload("a.txt", "abc", 0, sha256Hex("abd"));
    EXPECT_EQ(answer.status, 400);
    EXPECT_EQ(answer.json()["error"], "content_hash_mismatch");
    EXPECT_THROW(file("a.txt"), std::runtime_error);
}

TEST_F(Uploads, MalformedFormsAreRefused) {
    auto c = client();
    EXPECT_EQ(testing::toAnswer(c.Post("/api/v1/drive/upload/file", auth(), "abc", "text/plain")).status, 400);
    const std::pair<httplib::MultipartFormDataItems, int> cases[] = {
        {{{"id_folder", "0", "", ""}}, 400},
        {{{"file", "a", "a.txt", "text/plain"}, {"file", "b", "b.txt", "text/plain"}}, 400},
        {{{"file", "a", "a.txt", "text/plain"}, {"id_folder", "x", "", ""}}, 400},
        {{{"file", "a", "a.txt", "text/plain"}, {"id_folder", "9999", "", ""}}, 404},
        {{{"file", "a", "../a.txt", "text/plain"}}, 400},
    };
    for (const auto& [form, status] : cases) {
        EXPECT_EQ(testing::toAnswer(c.Post("/api/v1/drive/upload/file", auth(), form)).status, status) << status;
    }
    EXPECT_EQ(testing::toAnswer(c.Post("/api/v1/drive/upload/file", cases[0].first)).status, 401);
}

TEST_F(Uploads, ADownloadInProgressKeepsTheVersionItStarted) {
    const auto id = notesId();
    const std::string original(4 << 20, 'o');
    ASSERT_EQ(replace(id, original).status, 200);
    const auto grant = get("/api/v1/drive/files/" + std::to_string(id) + "/download-url").json();
    std::string received;
    bool replaced = false;
    auto c = client();
    const auto result = c.Get(grant["url"].get<std::string>().substr(server_->baseURL().size()),
                              [&](const char* data, std::size_t size) {
                                  received.append(data, size);
                                  if (!replaced) {
                                      replaced = true;
                                      EXPECT_EQ(replace(id, "new").status, 200);
                                  }
                                  return true;
                              });
    ASSERT_TRUE(result);
    EXPECT_EQ(received, original);
    EXPECT_EQ(download(id), "new");
    EXPECT_EQ(fetch(grant["url"]).status, 404);  // the old object is gone
}

}  // namespace
}  // namespace cadrio::devserver
