#include "core/model/content_hasher.hpp"

#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "core/support/hexadecimal.hpp"
#include "core/support/temporary_directory.hpp"

namespace cadrio {
namespace {

namespace fs = std::filesystem;

std::string oneShotSHA256(const std::string& bytes) {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), digest);
    return hexadecimal(std::span<const unsigned char>(digest));
}

std::string randomBytes(std::size_t count) {
    std::mt19937 generator(42);
    std::string bytes(count, '\0');
    for (char& byte : bytes) byte = static_cast<char>(generator());
    return bytes;
}

// Sizes around the block boundary catch a lost, repeated or truncated block.
TEST(ContentHasher, MatchesAOneShotHashAcrossBlockBoundaries) {
    const TemporaryDirectory dir("hasher");
    constexpr std::size_t block = ContentHasher::kBlockSize;
    const std::string bytes = randomBytes(2 * block + 3);
    for (const std::size_t size : {block - 1, block, block + 1, 2 * block + 3}) {
        SCOPED_TRACE(size);
        const std::string content = bytes.substr(0, size);
        std::ofstream(dir / "file", std::ios::binary | std::ios::trunc) << content;
        EXPECT_EQ(ContentHasher::sha256(dir / "file"), oneShotSHA256(content));
    }
    std::ofstream(dir / "abc", std::ios::binary) << "abc";  // the hex form the drive compares
    EXPECT_EQ(ContentHasher::sha256(dir / "abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(ContentHasher, UnreadableFilesThrowTheFileError) {
    const TemporaryDirectory dir("hasher");
    struct Case {
        const char* name;
        fs::path path;
        std::errc expected;
    };
    const std::vector<Case> cases = {
        {"missing", dir / "missing", std::errc::no_such_file_or_directory},
        {"folder", dir.path(), std::errc::is_a_directory},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            ContentHasher::sha256(c.path);
            ADD_FAILURE() << "no error";
        } catch (const fs::filesystem_error& error) {
            EXPECT_EQ(error.code(), std::make_error_code(c.expected));
            EXPECT_EQ(error.path1(), c.path);
        }
    }
}

}  // namespace
}  // namespace cadrio
