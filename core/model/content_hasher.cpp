#include "core/model/content_hasher.hpp"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <span>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "core/support/hexadecimal.hpp"

namespace cadrio::ContentHasher {
namespace {

struct DigestContextDeleter {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using DigestContext = std::unique_ptr<EVP_MD_CTX, DigestContextDeleter>;

/// Closes on scope exit; an error on closing a file that was only read
/// changes nothing about the bytes already hashed, so it is ignored.
class ReadOnlyFile {
public:
    explicit ReadOnlyFile(const std::filesystem::path& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
        if (fd_ < 0) fail("cannot open the file to hash", path);
    }
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
    ~ReadOnlyFile() { ::close(fd_); }

    /// Bytes read into `buffer`, 0 at the end of the file.
    std::size_t read(std::vector<unsigned char>& buffer, const std::filesystem::path& path) const {
        for (;;) {
            const ssize_t count = ::read(fd_, buffer.data(), buffer.size());
            if (count >= 0) return static_cast<std::size_t>(count);
            if (errno != EINTR) fail("cannot read the file to hash", path);
        }
    }

private:
    [[noreturn]] static void fail(const char* what, const std::filesystem::path& path) {
        const std::error_code error(errno, std::generic_category());
        throw std::filesystem::filesystem_error(what, path, error);
    }

    int fd_;
};

void check(int result) {
    if (result != 1) throw std::runtime_error("SHA-256 computation failed");
}

}  // namespace

std::string sha256(const std::filesystem::path& url) {
    const ReadOnlyFile file(url);
    DigestContext context(EVP_MD_CTX_new());
    if (!context) throw std::runtime_error("SHA-256 computation failed");
    check(EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr));

    std::vector<unsigned char> block(kBlockSize);
    while (const std::size_t count = file.read(block, url)) {
        check(EVP_DigestUpdate(context.get(), block.data(), count));
    }

    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    check(EVP_DigestFinal_ex(context.get(), digest, &length));
    return hexadecimal(std::span<const unsigned char>(digest, length));
}

}  // namespace cadrio::ContentHasher
