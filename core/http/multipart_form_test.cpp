#include "core/http/multipart_form.hpp"

#include <gtest/gtest.h>

namespace cadrio {
namespace {

TEST(MultipartForm, BodiesByteForByte) {
    struct Case {
        const char* name;
        std::function<void(MultipartForm&)> build;
        std::string expected;
    };
    const Case cases[] = {
        {"a field, a file and the end",
         [](MultipartForm& f) {
             f.addField("a", "1");
             f.addFile("f", "x.txt", "text/plain", "hi");
             f.finalize();
         },
         "--B\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1\r\n"
         "--B\r\nContent-Disposition: form-data; name=\"f\"; filename=\"x.txt\"\r\n"
         "Content-Type: text/plain\r\n\r\nhi\r\n--B--\r\n"},
        {"empty value keeps its line end", [](MultipartForm& f) { f.addField("v", ""); },
         "--B\r\nContent-Disposition: form-data; name=\"v\"\r\n\r\n\r\n"},
        {"zero-byte file",
         [](MultipartForm& f) { f.addFile("file", "e", "application/octet-stream", ""); },
         "--B\r\nContent-Disposition: form-data; name=\"file\"; filename=\"e\"\r\n"
         "Content-Type: application/octet-stream\r\n\r\n\r\n"},
        {"non-ASCII file name as UTF-8", [](MultipartForm& f) { f.addFile("f", "é.txt", "t/p", "x"); },
         "--B\r\nContent-Disposition: form-data; name=\"f\"; filename=\"\xC3\xA9.txt\"\r\n"
         "Content-Type: t/p\r\n\r\nx\r\n"},
        {"quote and line breaks cannot forge headers",
         [](MultipartForm& f) { f.addFile("f", "a\"b\r\nX-Evil: 1", "t/p", ""); },
         "--B\r\nContent-Disposition: form-data; name=\"f\"; filename=\"a%22b%0D%0AX-Evil: 1\"\r\n"
         "Content-Type: t/p\r\n\r\n\r\n"},
        {"binary data unchanged", [](MultipartForm& f) { f.addFile("f", "b", "t/p", std::string("\0\r\n\xFF", 4)); },
         "--B\r\nContent-Disposition: form-data; name=\"f\"; filename=\"b\"\r\n"
         "Content-Type: t/p\r\n\r\n" + std::string("\0\r\n\xFF", 4) + "\r\n"},
    };
    for (const auto& c : cases) {
        MultipartForm form("B");
        c.build(form);
        EXPECT_EQ(form.body(), c.expected) << c.name;
    }
}

}  // namespace
}  // namespace cadrio
